#!/usr/bin/env python3
"""Acceptance walk of the real Quellin.exe, driven from outside like a user.

Started by acceptance.sh, which has Xvfb, the Wine prefix and a wineserver
ready and exported (DISPLAY, WINEPREFIX, ...). Quellin.exe runs as a user
starts it; every click and key press is a real X input event (xdotool) at the
screen position of the control, and what the window shows is read from
another process by the probe (quellin_probe.exe). Each state is checked and
saved as a PNG screenshot.

Walk: start state; Open dialog, Start, digest against md5sum; Copy and the
clipboard; the digest compared with another program's clipboard (a match, a
difference, no value); minimise into the tray and restore by clicking the tray icon
(twice); the system menu's About entry and the About box; a dropped folder
checked in the expanded list, a cut path shown whole in a tip under the
pointer, and the list copied with and without paths; exit with Alt+F4.

Exit status 0 when every check held, 1 on the first failure (with what
differed, a screenshot and the windows as the probe saw them), 2 on a usage
or environment error.
"""
import argparse
import fcntl
import glob
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

WINE = "/usr/lib/wine/wine64"

# Texts the program shows (decoded from its code page 936).
MAIN_CAPTION = "Quellin V1.0.1.2版"
IDLE = "空闲！"
READY = "准备就绪,请点击开始校验."
DONE = "全文MD5值校验完毕."
COPY, COPY_MARKED = "复制", "复制*"
ONE_FOLDER = "一个文件夹"
LIST_TAKEN = "获取文件及文件夹路径完毕."
LIST_DONE = "全部文件全文MD5校验完成."
LIST_HINT = "点击复制全部文件MD5校验值"
CLIP_MATCH = "与剪贴板中的MD5值一致."
CLIP_DIFFER = "与剪贴板中的MD5值不一致!"
NOTICE = "提示信息"
ABOUT_CAPTION = "关于 Quellin"

# Control IDs of the main window.
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
IDC_PATH, IDC_MD5, IDC_OPEN, IDC_COPY = 1000, 1001, 1002, 1003
IDC_FILELIST, IDC_STATUS, IDC_STAGE, IDC_STOP, IDC_TOPMOST = 1005, 1006, 1007, 1008, 1009
IDC_LISTSTATUS, IDC_LISTCOUNT = 1104, 1105
IDC_MAILLINK, IDC_WEBLINK = 1107, 1108
OPEN_FILE_NAME = 0x47C  # the Open dialog's file-name box
EXPAND = 252  # extra height of the expanded layout, in pixels

TRAY_ICON_CLASS = "__winex11_tray_icon"


class Failure(Exception):
    pass


def log(msg):
    print("[accept] " + msg, flush=True)


def expect(cond, what):
    if not cond:
        raise Failure(what)


def win_path(path):
    """A Unix path as Wine shows it on drive Z:."""
    return "Z:" + path.replace("/", "\\")


# ---------------------------------------------------------------- probe output

def parse_fields(line):
    fields = {}
    head, sep, text = line.partition(" text=")
    for part in head.split()[1:]:
        key, _, value = part.partition("=")
        fields[key] = value
    if sep:
        fields["text"] = bytes.fromhex(text.strip()).decode("gbk", errors="replace")
    for key in ("vis", "en", "iconic", "topmost", "check", "id", "main", "mine"):
        if key in fields:
            fields[key] = int(fields[key])
    for key in ("rect", "client"):
        if key in fields:
            fields[key] = tuple(int(v) for v in fields[key].split(","))
    return fields


