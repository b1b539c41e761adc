// Reads the running Quellin from outside its process, for the acceptance
// driver (acceptance.py). Runs under the same Wine prefix and wineserver as
// the program and prints one record per line; texts are printed as hex of
// their code-page-936 bytes, so nothing is lost to console conversions.
//
//   probe windows      the visible top-level windows and all of the program's,
//                      with the children of the program's windows and of the
//                      shell's tray windows
//   probe caption HWND screen points of the caption buttons, found by hit tests
//                      (HWND in hexadecimal, as the windows records print it)
//   probe clip         the clipboard's CF_TEXT bytes
//   probe put HEX      puts the text whose UTF-8 bytes HEX gives on the
//                      clipboard as Unicode text, as another program copies;
//                      no HEX: empties it
//   probe tray         whether the shell still has the program's icon 128
//   probe at X Y       the window under a screen point (what a click there hits)
//   probe drop PATH... drops the paths on the main window as the shell does:
//                      the DROPFILES block is written into the program's own
//                      memory and WM_DROPFILES posted (an X drag-and-drop
//                      source is beyond xdotool)
//
// Exit code 0; 3 when the program's main window is not there (windows, tray,
// drop); 4 when the program does not answer or a drop cannot be delivered;
// 2 on a usage error or a bad window handle. Nothing here waits for long:
// every message sent to another process has a timeout.
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/hex.h"

namespace {

const char kMainCaption[] = "Quellin V1.0.1.2";
const UINT kSendTimeoutMs = 2000;

std::string ClassOf(HWND w) {
    char buf[256] = {};
    GetClassNameA(w, buf, sizeof buf);
    return buf;
}

// The text as the window itself answers WM_GETTEXT (edit boxes keep theirs
// in their own process, so the stored caption would be stale).
std::string SentText(HWND w) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &len)) return "";
    std::string buf(len + 2, '\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(&buf[0]), SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &got))
        return "";
    buf.resize(strnlen(buf.c_str(), buf.size()));
    return buf;
}

// The caption stored with the window: sends nothing, so it is safe for
// windows of any process.
std::string StoredText(HWND w) {
    char buf[512] = {};
    GetWindowTextA(w, buf, sizeof buf);
    return buf;
}

DWORD PidOf(HWND w) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    return pid;
}

struct FindMain {
    HWND found = nullptr;
};

