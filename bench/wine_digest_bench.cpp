// Costs of digesting through the real main window (a Windows program, run
// under Wine by scripts/bench; not a test). It runs the program's dialog on a
// UI thread of its own (the window tests' harness core), drives it as a user
// would and prints plain lines,
// and "RESULT name=value" lines for scripts/bench:
//
//   1. a large cached file through the path box and Start: wall time of each
//      of --runs runs (after --warmup untimed ones), and the PBM_SETPOS
//      messages that reach bar 1004;
//   2. a dropped folder, expanded and digested: the time from Start until
//      the list status reads that all files are done, per file, with the
//      list status texts seen on the way; --digests writes the list's rows
//      as "md5 path" lines for checking; --limit gives up after that many
//      seconds;
//   --clipboard FILE puts FILE's text (UTF-8, such as md5sum's lines) on the
//   clipboard first, as another program would: the window compares every
//   result with it;
//   3. memory (GetProcessMemoryInfo) while a file of several GiB is digested,
//      against the same process before the run.
//
// Usage: wine_digest_bench [--file PATH [--md5 HEX] [--runs N] [--warmup N]]
//                          [--folder PATH [--digests OUT] [--limit SECONDS]]
//                          [--big PATH] [--hidden] [--clipboard FILE]
// Parts whose paths are not given are skipped. --hidden digests with the
// window hidden (to tell drawing from messaging).
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jobs/RunFlag.h"
#include "res/resource.h"
#include "tests/wine/harness_core.h"
#include "tests/wine/texts.h"

namespace {

// The dialog, on a UI thread of its own (set up in main).
const harness::App* s_app = nullptr;
HWND s_dlg = nullptr;

double Now() { return harness::NowMs() / 1000.0; }

// ---------------------------------------------------------------- progress messages to bar 1004

// PBM_SETPOS messages that reach the per-file bar, from any thread, counted in
// a subclass procedure on the bar while a SetPosCounter lives. (A message
// hook would count them too, but under Wine every message that passes a hook
// costs a round trip to the wine server: with hooks on the window thread a
// folder run took twice as long.)
WNDPROC s_barProc = nullptr;
long s_barSetPos = 0;  // window thread only
HWND s_bar = nullptr;
HWND s_listStatus = nullptr;

LRESULT CALLBACK BarProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == PBM_SETPOS) ++s_barSetPos;
    return CallWindowProcA(s_barProc, h, msg, w, l);
}

class SetPosCounter {
public:
    SetPosCounter() {
        s_app->OnUi([] {
            s_barSetPos = 0;
            s_barProc = harness::Subclass(s_bar, &BarProc);
        });
    }
    ~SetPosCounter() { Stop(); }
    SetPosCounter(const SetPosCounter&) = delete;
    SetPosCounter& operator=(const SetPosCounter&) = delete;
    // Removes the subclass; returns the count.
    long Stop() {
        if (!m_stopped) {
            s_app->OnUi([] { harness::Subclass(s_bar, s_barProc); });
            m_stopped = true;
        }
        return s_barSetPos;
    }

private:
    bool m_stopped = false;
};

// ---------------------------------------------------------------- driving a run

bool RunActive() { return g_bWorking.load() != 0 || !IsWindowEnabled(GetDlgItem(s_dlg, IDOK)); }

// Clicks Start (sent, as the harness does: the handler has run on return) and
// waits until the run is over and Start is enabled again. Returns the wall
// time in seconds. The click itself is one message sent from this thread.
double StartAndWait() {
    const double t0 = Now();
    SendMessageA(s_dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(s_dlg, IDOK)));
    // Reads of the flag and the button's style send nothing to the window.
    while (RunActive()) Sleep(1);
    return Now() - t0;
}

// ---------------------------------------------------------------- memory

struct Mem {
    double ws = 0, peakWs = 0, pagefile = 0, peakPagefile = 0;  // MiB
};

Mem ReadMem() {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    const double mib = 1024.0 * 1024.0;
    return Mem{pmc.WorkingSetSize / mib, pmc.PeakWorkingSetSize / mib, pmc.PagefileUsage / mib,
               pmc.PeakPagefileUsage / mib};
}