class Snapshot:
    """Every top-level window, and the children of the program's windows and
    of the tray windows, as one probe run saw them."""

    def __init__(self, lines):
        self.main_hwnd = None
        self.tops = []
        by_hwnd = {}
        for line in lines:
            if line.startswith("M "):
                f = parse_fields(line)
                self.main_hwnd = None if int(f["hwnd"], 16) == 0 else f["hwnd"]
            elif line.startswith("W "):
                f = parse_fields(line)
                f["children"] = []
                self.tops.append(f)
                by_hwnd[f["hwnd"]] = f
            elif line.startswith("C "):
                f = parse_fields(line)
                if f["top"] in by_hwnd:
                    by_hwnd[f["top"]]["children"].append(f)

    @property
    def main(self):
        for w in self.tops:
            if w["main"]:
                return w
        return None

    def ctrl(self, ident, top=None):
        top = top or self.main
        if top is None:
            return None
        for c in top["children"]:
            if c["id"] == ident and c["parent"] == top["hwnd"]:
                return c
        return None

    def text(self, ident, top=None):
        c = self.ctrl(ident, top)
        return None if c is None else c["text"]

    def owned(self, cls="#32770"):
        """Visible windows of the program owned by the main window."""
        main = self.main
        if main is None:
            return []
        return [w for w in self.tops
                if w["mine"] and w["vis"] and w["class"] == cls and w["owner"] == main["hwnd"]]

    def tray_icons(self):
        icons = []
        for w in self.tops:
            if w["vis"]:
                icons += [c for c in w["children"] if c["class"] == TRAY_ICON_CLASS and c["vis"]]
        return icons

    def describe(self):
        out = []
        for w in self.tops:
            if not (w["mine"] or w["vis"]):
                continue
            out.append("  window %s class=%s vis=%d iconic=%d en=%d rect=%s text=%r" % (
                w["hwnd"], w["class"], w["vis"], w["iconic"], w["en"], w["rect"], w["text"]))
            for c in w["children"]:
                if c["text"] or c["class"] in ("Button", "Edit", TRAY_ICON_CLASS):
                    out.append("    id=%d class=%s vis=%d en=%d%s rect=%s text=%r" % (
                        c["id"], c["class"], c["vis"], c["en"],
                        " check=%d" % c["check"] if "check" in c else "", c["rect"], c["text"]))
        return "\n".join(out)


