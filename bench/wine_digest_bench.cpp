// Costs of digesting through the real main window (a Windows program, run
// under Wine by scripts/bench; not a test). It runs the program's dialog on a
// UI thread of its own, drives it as a user would and prints plain lines:
//
//   1. a large cached file through the path box and Start: wall time (median
//      of --runs), and the PBM_SETPOS messages that reach bar 1004;
//   2. a dropped folder of many small files, expanded and digested: time per
//      file, the synchronous calls the window thread receives from the
//      checking thread (by message), and the ratio of the time to a floor of
//      calls x the cost of a no-op cross-thread SendMessage + the 1 ms pause
//      per walked file (both measured in this run);
//   3. memory (GetProcessMemoryInfo) while a file of several GiB is digested,
//      against the same process before the run.
//
// Usage: wine_digest_bench [--file PATH --md5 HEX] [--runs N] [--folder PATH]
//                          [--big PATH] [--hidden]
// Parts whose paths are not given are skipped. --hidden digests with the
// window hidden (to tell drawing from messaging).
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/DigestApp.h"
#include "jobs/run_flag.h"
#include "res/resource.h"

namespace {

// ---------------------------------------------------------------- the dialog on a UI thread

const UINT kRunMsg = WM_APP + 1;
HWND s_helper = nullptr;
HWND s_dlg = nullptr;
DWORD s_uiThreadId = 0;

LRESULT CALLBACK HelperProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == kRunMsg) {
        (*reinterpret_cast<const std::function<void()>*>(w))();
        return 0;
    }
    return DefWindowProcA(h, msg, w, l);
}

DWORD WINAPI UiThread(LPVOID ready) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = HelperProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QuellinBenchHelper";
    RegisterClassA(&wc);
    s_helper = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetEvent(static_cast<HANDLE>(ready));
    theApp.InitInstance();
    DestroyWindow(s_helper);
    return 0;
}

// Runs fn on the UI thread and waits for it.
void OnUi(const std::function<void()>& fn) { SendMessageA(s_helper, kRunMsg, reinterpret_cast<WPARAM>(&fn), 0); }

BOOL CALLBACK FindDialog(HWND h, LPARAM l) {
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") == 0 && IsWindowVisible(h)) {
        *reinterpret_cast<HWND*>(l) = h;
        return FALSE;
    }
    return TRUE;
}