// Samples the counters every 20 ms on its own thread while alive; keeps the
// largest current values seen.
class MemSampler {
public:
    MemSampler() : m_stop(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        m_thread = CreateThread(nullptr, 0, &MemSampler::Run, this, 0, nullptr);
    }
    ~MemSampler() { Stop(); }
    Mem Stop() {
        if (m_thread) {
            SetEvent(m_stop);
            WaitForSingleObject(m_thread, INFINITE);
            CloseHandle(m_thread);
            CloseHandle(m_stop);
            m_thread = nullptr;
        }
        return m_max;
    }

private:
    static DWORD WINAPI Run(LPVOID p) {
        auto* self = static_cast<MemSampler*>(p);
        do {
            const Mem m = ReadMem();
            self->m_max.ws = std::max(self->m_max.ws, m.ws);
            self->m_max.pagefile = std::max(self->m_max.pagefile, m.pagefile);
            self->m_max.peakWs = m.peakWs;
            self->m_max.peakPagefile = m.peakPagefile;
        } while (WaitForSingleObject(self->m_stop, 20) == WAIT_TIMEOUT);
        return 0;
    }
    HANDLE m_stop;
    HANDLE m_thread = nullptr;
    Mem m_max;
};

// ---------------------------------------------------------------- the parts

// Text in the system's code page (the command line's), and back.
std::wstring Wide(const std::string& ansi) {
    std::vector<wchar_t> buf(ansi.size() + 1);
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, buf.data(), static_cast<int>(buf.size()));
    return n > 0 ? std::wstring(buf.data()) : std::wstring();
}
std::string Ansi(const std::wstring& w) {
    const int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> buf(n > 0 ? n : 1);
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, buf.data(), static_cast<int>(buf.size()), nullptr, nullptr);
    return buf.data();
}

// Chooses the file with Open, as a person does (not timed).
void SetPath(const std::string& path) {
    harness::ChooseInOpenDialog(s_dlg, Wide(path));
    s_app->Sync();
}