def centre(rect):
    return (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2


# ---------------------------------------------------------------- the driver

class Driver:
    def __init__(self, args):
        self.args = args
        self.shots = args.shots
        self.last = None  # the latest snapshot, shown on failure
        self.proc = None
        self.timings = []
        self.display = os.environ["DISPLAY"]
        self.captions = {}  # (window, rectangle) -> points of its caption buttons

    # -- outside tools, each with a time limit

    def run(self, cmd, limit=20, check=True):
        try:
            r = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=limit)
        except subprocess.TimeoutExpired:
            raise Failure("%s did not finish within %d s" % (cmd[0], limit))
        if check and r.returncode != 0:
            raise Failure("%s exited with %d: %s" % (" ".join(cmd), r.returncode,
                                                     r.stderr.decode(errors="replace").strip()))
        return r

    def probe(self, *args, ok_codes=(0,)):
        # An exit code that is not one of the probe's own (0, 2, 3, 4) means
        # Wine did not run it to its end; on a loaded machine one tray probe
        # once ended with 1 and said nothing. Such a probe is run again after
        # a pause; a drop is not, as it may have been posted already.
        for attempt in range(3):
            if attempt:
                log("  probe %s exited with %d (%s), running it again" % (
                    " ".join(args), r.returncode, r.stderr.decode(errors="replace").strip()))
                time.sleep(0.5 * attempt)
            r = self.run([WINE, self.args.probe] + list(args), check=False)
            if r.returncode in (0, 2, 3, 4) or args[0] == "drop":
                break
        if r.returncode not in ok_codes:
            raise Failure("probe %s exited with %d: %s" % (
                " ".join(args), r.returncode, r.stderr.decode(errors="replace").strip()))
        return r.stdout.decode("ascii", errors="replace").replace("\r", "").splitlines()

    def snap(self):
        self.last = Snapshot(self.probe("windows", ok_codes=(0, 3)))
        return self.last

    def xdo(self, *args):
        self.run(["xdotool"] + [str(a) for a in args], limit=10)

    def click_at(self, x, y, expect_hwnd=None, expect_top=None, what="target"):
        """A real left click at a screen point, after making sure that the
        point shows what the click is meant for."""
        if expect_hwnd or expect_top:
            at = parse_fields(self.probe("at", str(x), str(y))[0])
            expect((expect_hwnd is None or at["hwnd"] == expect_hwnd)
                   and (expect_top is None or at["top"] == expect_top),
                   "the point %d,%d for %s shows window %s (class %s, id %d), not %s" % (
                       x, y, what, at["hwnd"], at["class"], at["id"], expect_hwnd or expect_top))
        self.xdo("mousemove", x, y)
        time.sleep(0.05)
        self.xdo("click", 1)

    def click_ctrl(self, ident, top=None, what=None):
        snap = self.snap()
        if top is not None:  # the same window as the snapshot sees it now
            top = next((w for w in snap.tops if w["hwnd"] == top["hwnd"]), None)
            expect(top is not None, "the window for control %d has gone" % ident)
        else:
            top = snap.main
        c = snap.ctrl(ident, top)
        expect(c is not None, "no control %d in window %r" % (ident, top and top["text"]))
        expect(c["vis"] and c["en"], "control %d (%r) is not visible and enabled" % (ident, c["text"]))
        x, y = centre(c["rect"])
        # The window system's own answer names group boxes as well, so only the
        # top-level window there is compared: nothing else may cover the spot.
        self.click_at(x, y, expect_top=top["hwnd"], what=what or c["text"])

    def key(self, *keys):
        self.xdo("key", "--clearmodifiers", *keys)

    def focus_at(self, x, y):
        """Gives the X keyboard focus to the top-level window at a screen point.
        With no window manager the X focus stays where the last focus change put
        it, whichever window Wine has activated since: a click on the tray icon
        can leave it on the tray window, and keys would go there."""
        self.xdo("mousemove", x, y)
        loc = self.run(["xdotool", "getmouselocation", "--shell"], limit=10).stdout.decode()
        window = dict(l.split("=", 1) for l in loc.split() if "=" in l).get("WINDOW")
        expect(window, "no window under the point %d,%d (%s)" % (x, y, loc.strip()))
        self.xdo("windowfocus", "--sync", window)

    def wait(self, what, pred, limit=15.0, interval=0.1):
        """Polls the windows until pred(snapshot) gives a true value."""
        end = time.monotonic() + limit
        while True:
            snap = self.snap()
            value = pred(snap)
            if value:
                return value
            if time.monotonic() > end:
                raise Failure("timed out after %.0f s waiting for %s" % (limit, what))
            time.sleep(interval)

    def shot(self, name, rect=None):
        """Saves the screen area of rect (left, top, right, bottom), or the
        whole screen, as name.png."""
        path = os.path.join(self.shots, name + ".png")
        cmd = ["import", "-display", self.display, "-window", "root", "-strip"]
        if rect:
            left, top = max(rect[0], 0), max(rect[1], 0)
            cmd += ["-crop", "%dx%d+%d+%d" % (rect[2] - left, rect[3] - top, left, top), "+repage"]
        self.run(cmd + [path], limit=30)
        log("  screenshot %s" % path)

    def caption(self, win, part):
        """Screen point of a part of a window's caption (min, close, caption)."""
        key = (win["hwnd"], win["rect"])
        if key not in self.captions:
            self.captions[key] = parse_fields(self.probe("caption", win["hwnd"])[0])
        hits = self.captions[key]
        expect(part in hits, "no %s found in the caption of %r (%s)" % (part, win["text"], hits))
        return tuple(int(v) for v in hits[part].split(","))

    def clipboard(self):
        line = self.probe("clip")[0]
        expect(line.startswith("CLIP size="), "the clipboard holds no CF_TEXT (%s)" % line)
        head, _, hexed = line.partition(" hex=")
        return bytes.fromhex(hexed.strip()), int(head.split("size=")[1])

    # -- checks shared by the steps

    def expect_texts(self, snap, texts, top=None):
        for ident, want in texts.items():
            got = snap.text(ident, top)
            expect(got == want, "control %d shows %r, expected %r" % (ident, got, want))

    def expect_enabled(self, snap, states):
        for ident, want in states.items():
            c = snap.ctrl(ident)
            expect(c is not None and bool(c["en"]) == want,
                   "control %d (%r) is %s, expected %s" % (
                       ident, c and c["text"], "enabled" if c and c["en"] else "disabled",
                       "enabled" if want else "disabled"))

    # -- the walk

    def start(self):
        limit = str(self.args.limit)
        # Started in the data folder, which the Open dialog then shows.
        self.proc = subprocess.Popen(
            ["timeout", "-k", "5", limit, WINE, self.args.exe],
            cwd=self.args.data, stdin=subprocess.DEVNULL, stdout=self.args.log, stderr=subprocess.STDOUT)

        def shown(s):
            rc = self.proc.poll()
            expect(rc is None, "the program ended (exit code %s) without showing its window" % rc)
            m = s.main
            return m if m and m["vis"] and s.ctrl(IDC_STATUS) else None

        m = self.wait("the main window to appear", shown, limit=60)
        self.compact_rect = m["rect"]
        snap = self.last
        expect(m["text"] == MAIN_CAPTION, "caption %r, expected %r" % (m["text"], MAIN_CAPTION))
        expect(not m["iconic"], "the window starts minimised")
        expect(m["topmost"] == 1, "the window does not start top-most")
        self.expect_texts(snap, {IDC_STATUS: IDLE, IDC_STAGE: "0/3", IDC_PATH: "", IDC_MD5: "",
                                 IDC_COPY: COPY})
        self.expect_enabled(snap, {IDOK: True, IDCANCEL: True, IDC_OPEN: True, IDC_COPY: False,
                                   IDC_STOP: False})
        expect(snap.ctrl(IDC_TOPMOST)["check"] == 1, "box 1009 (always on top) is not checked")
        # Compact: the list panel lies below the visible client area.
        lst = snap.ctrl(IDC_FILELIST)
        expect(lst is not None and lst["rect"][1] >= m["client"][3],
               "the list is visible in the compact layout (list top %s, client bottom %d)" % (
                   lst and lst["rect"][1], m["client"][3]))
        self.shot("01-start", m["rect"])

    def open_file(self):
        self.click_ctrl(IDC_OPEN)

        def open_dialog(s):
            for w in s.owned():
                name = s.ctrl(OPEN_FILE_NAME, w)
                if name:
                    # The inner edit box of the combo box carries the same ID.
                    edits = [c for c in w["children"]
                             if c["id"] == OPEN_FILE_NAME and c["class"] == "Edit" and c["vis"]]
                    if edits:
                        return w, edits[0]
            return None

        dlg, edit = self.wait("the Open dialog", open_dialog, limit=15)
        expect(not self.last.main["en"], "the main window is not disabled under the Open dialog")
        self.shot("02-open-dialog", dlg["rect"])
        path = win_path(self.args.sample)
        for attempt in range(3):
            x, y = centre(edit["rect"])
            self.click_at(x, y, expect_top=dlg["hwnd"], what="the file-name box")
            self.focus_at(x, y)
            self.key("ctrl+a", "BackSpace")
            self.xdo("type", "--delay", 15, "--", path)
            typed = self.wait("the typed name", lambda s: [
                c for w in s.tops if w["hwnd"] == dlg["hwnd"] for c in w["children"]
                if c["hwnd"] == edit["hwnd"]], limit=5)[0]["text"]
            if typed == path:
                break
            log("  typed name reads %r, typing again" % typed)
        else:
            raise Failure("the file-name box does not take the typed path %r" % path)
        self.key("Return")
        self.wait("the Open dialog to close and the path to arrive",
                  lambda s: s.main and s.main["en"] and not s.owned() and s.text(IDC_PATH) == path,
                  limit=15)
        snap = self.last
        self.expect_texts(snap, {IDC_PATH: path, IDC_MD5: "", IDC_STATUS: READY, IDC_STAGE: "0/3",
                                 IDC_COPY: COPY})
        self.expect_enabled(snap, {IDOK: True, IDC_COPY: False, IDC_STOP: False})
        expect(snap.main["rect"] == self.compact_rect, "the window left the compact layout: %s" % (
            snap.main["rect"],))

    def check_file(self):
        self.click_ctrl(IDOK)
        snap = self.wait("the digest", lambda s: s.text(IDC_STAGE) == "3/3" and s.ctrl(IDOK)["en"]
                         and s.text(IDC_MD5) and s, limit=30)
        want = hashlib.md5(open(self.args.sample, "rb").read()).hexdigest()
        md5sum = self.run(["md5sum", self.args.sample]).stdout.decode().split()[0]
        expect(want == md5sum, "hashlib and md5sum disagree")
        self.expect_texts(snap, {IDC_MD5: md5sum, IDC_STATUS: DONE, IDC_COPY: COPY_MARKED})
        self.expect_enabled(snap, {IDOK: True, IDC_OPEN: True, IDC_COPY: True, IDC_STOP: False})
        self.shot("03-digest", snap.main["rect"])
        self.digest = md5sum

    def copy(self):
        self.click_ctrl(IDC_COPY)
        self.wait("Copy to take its caption back", lambda s: s.text(IDC_COPY) == COPY, limit=10)
        raw, block = self.clipboard()
        want = (self.digest + " " + os.path.basename(self.args.sample)).encode("gbk")
        expect(raw == want, "clipboard holds %r, expected %r" % (raw, want))
        expect(block >= len(want) + 1, "clipboard block of %d bytes has no room for the end zero" % block)
        snap = self.last
        self.expect_texts(snap, {IDC_MD5: self.digest, IDC_PATH: win_path(self.args.sample)})
        self.expect_enabled(snap, {IDC_COPY: True})
        self.shot("04-copied", snap.main["rect"])

    def put_clipboard(self, text):
        line = self.probe("put", text.encode("utf-8").hex())[0]
        expect(line == "PUT ok", "the probe could not put text on the clipboard (%s)" % line)

    def clipboard_check(self):
        """Another program copies the file's line in md5sum's form: the
        window says it matches; then another digest for it: it differs; then
        text with no value: the window is as after the run."""
        name = os.path.basename(self.args.sample)
        other = "".join("%x" % (15 - int(c, 16)) for c in self.digest)
        for digest, status, picture in ((self.digest, CLIP_MATCH, "11-match"),
                                        (other, CLIP_DIFFER, "12-difference")):
            self.put_clipboard("%s  %s\n" % (digest, name))
            snap = self.wait("the status %r" % status, lambda s: s.text(IDC_STATUS) == status and s, limit=10)
            self.expect_texts(snap, {IDC_MD5: self.digest, IDC_COPY: COPY})
            time.sleep(0.3)  # the digest box repaints in its colour
            self.shot(picture, snap.main["rect"])
        self.put_clipboard("")
        snap = self.wait("the closing status again", lambda s: s.text(IDC_STATUS) == DONE and s, limit=10)
        self.expect_texts(snap, {IDC_MD5: self.digest, IDC_COPY: COPY})

    def minimise(self, cycle):
        before = self.snap()
        main = before.main
        icons_before = {c["hwnd"] for c in before.tray_icons()}
        x, y = self.caption(main, "min")
        self.click_at(x, y, expect_top=main["hwnd"], what="the minimise button")
        snap = self.wait("the window to hide into the tray",
                         lambda s: s.main and not s.main["vis"] and s.main["iconic"] and s, limit=10)
        # The shell's icon: new at the first minimise, the same one later.
        icons = self.wait("the tray icon", lambda s: s.tray_icons() or None, limit=10)
        new = [c for c in icons if c["hwnd"] not in icons_before]
        if cycle == 0:
            expect(len(new) == 1, "the first minimise added %d tray icons" % len(new))
            self.icon = new[0]["hwnd"]
        else:
            expect(not new, "minimising again added %d more tray icons" % len(new))
        expect(any(c["hwnd"] == self.icon for c in icons), "the program's tray icon is gone")
        present = self.probe("tray")[0]
        expect(present == "TRAY present=1", "the shell has no icon 128 of the window (%s)" % present)
        return snap

    def restore(self):
        snap = self.snap()
        icon = [c for c in snap.tray_icons() if c["hwnd"] == self.icon][0]
        x, y = centre(icon["rect"])
        self.click_at(x, y, expect_hwnd=self.icon, what="the tray icon")
        m = self.wait("the window to come back",
                      lambda s: s.main and s.main["vis"] and not s.main["iconic"] and s.main, limit=10)
        expect(m["rect"] == self.compact_rect, "restored at %s, was %s" % (m["rect"], self.compact_rect))
        present = self.probe("tray")[0]
        expect(present == "TRAY present=1", "restoring removed the tray icon (%s)" % present)
        self.expect_texts(self.last, {IDC_MD5: self.digest, IDC_COPY: COPY})

    def tray(self):
        self.minimise(0)
        trays = [w for w in self.last.tops if w["vis"] and any(
            c["hwnd"] == self.icon for c in w["children"])]
        self.shot("05-tray", trays[0]["rect"])
        self.restore()
        self.shot("06-restored", self.last.main["rect"])
        # Once more: still one icon, and the window hides again.
        self.minimise(1)
        self.restore()

    def about(self):
        main = self.snap().main
        # A click on the caption makes the window the one that gets the keys.
        x, y = self.caption(main, "caption")
        self.click_at(x, y, expect_top=main["hwnd"], what="the caption")

        def menu(s):
            ms = [w for w in s.tops if w["mine"] and w["vis"] and w["class"] == "#32768"]
            return ms[0] if ms else None

        for attempt in range(3):
            self.focus_at(x, y)
            self.key("alt+space")
            try:
                m = self.wait("the system menu", menu, limit=4)
                break
            except Failure:
                log("  no system menu after Alt+Space, once more")
        else:
            raise Failure("Alt+Space opens no system menu")
        # The About entry is the menu's last: Up from the first entry wraps to
        # it. (Its access key A is shared with Wine's own About entry, which
        # comes first, so the key alone would open that one.)
        self.key("Up")
        time.sleep(0.3)
        r = m["rect"]
        mr = main["rect"]
        self.shot("07-system-menu", (min(r[0], mr[0]), min(r[1], mr[1]), max(r[2], mr[2]),
                                     max(r[3], mr[3])))
        self.key("Return")
        box = self.wait("the About box", lambda s: [w for w in s.owned() if w["text"] != MAIN_CAPTION
                                                    and not menu(s)] or None, limit=10)[0]
        expect(box["text"] == ABOUT_CAPTION, "the last system-menu entry opened %r, expected %r" % (
            box["text"], ABOUT_CAPTION))
        expect(not self.last.main["en"], "the main window is not disabled under the About box")
        texts = [c["text"] for c in box["children"]]
        for want in ("软件名称：Quellin", "软件版本：V1.0.1.2版", "编写日期：2008年04月20日",
                     "联系邮箱：", "网站地址："):
            expect(want in texts, "the About box lacks %r (has %r)" % (want, texts))
        for ident in (IDC_MAILLINK, IDC_WEBLINK):
            link = self.last.ctrl(ident, box)
            expect(link is not None and link["vis"] and link["text"], "About box link %d missing" % ident)
        time.sleep(0.2)
        self.shot("08-about", box["rect"])
        self.click_ctrl(IDOK, top=box, what="the About box's OK")
        self.wait("the About box to close", lambda s: s.main["en"] and not s.owned(), limit=10)

    def list_run(self):
        folder = win_path(self.args.tree)
        posted = self.probe("drop", folder)[0]
        expect(posted == "DROP posted=1", "the drop did not reach the window (%s)" % posted)
        snap = self.wait("the dropped folder in the list",
                         lambda s: s.text(IDC_LISTSTATUS) == LIST_TAKEN and s, limit=10)
        self.expect_texts(snap, {IDC_PATH: ONE_FOLDER, IDC_LISTCOUNT: "1/1", IDC_STATUS: READY,
                                 IDC_STAGE: "0/3", IDC_MD5: "", IDC_COPY: COPY})
        r, c = snap.main["rect"], self.compact_rect
        expect(r[:3] == c[:3] and r[3] == c[3] + EXPAND,
               "expanded window at %s, expected %s made %d pixels taller" % (r, c, EXPAND))
        lst = snap.ctrl(IDC_FILELIST)
        expect(lst["rect"][3] <= snap.main["client"][3], "the list is not inside the expanded window")
        self.click_ctrl(IDOK)
        files = self.args.tree_files
        count = "%d/%d" % (len(files), len(files))
        snap = self.wait("the list run to finish",
                         lambda s: s.text(IDC_LISTSTATUS) == LIST_DONE and s.ctrl(IDOK)["en"] and s,
                         limit=60)
        self.expect_texts(snap, {IDC_LISTCOUNT: count, IDC_MD5: LIST_HINT, IDC_COPY: COPY_MARKED})
        self.shot("09-list", snap.main["rect"])
        self.list_tip(snap, files)

        digests = {}
        for rel in files:
            full = os.path.join(self.args.tree, rel)
            digests[win_path(full)] = self.run(["md5sum", full]).stdout.decode().split()[0]
        for answer, name in ((IDYES, "full paths"), (IDNO, "names only")):
            self.click_ctrl(IDC_COPY)
            box = self.wait("the question of Copy", lambda s: s.owned() or None, limit=10)[0]
            expect(box["text"] == NOTICE, "question box caption %r" % box["text"])
            if answer == IDYES:
                self.shot("10-copy-question", box["rect"])
            self.click_ctrl(answer, top=box)
            self.wait("the question to close", lambda s: s.main["en"] and not s.owned(), limit=10)
            want = sorted("%s %s\r\n" % (d, p if answer == IDYES else p.rsplit("\\", 1)[1])
                          for p, d in digests.items())
            # The handler goes on copying once the box is gone: wait for the
            # text. Rows follow the order in which the folder walk found the
            # files; every line, the last one too, ends with CR LF.
            end = time.monotonic() + 10
            while True:
                text = self.clipboard()[0].decode("gbk", errors="replace")
                lines = text.split("\r\n")
                if sorted(line + "\r\n" for line in lines[:-1]) == want and lines[-1] == "":
                    break
                expect(time.monotonic() < end, "list copy (%s) holds %r, expected the lines %r" % (
                    name, text, want))
                time.sleep(0.2)
            self.expect_texts(self.snap(), {IDC_COPY: COPY})

    def list_tip(self, snap, files):
        """The path column is narrow: with the pointer resting on the first
        row's path, a tip shows it whole; moved away, the tip goes."""
        lst = snap.ctrl(IDC_FILELIST)["rect"]
        # The first row, below the header (about 20 pixels), in column 0.
        x, y = lst[0] + 60, lst[1] + 28
        expect(parse_fields(self.probe("at", str(x), str(y))[0])["top"] == snap.main["hwnd"],
               "the point %d,%d for the list is not on the window" % (x, y))
        self.xdo("mousemove", x - 2, y)
        self.xdo("mousemove", x, y)
        paths = {win_path(os.path.join(self.args.tree, rel)) for rel in files}

        def tip(s):
            tips = [w for w in s.tops if w["mine"] and w["vis"] and w["class"] == "tooltips_class32"]
            return tips[0] if tips and tips[0]["text"] in paths else None
        shown = self.wait("a tip with the first row's whole path", tip, limit=10)
        r, t = snap.main["rect"], shown["rect"]
        self.shot("09b-list-tip", (min(r[0], t[0]), min(r[1], t[1]), max(r[2], t[2]), max(r[3], t[3])))
        caption = snap.main["rect"]
        self.xdo("mousemove", caption[0] + 60, caption[1] + 8)
        self.wait("the tip to go", lambda s: not any(
            w["mine"] and w["vis"] and w["class"] == "tooltips_class32" for w in s.tops) and s, limit=10)

    def exit(self):
        # Alt+F4, as a keyboard user leaves: a real key press on the window
        # that has the keys (a click on the caption gives it them).
        main = self.snap().main
        x, y = self.caption(main, "caption")
        self.click_at(x, y, expect_top=main["hwnd"], what="the caption")
        self.focus_at(x, y)
        self.key("alt+F4")
        try:
            rc = self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end within 15 s of Alt+F4")
        expect(rc == 0, "the program ended with exit code %d" % rc)
        snap = self.snap()
        expect(snap.main is None, "the main window is still there")
        expect(all(c["hwnd"] != self.icon for c in snap.tray_icons()), "the tray icon outlived the program")

    def stop(self):
        """Ends the program if it is still running (after a failure)."""
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()  # timeout passes it on to Wine
            try:
                self.proc.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)

    def walk(self):
        steps = [
            ("start state", self.start),
            ("open a file", self.open_file),
            ("start and digest", self.check_file),
            ("copy", self.copy),
            ("clipboard check", self.clipboard_check),
            ("tray", self.tray),
            ("about box", self.about),
            ("list run", self.list_run),
            ("exit", self.exit),
        ]
        t0 = time.monotonic()
        for name, step in steps:
            t = time.monotonic()
            log("step: %s" % name)
            try:
                try:
                    step()
                except Failure:
                    raise
                except Exception as e:  # a window that vanished between two looks, ...
                    raise Failure("unexpected %s: %s\n%s" % (type(e).__name__, e, traceback.format_exc()))
            except Failure as e:
                log("FAILED in step '%s': %s" % (name, e))
                if self.last is not None:
                    log("windows as last seen:\n" + self.last.describe())
                try:
                    self.shot("failed")
                except Failure:
                    pass
                self.args.log.flush()
                self.args.log.seek(0)
                output = self.args.log.read().decode("gbk", errors="replace").strip()
                if output:
                    log("the program's output so far:\n" + output)
                return 1
            self.timings.append((name, time.monotonic() - t))
        log("all steps passed in %.1f s:" % (time.monotonic() - t0))
        for name, secs in self.timings:
            log("  %-18s %5.1f s" % (name, secs))
        return 0