double Now() {
    static LARGE_INTEGER freq = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

// ---------------------------------------------------------------- what the window thread receives

// Counts, on the UI thread, every message another thread sends to one of its
// windows while counting is on (WH_CALLWNDPROC: wParam is zero for a message
// sent by another thread). Posted messages do not pass this hook, and neither
// do the messages the window thread sends to itself.
std::atomic<bool> s_counting{false};
std::map<UINT, long> s_sent;  // message -> count (UI thread only while counting)
std::map<UINT, double> s_handled;  // message -> seconds the window thread spent on it
std::vector<double> s_insertTimes;  // LVM_INSERTITEMA handling times, in order
std::vector<double> s_starts;      // start times of the cross-thread messages being handled
long s_barSetPos = 0;         // PBM_SETPOS that reached bar 1004, from any thread
HWND s_bar = nullptr;
HWND s_listStatus = nullptr;
std::vector<double> s_listStatusTimes;  // when 1104 got a text: the expansion's start and end

LRESULT CALLBACK CallWndHook(int code, WPARAM fromOtherThread, LPARAM l) {
    if (code == HC_ACTION && s_counting.load(std::memory_order_relaxed)) {
        const auto* cwp = reinterpret_cast<const CWPSTRUCT*>(l);
        if (fromOtherThread == 0) {
            ++s_sent[cwp->message];
            s_starts.push_back(Now());
        }
        if (cwp->hwnd == s_bar && cwp->message == PBM_SETPOS) ++s_barSetPos;
        if (cwp->hwnd == s_listStatus && cwp->message == WM_SETTEXT) s_listStatusTimes.push_back(Now());
    }
    return CallNextHookEx(nullptr, code, fromOtherThread, l);
}

// Where a message from another thread has been handled: its time on the
// window thread (WH_CALLWNDPROCRET, same meaning of wParam).
LRESULT CALLBACK CallWndRetHook(int code, WPARAM fromOtherThread, LPARAM l) {
    if (code == HC_ACTION && fromOtherThread == 0 && !s_starts.empty()) {
        const auto* cwp = reinterpret_cast<const CWPRETSTRUCT*>(l);
        const double d = Now() - s_starts.back();
        s_handled[cwp->message] += d;
        if (cwp->message == LVM_INSERTITEMA) s_insertTimes.push_back(d);
        s_starts.pop_back();
    }
    return CallNextHookEx(nullptr, code, fromOtherThread, l);
}

void StartCounting() {
    OnUi([] { s_insertTimes.clear(); s_handled.clear(); s_starts.clear(); s_sent.clear(); s_barSetPos = 0; s_listStatusTimes.clear(); });
    s_counting = true;
}

// Stops counting and returns what was counted.
std::map<UINT, long> StopCounting(long* barSetPos, std::map<UINT, double>* handled = nullptr) {
    s_counting = false;
    std::map<UINT, long> out;
    OnUi([&] {
        out = s_sent;
        *barSetPos = s_barSetPos;
        if (handled) *handled = s_handled;
    });
    return out;
}

const char* MessageName(UINT m) {
    switch (m) {
    case WM_NULL: return "WM_NULL";
    case WM_ENABLE: return "WM_ENABLE";
    case WM_SETREDRAW: return "WM_SETREDRAW";
    case WM_SETTEXT: return "WM_SETTEXT";
    case WM_GETTEXT: return "WM_GETTEXT";
    case WM_GETTEXTLENGTH: return "WM_GETTEXTLENGTH";
    case WM_CANCELMODE: return "WM_CANCELMODE";
    case WM_COMMAND: return "WM_COMMAND";
    case PBM_SETRANGE: return "PBM_SETRANGE";
    case PBM_SETPOS: return "PBM_SETPOS";
    case LVM_INSERTITEMA: return "LVM_INSERTITEMA";
    case LVM_SETITEMTEXTA: return "LVM_SETITEMTEXTA";
    case LVM_GETITEMTEXTA: return "LVM_GETITEMTEXTA";
    case LVM_DELETEALLITEMS: return "LVM_DELETEALLITEMS";
    case LVM_GETITEMCOUNT: return "LVM_GETITEMCOUNT";
    default: return "?";
    }
}

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

std::string DlgText(int id) {
    char buf[1024] = {};
    GetDlgItemTextA(s_dlg, id, buf, sizeof buf);
    return buf;
}

HDROP MakeDrop(const std::string& path) {
    HGLOBAL mem = GlobalAlloc(GHND, sizeof(DROPFILES) + path.size() + 2);
    auto* df = static_cast<DROPFILES*>(GlobalLock(mem));
    df->pFiles = sizeof(DROPFILES);
    df->fWide = FALSE;
    std::memcpy(reinterpret_cast<char*>(df) + sizeof(DROPFILES), path.c_str(), path.size() + 1);
    GlobalUnlock(mem);
    return static_cast<HDROP>(mem);
}

std::string OracleMd5(const std::string& path) {
    HCRYPTPROV prov = 0;
    HCRYPTHASH hash = 0;
    std::string result;
    if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return result;
    if (CryptCreateHash(prov, CALG_MD5, 0, 0, &hash)) {
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            std::vector<unsigned char> buf(1 << 16);
            size_t n;
            while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) CryptHashData(hash, buf.data(), static_cast<DWORD>(n), 0);
            std::fclose(f);
            BYTE d[16];
            DWORD len = sizeof d;
            if (CryptGetHashParam(hash, HP_HASHVAL, d, &len, 0)) {
                char hex[33];
                for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
                result = hex;
            }
        }
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(prov, 0);
    return result;
}