void BigFile(const std::string& path, const std::string& md5, int runs, int warmups) {
    std::vector<double> times;
    std::vector<long> setpos;
    Mem maxMem;
    int wrong = 0;
    // Untimed runs read the file into the cache and warm Wine's paths (the
    // caller may have done both already).
    for (int w = 0; w < warmups; ++w) {
        SetPath(path);
        StartAndWait();
    }
    for (int r = 0; r < runs; ++r) {
        SetPath(path);
        SetPosCounter counter;
        MemSampler sampler;
        times.push_back(StartAndWait());
        const Mem m = sampler.Stop();
        maxMem.ws = std::max(maxMem.ws, m.ws);
        maxMem.pagefile = std::max(maxMem.pagefile, m.pagefile);
        setpos.push_back(counter.Stop());
        const std::string got = Ansi(harness::ItemTextW(s_dlg, IDC_MD5));
        if (!md5.empty() && got != md5) {
            ++wrong;
            std::printf("  DIGEST MISMATCH: window %s, expected %s\n", got.c_str(), md5.c_str());
        }
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::printf("1. large file in the window: median %.3f s of %d run%s (", sorted[sorted.size() / 2], runs,
                runs == 1 ? "" : "s");
    for (size_t i = 0; i < times.size(); ++i) std::printf("%s%.3f", i ? ", " : "", times[i]);
    std::printf("), digest %s\n", md5.empty() ? "not checked" : wrong == 0 ? "ok" : "WRONG");
    std::printf("   PBM_SETPOS received by bar 1004 per run:");
    for (long n : setpos) std::printf(" %ld", n);
    std::printf("\n   largest working set during the runs %.1f MiB, private (PagefileUsage) %.1f MiB\n", maxMem.ws,
                maxMem.pagefile);
    for (size_t i = 0; i < times.size(); ++i)
        std::printf("RESULT window_file_s=%.4f\nRESULT window_file_setpos=%ld\n", times[i], setpos[i]);
    if (!md5.empty()) std::printf("RESULT window_file_wrong=%d\n", wrong);
}

// A window's text, read without a message to the window thread (a
// cross-thread WM_GETTEXT would add work to the thread being measured, and
// waits when that thread hangs).
std::wstring StoredText(HWND wnd) {
    wchar_t buf[512] = {};
    InternalGetWindowText(wnd, buf, 512);
    return buf;
}
std::wstring ListStatusText() { return StoredText(s_listStatus); }

void FolderOfSmallFiles(const std::string& folder, const std::string& digestsOut, double limit) {
    // The list status texts of a folder run.
    const std::wstring done = harness::W(harness::kListDone), failed = harness::W(harness::kListStopped),
                       digesting = harness::W(harness::kDigesting);

    std::printf("2. folder %s: drop", folder.c_str());
    harness::Drop(*s_app, {Wide(folder)});
    if (ListStatusText() == done) {
        std::printf("\n   the list status reads that all files are done before Start\n");
        return;
    }
    std::printf(", Start; list status texts as they appear (seconds after Start):\n");

    // Start is sent, so its handler has run on return; from then on the list
    // status is watched every millisecond. Each new text is kept with the
    // time it was first seen; the run's time is the time "all files done"
    // appeared. Texts shown for less than a millisecond may be missed. After
    // limit seconds (if not 0) the run is given up.
    std::vector<std::pair<double, std::wstring>> seen;
    const double t0 = Now();
    SendMessageA(s_dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(s_dlg, IDOK)));
    double ended = 0;  // when the run was seen to be over
    for (;;) {
        const double now = Now();
        std::wstring text = ListStatusText();
        if (seen.empty() || text != seen.back().second) {
            seen.emplace_back(now - t0, text);
            std::printf("   %8.3f %s\n", now - t0, Ansi(text).c_str());
        }
        if (text == done || text == failed) break;
        if (!RunActive()) {
            if (ended == 0) ended = now;
            else if (now - ended > 10) break;  // over, but the text never came
        }
        if (limit > 0 && now - t0 > limit) {
            std::printf("   GIVEN UP after %.0f s: run flag %d, Start %s, path box \"%s\", status \"%s\", count \"%s\"\n",
                        limit, g_bWorking.load(), IsWindowEnabled(GetDlgItem(s_dlg, IDOK)) ? "enabled" : "disabled",
                        Ansi(StoredText(GetDlgItem(s_dlg, IDC_PATH))).c_str(),
                        Ansi(StoredText(GetDlgItem(s_dlg, IDC_STATUS))).c_str(),
                        Ansi(StoredText(GetDlgItem(s_dlg, IDC_LISTCOUNT))).c_str());
            std::printf("RESULT folder_done=0\n");
            return;
        }
        Sleep(1);
    }
    const double seconds = seen.back().first;
    const bool ok = seen.back().second == done;
    while (RunActive()) Sleep(1);

    // The rows, read on the window thread itself.
    std::vector<std::pair<std::wstring, std::wstring>> rows;
    s_app->OnUi([&] { rows = harness::ListRowsW(s_dlg); });
    const int n = static_cast<int>(rows.size());
    int notDigest = 0;  // rows whose second column is no digest at all
    for (const auto& r : rows)
        if (r.second.size() != 32 || r.second.find_first_not_of(L"0123456789abcdef") != std::wstring::npos) ++notDigest;
    if (!digestsOut.empty()) {
        if (FILE* f = std::fopen(digestsOut.c_str(), "wb")) {
            for (const auto& r : rows) std::fprintf(f, "%s %s\n", Ansi(r.second).c_str(), Ansi(r.first).c_str());
            std::fclose(f);
        } else {
            std::printf("   could not write %s\n", digestsOut.c_str());
        }
    }

    std::printf("   %d files, dropped and digested: %.3f s, %.3f ms per file%s; %d rows without a digest\n", n, seconds,
                n ? seconds * 1000 / n : 0.0, ok ? "" : " (THE RUN DID NOT FINISH)", notDigest);
    // The walk into the list ends where digesting starts.
    double walkEnd = -1;
    for (const auto& s : seen)
        if (s.second == digesting) {
            walkEnd = s.first;
            break;
        }
    if (walkEnd >= 0 && n > 0)
        std::printf("   walking into the list %.3f s (%.3f ms per file), digesting %.3f s (%.3f ms per file)\n", walkEnd,
                    walkEnd * 1000 / n, seconds - walkEnd, (seconds - walkEnd) * 1000 / n);
    std::printf("RESULT folder_files=%d\nRESULT folder_ms_per_file=%.4f\nRESULT folder_done=%d\n"
                "RESULT folder_rows_without_digest=%d\n",
                n, n ? seconds * 1000 / n : 0.0, ok ? 1 : 0, notDigest);
    if (walkEnd >= 0 && n > 0)
        std::printf("RESULT folder_walk_ms_per_file=%.4f\nRESULT folder_digest_ms_per_file=%.4f\n", walkEnd * 1000 / n,
                    (seconds - walkEnd) * 1000 / n);
    // With digests on the clipboard, the box counts the rows compared once
    // the run is over (not timed: it does not hold the run up).
    if (ok && IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        const std::wstring hint = harness::W(harness::kListHint);
        harness::WaitUntil([&] { return harness::ItemTextW(s_dlg, IDC_MD5) != hint; }, 10000);
        std::printf("   digest box: %s\n", Ansi(harness::ItemTextW(s_dlg, IDC_MD5)).c_str());
    }
}

struct MemRun {
    Mem idle, during, after;
    double seconds = 0;
};

// Digests path in the window while sampling the memory counters.
MemRun SampledRun(const std::string& path) {
    MemRun r;
    Sleep(200);
    r.idle = ReadMem();
    SetPath(path);
    MemSampler sampler;
    r.seconds = StartAndWait();
    r.during = sampler.Stop();
    r.after = ReadMem();
    return r;
}