def make_data(root):
    """A file for the Open dialog and a folder tree for the list run. The
    contents are fixed, so digests and screenshots are the same every run."""
    rnd = random.Random(20080420)
    os.makedirs(os.path.join(root, "tree", "sub dir"))
    sample = os.path.join(root, "sample data.bin")
    with open(sample, "wb") as f:
        f.write(rnd.randbytes(3 * 1024 * 1024 + 17))
    files = {
        "a.bin": rnd.randbytes(5000),
        os.path.join("sub dir", "b.dat"): rnd.randbytes(1500000),
        os.path.join("sub dir", "empty.txt"): b"",
        "中文 名.txt": "校验".encode("utf-8"),
    }
    for rel, content in files.items():
        with open(os.path.join(root, "tree", rel), "wb") as f:
            f.write(content)
    return root, sample, os.path.join(root, "tree"), sorted(files)


def data_folder(stack):
    """A short folder name that the screenshots show; a run that finds it in
    use by another run takes a fresh one instead."""
    base = os.path.join(tempfile.gettempdir(), "quellin-accept")
    lock = open(base + ".lock", "a")
    stack.append(lock)
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        return tempfile.mkdtemp(prefix="quellin-accept.")
    shutil.rmtree(base, ignore_errors=True)  # left over from a killed run
    return base


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--exe", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--shots", required=True)
    ap.add_argument("--limit", type=int, default=180, help="seconds the program may run")
    args = ap.parse_args()
    for need in ("DISPLAY", "WINEPREFIX"):
        if not os.environ.get(need):
            print("acceptance.py: %s is not set (run acceptance.sh)" % need, file=sys.stderr)
            return 2
    for path in (args.exe, args.probe):
        if not os.path.isfile(path):
            print("acceptance.py: %s not found" % path, file=sys.stderr)
            return 2
    for tool in ("xdotool", "import", "md5sum"):
        if not shutil.which(tool):
            print("acceptance.py: %s not installed" % tool, file=sys.stderr)
            return 2
    # A time limit ending the walk still ends the program and removes the data.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    os.makedirs(args.shots, exist_ok=True)
    # Pictures of an earlier walk would pass for this one's.
    for stale in glob.glob(os.path.join(args.shots, "[0-9][0-9]-*.png")) + \
            glob.glob(os.path.join(args.shots, "failed.png")):
        os.remove(stale)
    held = []
    tmp = data_folder(held)
    args.log = tempfile.TemporaryFile()
    held.append(args.log)
    try:
        args.data, args.sample, args.tree, args.tree_files = make_data(tmp)
        driver = Driver(args)
        try:
            return driver.walk()
        finally:
            driver.stop()
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
        for f in held:
            f.close()


if __name__ == "__main__":
    sys.exit(main())