std::string CellText(HWND list, int row, int col) {
    char buf[1024] = {};
    LVITEMA item{};
    item.iSubItem = col;
    item.pszText = buf;
    item.cchTextMax = sizeof buf;
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return buf;
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

void SetPath(const std::string& path) { SetDlgItemTextA(s_dlg, IDC_PATH, path.c_str()); }

void BigFile(const std::string& path, const std::string& md5, int runs) {
    std::vector<double> times;
    std::vector<long> setpos;
    Mem maxMem;
    bool ok = true;
    // A first run reads the file into the cache on both sides of the page
    // cache and warms Wine's paths; it is not counted.
    SetPath(path);
    StartAndWait();
    for (int r = 0; r < runs; ++r) {
        SetPath(path);
        StartCounting();
        MemSampler sampler;
        times.push_back(StartAndWait());
        const Mem m = sampler.Stop();
        maxMem.ws = std::max(maxMem.ws, m.ws);
        maxMem.pagefile = std::max(maxMem.pagefile, m.pagefile);
        long n = 0;
        StopCounting(&n);
        setpos.push_back(n);
        const std::string got = DlgText(IDC_MD5);
        if (!md5.empty() && got != md5) {
            ok = false;
            std::printf("  DIGEST MISMATCH: window %s, expected %s\n", got.c_str(), md5.c_str());
        }
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    std::printf("1. large file in the window: median %.3f s of %d runs (", median, runs);
    for (size_t i = 0; i < times.size(); ++i) std::printf("%s%.3f", i ? ", " : "", times[i]);
    std::printf("), digest %s\n", md5.empty() ? "not checked" : ok ? "ok" : "WRONG");
    std::printf("   PBM_SETPOS received by bar 1004 per run:");
    for (long n : setpos) std::printf(" %ld", n);
    std::printf("\n   largest working set during the runs %.1f MiB, private (PagefileUsage) %.1f MiB\n", maxMem.ws,
                maxMem.pagefile);
    std::printf("RESULT window_file_s=%.4f\nRESULT window_file_setpos=%ld\n", median, setpos[setpos.size() / 2]);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Cost of one no-op SendMessage from this thread to the dialog's thread:
// batches of n, one figure per batch (the median of them is used: single
// batches vary with what else the machine runs).
void CrossThreadSendCost(int batches, int n, std::vector<double>* out) {
    for (int b = 0; b < batches; ++b) {
        const double t0 = Now();
        for (int i = 0; i < n; ++i) SendMessageA(s_dlg, WM_NULL, 0, 0);
        out->push_back((Now() - t0) / n);
    }
}

void SleepOneCost(int batches, int n, std::vector<double>* out) {
    for (int b = 0; b < batches; ++b) {
        const double t0 = Now();
        for (int i = 0; i < n; ++i) Sleep(1);
        out->push_back((Now() - t0) / n);
    }
}

void FolderOfSmallFiles(const std::string& folder) {
    // 10,000 no-op sends and 500 pauses, half before and half after the run.
    std::vector<double> sends, sleeps;
    CrossThreadSendCost(5, 1000, &sends);
    SleepOneCost(5, 50, &sleeps);

    PostMessageA(s_dlg, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(folder)), 0);
    OnUi([] {});  // the drop has been handled
    StartCounting();
    const double t0 = Now();
    const double seconds = StartAndWait();
    long barSetPos = 0;
    std::map<UINT, double> handled;
    std::map<UINT, long> sent = StopCounting(&barSetPos, &handled);
    std::vector<double> phases;
    std::vector<double> inserts;
    OnUi([&] { phases = s_listStatusTimes; inserts = s_insertTimes; });
    // The click came from this thread, not from the checking thread.
    if (--sent[WM_COMMAND] == 0) sent.erase(WM_COMMAND);

    CrossThreadSendCost(5, 1000, &sends);
    SleepOneCost(5, 50, &sleeps);
    const double sendCost = Median(sends), sleepCost = Median(sleeps);

    HWND list = GetDlgItem(s_dlg, IDC_FILELIST);
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    int wrong = 0;
    for (int i = 0; i < rows; ++i)
        if (CellText(list, i, 1) != OracleMd5(CellText(list, i, 0))) ++wrong;

    long calls = 0;
    for (const auto& kv : sent) calls += kv.second;
    const double floor = calls * sendCost + rows * sleepCost;
    std::printf("2. folder of %d files, dropped and digested: %.3f s, %.3f ms per file, %d wrong digests\n", rows,
                seconds, rows ? seconds * 1000 / rows : 0.0, wrong);
    // 1104 reads "initialising paths" when the expansion starts, "paths
    // initialised" when it ends, "checking all files" when digesting starts.
    if (phases.size() >= 3 && rows > 0)
        std::printf("   expansion %.3f s (%.3f ms per file), digesting %.3f s (%.3f ms per file)\n", phases[1] - phases[0],
                    (phases[1] - phases[0]) * 1000 / rows, t0 + seconds - phases[2],
                    (t0 + seconds - phases[2]) * 1000 / rows);
    // How a row insertion's cost moves as the list fills: tenths of the rows.
    if (inserts.size() >= 10) {
        std::printf("   LVM_INSERTITEMA ms by tenth of the list:");
        for (size_t k = 0; k < 10; ++k) {
            double sum = 0;
            const size_t a = inserts.size() * k / 10, b = inserts.size() * (k + 1) / 10;
            for (size_t i = a; i < b; ++i) sum += inserts[i];
            std::printf(" %.2f", sum * 1000 / (b - a));
        }
        std::printf("\n");
    }
    std::printf("   no-op cross-thread SendMessage %.4f ms (median of 10 batches of 1000, %.4f to %.4f), "
                "Sleep(1) %.4f ms\n",
                sendCost * 1000, *std::min_element(sends.begin(), sends.end()) * 1000,
                *std::max_element(sends.begin(), sends.end()) * 1000, sleepCost * 1000);
    std::printf("   synchronous calls received from the checking thread: %ld (%.2f per file)\n", calls,
                rows ? static_cast<double>(calls) / rows : 0.0);
    for (const auto& kv : sent)
        std::printf("     0x%04x %-18s %8ld  %5.2f per file, handled in %.3f ms each\n", kv.first,
                    MessageName(kv.first), kv.second, rows ? static_cast<double>(kv.second) / rows : 0.0,
                    handled[kv.first] * 1000 / kv.second);
    std::printf("   floor = calls x SendMessage + files x Sleep(1) = %.3f s; time / floor = %.3f\n", floor,
                floor > 0 ? seconds / floor : 0.0);
    std::printf("RESULT folder_files=%d\nRESULT folder_ms_per_file=%.4f\nRESULT folder_calls_per_file=%.3f\n"
                "RESULT folder_ratio=%.4f\n",
                rows, rows ? seconds * 1000 / rows : 0.0, rows ? static_cast<double>(calls) / rows : 0.0,
                floor > 0 ? seconds / floor : 0.0);
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
    std::printf("   %s (%.1f s, digest %s):\n", big.c_str(), large.seconds, DlgText(IDC_MD5).c_str());
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

}  // namespace

int main(int argc, char** argv) {
    std::string file, md5, folder, big;
    int runs = 3;
    bool hidden = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--file" && more) file = argv[++i];
        else if (a == "--md5" && more) md5 = argv[++i];
        else if (a == "--folder" && more) folder = argv[++i];
        else if (a == "--big" && more) big = argv[++i];
        else if (a == "--runs" && more) runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--hidden") hidden = true;
        else {
            std::fprintf(stderr, "usage: %s [--file PATH --md5 HEX] [--runs N] [--folder PATH] [--big PATH] [--hidden]\n",
                         argv[0]);
            return 2;
        }
    }
    setvbuf(stdout, nullptr, _IONBF, 0);

    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE ui = CreateThread(nullptr, 0, UiThread, ready, 0, &s_uiThreadId);
    WaitForSingleObject(ready, 10000);
    for (int i = 0; i < 2000 && !s_dlg; ++i) {
        EnumThreadWindows(s_uiThreadId, FindDialog, reinterpret_cast<LPARAM>(&s_dlg));
        if (!s_dlg) Sleep(5);
    }
    if (!s_dlg) {
        std::printf("the main dialog did not appear\n");
        return 1;
    }
    s_bar = GetDlgItem(s_dlg, IDC_PROGRESS);
    s_listStatus = GetDlgItem(s_dlg, IDC_LISTSTATUS);
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, CallWndHook, nullptr, s_uiThreadId);
    HHOOK retHook = SetWindowsHookExA(WH_CALLWNDPROCRET, CallWndRetHook, nullptr, s_uiThreadId);
    if (!hook) std::printf("no WH_CALLWNDPROC hook (error %lu): message counts will be 0\n", GetLastError());
    if (hidden) OnUi([] { ShowWindow(s_dlg, SW_HIDE); });
    std::printf("window %s\n", hidden ? "hidden" : "shown");

    // Memory first: the peak counters only ever grow, so the other parts
    // would hide what this one is after.
    if (!big.empty()) MemoryOfBigFile(big);
    if (!file.empty()) BigFile(file, md5, runs);
    if (!folder.empty()) FolderOfSmallFiles(folder);

    if (hook) UnhookWindowsHookEx(hook);
    if (retHook) UnhookWindowsHookEx(retHook);
    PostMessageA(s_dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    if (WaitForSingleObject(ui, 20000) != WAIT_OBJECT_0) {
        std::printf("the dialog did not close\n");
        return 3;
    }
    return 0;
}