void MemoryOfBigFile(const std::string& big) {
    // Small runs first (this program's own file, a few MiB): the first one
    // makes what any run allocates once (the C runtime's and Wine's
    // first-use structures); the second shows what a run of a small file
    // costs while it lasts. The large file should cost no more than that.
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    const Mem fresh = ReadMem();
    SampledRun(self);
    const MemRun small = SampledRun(self);
    const MemRun large = SampledRun(big);
    std::printf("3. memory (MiB; working set / private = PagefileUsage): fresh process %.1f / %.1f\n", fresh.ws,
                fresh.pagefile);
    std::printf("   small file run: idle %.1f / %.1f, largest during the run %.1f / %.1f (+%.1f / +%.1f)\n",
                small.idle.ws, small.idle.pagefile, small.during.ws, small.during.pagefile,
                small.during.ws - small.idle.ws, small.during.pagefile - small.idle.pagefile);
    std::printf("   %s (%.1f s, digest %s):\n", big.c_str(), large.seconds, Ansi(harness::ItemTextW(s_dlg, IDC_MD5)).c_str());
    std::printf("                   idle %.1f / %.1f, largest during the run %.1f / %.1f (+%.1f / +%.1f)\n",
                large.idle.ws, large.idle.pagefile, large.during.ws, large.during.pagefile,
                large.during.ws - large.idle.ws, large.during.pagefile - large.idle.pagefile);
    std::printf("   PeakWorkingSetSize %.1f -> %.1f, PeakPagefileUsage %.1f -> %.1f over the large run\n",
                large.idle.peakWs, large.after.peakWs, large.idle.peakPagefile, large.after.peakPagefile);
    std::printf("RESULT mem_ws_growth_mib=%.2f\nRESULT mem_private_growth_mib=%.2f\n"
                "RESULT mem_ws_growth_small_mib=%.2f\nRESULT mem_private_growth_small_mib=%.2f\n",
                large.during.ws - large.idle.ws, large.during.pagefile - large.idle.pagefile,
                small.during.ws - small.idle.ws, small.during.pagefile - small.idle.pagefile);
}

// Puts the UTF-8 text of file on the clipboard as Unicode text, as another
// program leaves it.
bool PutClipboardFile(const std::string& file) {
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return false;
    std::string bytes;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    std::fclose(f);
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], static_cast<int>(text.size()))));
    return harness::PutClipboardText(text);
}

}  // namespace

int main(int argc, char** argv) {
    std::string file, md5, folder, digests, big, clipboard;
    int runs = 3, warmups = 1;
    double limit = 0;
    bool hidden = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--file" && more) file = argv[++i];
        else if (a == "--md5" && more) md5 = argv[++i];
        else if (a == "--folder" && more) folder = argv[++i];
        else if (a == "--big" && more) big = argv[++i];
        else if (a == "--runs" && more) runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--warmup" && more) warmups = std::max(0, std::atoi(argv[++i]));
        else if (a == "--digests" && more) digests = argv[++i];
        else if (a == "--limit" && more) limit = std::atof(argv[++i]);
        else if (a == "--hidden") hidden = true;
        else if (a == "--clipboard" && more) clipboard = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: %s [--file PATH [--md5 HEX] [--runs N] [--warmup N]]\n"
                         "       [--folder PATH [--digests OUT] [--limit SECONDS]] [--big PATH] [--hidden]\n"
                         "       [--clipboard FILE]\n",
                         argv[0]);
            return 2;
        }
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (!clipboard.empty()) {
        if (!PutClipboardFile(clipboard)) {
            std::printf("could not put %s on the clipboard\n", clipboard.c_str());
            return 1;
        }
        std::printf("clipboard: %s\n", clipboard.c_str());
    }

    harness::App app;
    s_app = &app;
    s_dlg = app.hwnd();
    if (!s_dlg) {
        std::printf("the main dialog did not appear\n");
        return 1;
    }
    s_bar = GetDlgItem(s_dlg, IDC_PROGRESS);
    s_listStatus = GetDlgItem(s_dlg, IDC_LISTSTATUS);
    if (hidden) s_app->OnUi([] { ShowWindow(s_dlg, SW_HIDE); });
    std::printf("window %s\n", hidden ? "hidden" : "shown");

    // Memory first: the peak counters only ever grow, so the other parts
    // would hide what this one is after.
    if (!big.empty()) MemoryOfBigFile(big);
    if (!file.empty()) BigFile(file, md5, runs, warmups);
    if (!folder.empty()) FolderOfSmallFiles(folder, digests, limit);

    return 0;  // the dialog closes with app
}