BOOL CALLBACK FindMainProc(HWND w, LPARAM lp) {
    auto* f = reinterpret_cast<FindMain*>(lp);
    if (ClassOf(w) != "#32770") return TRUE;
    const std::string text = StoredText(w);
    if (text.compare(0, strlen(kMainCaption), kMainCaption) == 0) {
        f->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND MainWindow() {
    FindMain f;
    EnumWindows(FindMainProc, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

void PrintRect(const char* key, const RECT& r) {
    std::printf(" %s=%ld,%ld,%ld,%ld", key, r.left, r.top, r.right, r.bottom);
}

struct ChildCtx {
    HWND top;
    bool send;  // ask the window for its text (the program's own windows)
};

BOOL CALLBACK ChildProc(HWND w, LPARAM lp) {
    const auto* ctx = reinterpret_cast<const ChildCtx*>(lp);
    RECT r{};
    GetWindowRect(w, &r);
    const std::string text = ctx->send ? SentText(w) : StoredText(w);
    std::printf("C top=%p parent=%p hwnd=%p id=%d class=%s vis=%d en=%d", static_cast<void*>(ctx->top),
                static_cast<void*>(GetParent(w)), static_cast<void*>(w), GetDlgCtrlID(w), ClassOf(w).c_str(),
                IsWindowVisible(w) ? 1 : 0, IsWindowEnabled(w) ? 1 : 0);
    if (ClassOf(w) == "Button") {
        DWORD_PTR check = 0;
        if (!SendMessageTimeoutA(w, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &check)) check = 9;
        std::printf(" check=%d", static_cast<int>(check));
    }
    PrintRect("rect", r);
    std::printf(" text=%s\n", Hex(text).c_str());
    return TRUE;
}

struct TopCtx {
    DWORD mainPid;
    HWND main;
};

BOOL CALLBACK TopProc(HWND w, LPARAM lp) {
    const auto* ctx = reinterpret_cast<const TopCtx*>(lp);
    const bool mine = ctx->mainPid != 0 && PidOf(w) == ctx->mainPid;
    const std::string cls = ClassOf(w);
    // The shell's tray windows: Shell_TrayWnd, and the small stand-alone tray
    // window that Wine's X11 driver shows when no desktop offers a tray.
    const bool tray = cls == "Shell_TrayWnd" || cls.find("_tray") != std::string::npos;
    // Hidden helper windows of other processes are of no interest.
    if (!mine && !tray && !IsWindowVisible(w)) return TRUE;
    RECT r{};
    GetWindowRect(w, &r);
    RECT c{};
    GetClientRect(w, &c);
    POINT origin{0, 0};
    ClientToScreen(w, &origin);
    const std::string text = mine ? SentText(w) : StoredText(w);
    std::printf("W hwnd=%p pid=%lu mine=%d main=%d class=%s vis=%d iconic=%d en=%d owner=%p topmost=%d",
                static_cast<void*>(w), PidOf(w), mine ? 1 : 0, w == ctx->main ? 1 : 0, cls.c_str(),
                IsWindowVisible(w) ? 1 : 0, IsIconic(w) ? 1 : 0, IsWindowEnabled(w) ? 1 : 0,
                static_cast<void*>(GetWindow(w, GW_OWNER)),
                (GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0);
    PrintRect("rect", r);
    std::printf(" client=%ld,%ld,%ld,%ld text=%s\n", origin.x, origin.y, origin.x + c.right, origin.y + c.bottom,
                Hex(text).c_str());
    if (mine || tray) {
        ChildCtx cc{w, mine};
        EnumChildWindows(w, ChildProc, reinterpret_cast<LPARAM>(&cc));
    }
    return TRUE;
}

int CmdWindows() {
    const HWND main = MainWindow();
    TopCtx ctx{main ? PidOf(main) : 0, main};
    std::printf("M hwnd=%p foreground=%p\n", static_cast<void*>(main), static_cast<void*>(GetForegroundWindow()));
    EnumWindows(TopProc, reinterpret_cast<LPARAM>(&ctx));
    return main ? 0 : 3;
}

// Scans the caption band of a window with WM_NCHITTEST and prints the centre
// of each caption button it finds, in screen coordinates.
int CmdCaption(HWND w) {
    RECT r{};
    if (!IsWindow(w) || !GetWindowRect(w, &r)) return 2;
    const int codes[] = {HTMINBUTTON, HTMAXBUTTON, HTCLOSE, HTSYSMENU, HTCAPTION};
    const char* names[] = {"min", "max", "close", "sysmenu", "caption"};
    long sumX[5] = {}, sumY[5] = {}, count[5] = {};
    // Three rows through the middle of the caption bar are enough to find
    // every button on it.
    const int middle = r.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    for (int y = middle - 2; y <= middle + 2 && y < r.bottom; y += 2) {
        for (int x = r.left; x < r.right; x += 2) {
            DWORD_PTR hit = 0;
            if (!SendMessageTimeoutA(w, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, kSendTimeoutMs, &hit))
                return 4;
            for (int i = 0; i < 5; ++i) {
                if (static_cast<int>(hit) == codes[i]) {
                    sumX[i] += x;
                    sumY[i] += y;
                    ++count[i];
                }
            }
        }
    }
    std::printf("H hwnd=%p", static_cast<void*>(w));
    for (int i = 0; i < 5; ++i) {
        if (count[i]) std::printf(" %s=%ld,%ld", names[i], sumX[i] / count[i], sumY[i] / count[i]);
    }
    std::printf("\n");
    return 0;
}

int CmdClip() {
    // Another process may hold the clipboard for a moment.
    BOOL open = FALSE;
    for (int i = 0; i < 50 && !(open = OpenClipboard(nullptr)); ++i) Sleep(20);
    if (!open) {
        std::printf("CLIP error=open\n");
        return 0;
    }
    HANDLE h = GetClipboardData(CF_TEXT);
    if (!h) {
        std::printf("CLIP none\n");
    } else {
        const char* p = static_cast<const char*>(GlobalLock(h));
        const SIZE_T size = GlobalSize(h);
        std::string bytes;
        if (p) bytes.assign(p, strnlen(p, size));
        GlobalUnlock(h);
        // The bytes up to the terminator, and the block's size (which holds it).
        std::printf("CLIP size=%lu hex=%s\n", static_cast<unsigned long>(size), Hex(bytes).c_str());
    }
    CloseClipboard();
    return 0;
}

int CmdPut(const char* hex) {
    std::string utf8;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        const char pair[3] = {hex[i], hex[i + 1], '\0'};
        utf8 += static_cast<char>(std::strtoul(pair, nullptr, 16));
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], n);
    BOOL open = FALSE;
    for (int i = 0; i < 50 && !(open = OpenClipboard(nullptr)); ++i) Sleep(20);
    if (!open) {
        std::printf("PUT error=open\n");
        return 4;
    }
    EmptyClipboard();
    bool ok = true;
    if (!text.empty()) {
        const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
        void* dest = block ? GlobalLock(block) : nullptr;
        if (dest) {
            std::memcpy(dest, text.c_str(), bytes);
            GlobalUnlock(block);
        }
        ok = dest && SetClipboardData(CF_UNICODETEXT, block);
    }
    CloseClipboard();
    std::printf(ok ? "PUT ok\n" : "PUT error=set\n");
    return ok ? 0 : 4;
}

// Whether the shell holds icon 128 of the main window: modifying succeeds only
// for an icon that is there. The tip is set to the text it already has.
int CmdTray() {
    const HWND main = MainWindow();
    if (!main) {
        std::printf("TRAY nomain\n");
        return 3;
    }
    NOTIFYICONDATAA nid{};
    nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    nid.hWnd = main;
    nid.uID = 128;
    nid.uFlags = NIF_TIP;
    lstrcpynA(nid.szTip, "☆Quellin☆", 64);
    std::printf("TRAY present=%d\n", Shell_NotifyIconA(NIM_MODIFY, &nid) ? 1 : 0);
    return 0;
}

int CmdAt(int x, int y) {
    const POINT pt{x, y};
    const HWND w = WindowFromPoint(pt);
    const HWND top = w ? GetAncestor(w, GA_ROOT) : nullptr;
    std::printf("AT hwnd=%p id=%d class=%s top=%p\n", static_cast<void*>(w), w ? GetDlgCtrlID(w) : 0,
                w ? ClassOf(w).c_str() : "", static_cast<void*>(top));
    return 0;
}

int CmdDrop(int count, char** paths) {
    const HWND main = MainWindow();
    if (!main) {
        std::printf("DROP nomain\n");
        return 3;
    }
    // DROPFILES header, then the ANSI paths, each zero-terminated, and one
    // more zero byte.
    std::string block(sizeof(DROPFILES), '\0');
    for (int i = 0; i < count; ++i) {
        block += paths[i];
        block += '\0';
    }
    block += '\0';
    DROPFILES df{};
    df.pFiles = sizeof(DROPFILES);
    RECT c{};
    GetClientRect(main, &c);
    df.pt.x = c.right / 2;
    df.pt.y = c.bottom / 2;
    df.fNC = FALSE;
    df.fWide = FALSE;
    std::memcpy(&block[0], &df, sizeof df);

    HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, PidOf(main));
    if (!proc) {
        std::printf("DROP error=open\n");
        return 4;
    }
    // Page-aligned memory of the program's process: its GlobalLock takes such
    // an address as a fixed block and hands it back unchanged.
    void* remote = VirtualAllocEx(proc, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    SIZE_T written = 0;
    const bool ok = remote && WriteProcessMemory(proc, remote, block.data(), block.size(), &written) &&
                    written == block.size();
    CloseHandle(proc);
    if (!ok) {
        std::printf("DROP error=write\n");
        return 4;
    }
    if (!PostMessageA(main, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0)) {
        std::printf("DROP error=post\n");
        return 4;
    }
    std::printf("DROP posted=%d\n", count);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    int rc = 2;
    if (cmd == "windows") {
        rc = CmdWindows();
    } else if (cmd == "caption" && argc > 2) {
        rc = CmdCaption(reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(argv[2], nullptr, 16))));
    } else if (cmd == "clip") {
        rc = CmdClip();
    } else if (cmd == "put") {
        rc = CmdPut(argc > 2 ? argv[2] : "");
    } else if (cmd == "tray") {
        rc = CmdTray();
    } else if (cmd == "at" && argc > 3) {
        rc = CmdAt(std::atoi(argv[2]), std::atoi(argv[3]));
    } else if (cmd == "drop" && argc > 2) {
        rc = CmdDrop(argc - 2, argv + 2);
    } else {
        std::fprintf(stderr, "usage: probe windows | caption HWND | clip | put [HEX] | tray | at X Y | drop PATH...\n");
    }
    std::fflush(stdout);
    return rc;
}
