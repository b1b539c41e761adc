#include "harness_core.h"

#include <commctrl.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <memory>

#include "app/DigestApp.h"
#include "app/DigestDlg.h"
#include "jobs/RunController.h"
#include "jobs/RunFlag.h"
#include "res/resource.h"
#include "tests/hex.h"

namespace harness {
namespace {

void ReportOnStderr(const char* file, int line, const std::string& what) {
    std::fprintf(stderr, "%s:%d: %s\n", file, line, what.c_str());
    std::fflush(stderr);
}

void (*s_report)(const char*, int, const std::string&) = &ReportOnStderr;

}  // namespace

void SetFailureReporter(void (*report)(const char* file, int line, const std::string& what)) {
    s_report = report ? report : &ReportOnStderr;
}

namespace {

const UINT kRunMsg = WM_APP + 1;
const UINT kRunOwnedMsg = WM_APP + 2;
// The helper window's timer that tells when the dialog's modal loop has
// passed the moment it shows the dialog; the event to set is the window's
// user data.
const UINT_PTR kShownTimer = 1;

LRESULT CALLBACK HelperProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == kRunMsg) {
        (*reinterpret_cast<const std::function<void()>*>(w))();
        return 0;
    }
    if (msg == kRunOwnedMsg) {
        std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(w));
        (*fn)();
        return 0;
    }
    if (msg == WM_TIMER && w == kShownTimer) {
        KillTimer(h, kShownTimer);
        SetEvent(reinterpret_cast<HANDLE>(GetWindowLongPtrA(h, GWLP_USERDATA)));
        return 0;
    }
    return DefWindowProcA(h, msg, w, l);
}

}  // namespace

App::App() {
    m_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_thread = CreateThread(nullptr, 0, &App::UiThread, this, 0, &m_threadId);
    WaitForSingleObject(m_ready, 10000);
    if (!WaitUntil([&] {
            m_dlg = FindTopLevel("#32770", [&](HWND h) { return GetWindowThreadProcessId(h, nullptr) == m_threadId; });
            return m_dlg != nullptr;
        }, 30000)) {
        s_report(__FILE__, __LINE__, "the main dialog did not appear within 30 s");
        return;
    }
    // The modal loop shows the dialog (again, and restored) when its queue
    // first runs empty, or right after it has handled its first WM_TIMER,
    // whichever comes first; a minimise or hide before that is undone. No
    // user is that quick. A queue seen empty from a handler is no proof: a
    // message sent or posted by the test right after the handler can reach
    // the loop before it looks again (a tray test's minimise then came back
    // as a shown window). So tests start once the loop has handled a timer
    // message: from then on it has shown the dialog before it takes any
    // message posted later.
    HANDLE shown = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetWindowLongPtrA(m_helper, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(shown));
    PostUi([h = m_helper] { SetTimer(h, kShownTimer, USER_TIMER_MINIMUM, nullptr); });
    if (WaitForSingleObject(shown, 30000) != WAIT_OBJECT_0)
        s_report(__FILE__, __LINE__, "the dialog's modal loop never handled a timer message");
    CloseHandle(shown);
}

DWORD WINAPI App::UiThread(LPVOID p) {
    App* self = static_cast<App*>(p);
    WNDCLASSA wc{};
    wc.lpfnWndProc = HelperProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QuellinTestHelper";
    RegisterClassA(&wc);  // fails harmlessly when already registered
    self->m_helper = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     wc.hInstance, nullptr);
    SetEvent(self->m_ready);
    theApp.InitInstance();
    DestroyWindow(self->m_helper);
    return 0;
}

App::~App() {
    if (!Ended()) ExitAnsweringYes(m_dlg, [&] { return Ended(); });
    if (!Ended(10000)) {
        std::fprintf(stderr, "harness: the dialog did not close\n");
        std::fflush(stderr);
        ExitProcess(3);
    }
    CloseHandle(m_thread);
    CloseHandle(m_ready);
}

CDigestDlg* App::dlg() const { return static_cast<CDigestDlg*>(theApp.m_pMainWnd); }

void App::OnUi(const std::function<void()>& fn) const {
    SendMessageA(m_helper, kRunMsg, reinterpret_cast<WPARAM>(&fn), 0);
}

void App::PostUi(std::function<void()> fn) const {
    auto* owned = new std::function<void()>(std::move(fn));
    PostMessageA(m_helper, kRunOwnedMsg, reinterpret_cast<WPARAM>(owned), 0);
}

void App::Sync() const {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    PostUi([done] { SetEvent(done); });
    WaitForSingleObject(done, 30000);
    CloseHandle(done);
}

bool App::Ended(DWORD waitMs) const { return WaitForSingleObject(m_thread, waitMs) == WAIT_OBJECT_0; }

std::string Narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

namespace {

// Text for a failure report, which GoogleTest shows as UTF-8.
std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

std::wstring TextW(HWND wnd) {
    std::vector<wchar_t> buf(32768);
    GetWindowTextW(wnd, buf.data(), static_cast<int>(buf.size()));
    return buf.data();
}

std::wstring ItemTextW(HWND dlg, int id) { return TextW(GetDlgItem(dlg, id)); }
bool Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }
namespace {

// A mouse cannot press a control that is hidden or disabled (under Wine a
// BM_CLICK still reaches the dialog then): such a click fails the test.
bool Pressable(HWND dlg, int id) {
    HWND c = GetDlgItem(dlg, id);
    const char* why = !c ? "does not exist" : !IsWindowVisible(c) ? "is hidden" : !IsWindowEnabled(c) ? "is disabled" : nullptr;
    if (!why) return true;
    s_report(__FILE__, __LINE__, "control " + std::to_string(id) + " (\"" + (c ? Utf8(TextW(c)) : std::string()) + "\") " + why +
                                     ": a person could not press it");
    return false;
}

}  // namespace

void Click(HWND dlg, int id) {
    if (Pressable(dlg, id)) SendMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}
void PostClick(HWND dlg, int id) {
    if (Pressable(dlg, id)) PostMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}
void SendCommand(HWND dlg, int id) { SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

bool TryClick(const App& app, int id) {
    bool pressed = false;
    app.OnUi([&] {
        HWND c = GetDlgItem(app.hwnd(), id);
        if (c && IsWindowVisible(c) && IsWindowEnabled(c)) {
            SendMessageA(c, BM_CLICK, 0, 0);
            pressed = true;
        }
    });
    return pressed;
}

bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (pred()) return true;
        if (GetTickCount() - start >= timeoutMs) return pred();
        Sleep(5);
    }
}

namespace {

struct TopLevelSearch {
    const char* cls;
    const std::function<bool(HWND)>& more;
    std::vector<HWND> found;
    static BOOL CALLBACK Visit(HWND h, LPARAM l) {
        auto* s = reinterpret_cast<TopLevelSearch*>(l);
        char name[64] = {};
        GetClassNameA(h, name, sizeof name);
        if (std::strcmp(name, s->cls) == 0 && IsWindowVisible(h) && (!s->more || s->more(h))) s->found.push_back(h);
        return TRUE;
    }
};

}  // namespace

std::vector<HWND> TopLevels(const char* cls, const std::function<bool(HWND)>& more) {
    TopLevelSearch search{cls, more, {}};
    EnumWindows(&TopLevelSearch::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindTopLevel(const char* cls, const std::function<bool(HWND)>& more) {
    const std::vector<HWND> found = TopLevels(cls, more);
    return found.empty() ? nullptr : found.front();
}

HWND WaitForOwnedDialog(HWND owner, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] {
        found = FindTopLevel("#32770", [&](HWND h) { return GetWindow(h, GW_OWNER) == owner; });
        return found != nullptr;
    }, timeoutMs);
    return found;
}

std::wstring MessageBoxText(HWND box) { return ItemTextW(box, 0xFFFF); }

WNDPROC Subclass(HWND wnd, WNDPROC proc) {
    return reinterpret_cast<WNDPROC>(SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

RECT ChildRect(HWND dlg, int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(dlg, id), &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

Image CaptureScreen(const RECT& r) {
    Image img;
    img.width = r.right - r.left;
    img.height = r.bottom - r.top;
    if (img.width <= 0 || img.height <= 0) return img;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = img.width;
    bi.bmiHeader.biHeight = -img.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, img.width, img.height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    img.px.assign(p, p + static_cast<size_t>(img.width) * img.height);
    for (auto& v : img.px) v &= 0xFFFFFF;
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return img;
}

Image CaptureClient(HWND wnd) {
    RECT r{};
    GetClientRect(wnd, &r);
    MapWindowPoints(wnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return CaptureScreen(r);
}

Image CaptureWindow(HWND wnd) {
    RECT r{};
    GetWindowRect(wnd, &r);
    return CaptureScreen(r);
}

std::string SaveBmp(const Image& img, const std::string& name) {
    const char* dir = std::getenv("QUELLIN_SHOTS_DIR");
    std::string path = (dir && *dir) ? std::string(dir) + "\\" + name : name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return std::string();
    const int rowBytes = (img.width * 3 + 3) & ~3;
    const uint32_t dataSize = static_cast<uint32_t>(rowBytes) * img.height;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    fh.bfSize = fh.bfOffBits + dataSize;
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof ih;
    ih.biWidth = img.width;
    ih.biHeight = img.height;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biSizeImage = dataSize;
    std::fwrite(&fh, sizeof fh, 1, f);
    std::fwrite(&ih, sizeof ih, 1, f);
    std::vector<unsigned char> row(static_cast<size_t>(rowBytes));
    for (int y = img.height - 1; y >= 0; --y) {
        for (int x = 0; x < img.width; ++x) {
            const uint32_t v = img.at(x, y);
            row[static_cast<size_t>(x) * 3 + 0] = static_cast<unsigned char>(v & 0xFF);
            row[static_cast<size_t>(x) * 3 + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
            row[static_cast<size_t>(x) * 3 + 2] = static_cast<unsigned char>((v >> 16) & 0xFF);
        }
        std::fwrite(row.data(), row.size(), 1, f);
    }
    std::fclose(f);
    return path;
}

void Settle(const App& app) {
    app.OnUi([&] { RedrawWindow(app.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW); });
    Sleep(300);
}

TempDir::TempDir() {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    m_path = std::wstring(base) + L"quellin-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++counter);
    RemoveTree(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(m_path); }

namespace {

// The "\\?\" form of a full path made by a test, in which every name is
// the one given.
std::wstring LongForm(const std::wstring& fullPath) { return L"\\\\?\\" + fullPath; }

}  // namespace

std::wstring TempDir::Sub(const std::wstring& rel) const {
    for (size_t i = rel.find(L'\\'); i != std::wstring::npos; i = rel.find(L'\\', i + 1))
        CreateDirectoryW(LongForm(m_path + L"\\" + rel.substr(0, i)).c_str(), nullptr);
    return m_path + L"\\" + rel;
}

std::wstring TempDir::File(const std::wstring& rel, const std::string& bytes) const {
    const std::wstring path = Sub(rel);
    WriteText(path, bytes);
    return path;
}

namespace {

// Every name below the folder (in its "\\?\" form), whatever its script or length.
void RemoveAll(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveAll(child);
            else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(child.c_str());
            else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace

void RemoveTree(const std::wstring& path) { RemoveAll(LongForm(path)); }

void WriteText(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok = h != INVALID_HANDLE_VALUE &&
                    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!ok) s_report(__FILE__, __LINE__, "could not write " + Utf8(path));
}

void WriteFile(const std::wstring& path, size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    WriteText(path, bytes);
}

void WriteSparse(const std::wstring& path, unsigned long long size) {
    HANDLE h = CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER pos;
    pos.QuadPart = static_cast<LONGLONG>(size);
    SetFilePointerEx(h, pos, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
    CloseHandle(h);
}

std::wstring OracleMd5(const std::wstring& path) {
    HCRYPTPROV prov = 0;
    HCRYPTHASH hash = 0;
    std::wstring result;
    if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return result;
    if (CryptCreateHash(prov, CALG_MD5, 0, 0, &hash)) {
        FILE* f = _wfopen(LongForm(path).c_str(), L"rb");
        if (f) {
            std::vector<unsigned char> buf(1 << 20);
            size_t n;
            while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) CryptHashData(hash, buf.data(), static_cast<DWORD>(n), 0);
            std::fclose(f);
            BYTE digest[16];
            DWORD len = sizeof digest;
            if (CryptGetHashParam(hash, HP_HASHVAL, digest, &len, 0)) result = Hex<std::wstring>(digest);
        }
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(prov, 0);
    return result;
}

HDROP MakeDrop(const std::vector<std::wstring>& paths) {
    size_t chars = 2;  // the list ends in two zero characters, even when it is empty
    for (const auto& p : paths) chars += p.size() + 1;
    HGLOBAL mem = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* df = static_cast<DROPFILES*>(GlobalLock(mem));
    df->pFiles = sizeof(DROPFILES);
    df->fWide = TRUE;
    wchar_t* out = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(df) + sizeof(DROPFILES));
    for (const auto& p : paths) {
        std::memcpy(out, p.c_str(), (p.size() + 1) * sizeof(wchar_t));
        out += p.size() + 1;
    }
    *out = L'\0';
    GlobalUnlock(mem);
    return static_cast<HDROP>(mem);
}

void Drop(const App& app, const std::vector<std::wstring>& paths) {
    PostMessageA(app.hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
    app.Sync();
}

bool PostDrop(HWND wnd, const std::vector<std::wstring>& paths) {
    // A fixed block in the other process: its address is its HGLOBAL there
    // (GlobalLock gives it back; DragFinish's GlobalFree lets it be).
    HGLOBAL local = MakeDrop(paths);
    const SIZE_T size = GlobalSize(local);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
    void* remote = process ? VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) : nullptr;
    const bool written = remote && WriteProcessMemory(process, remote, GlobalLock(local), size, nullptr);
    GlobalUnlock(local);
    GlobalFree(local);
    if (process) CloseHandle(process);
    const bool posted = written && PostMessageW(wnd, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
    if (!posted) s_report(__FILE__, __LINE__, "no drop could be made for the other process");
    return posted;
}

std::wstring CellTextW(HWND dlg, int row, int col) {
    std::vector<wchar_t> buf(32768);
    LVITEMW item{};
    item.iSubItem = col;
    item.pszText = buf.data();
    item.cchTextMax = static_cast<int>(buf.size());
    SendMessageW(GetDlgItem(dlg, IDC_FILELIST), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return buf.data();
}

int RowCount(HWND dlg) { return static_cast<int>(SendMessageA(GetDlgItem(dlg, IDC_FILELIST), LVM_GETITEMCOUNT, 0, 0)); }

std::vector<std::pair<std::wstring, std::wstring>> ListRowsW(HWND dlg) {
    const int n = RowCount(dlg);
    std::vector<std::pair<std::wstring, std::wstring>> rows;
    rows.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) rows.emplace_back(CellTextW(dlg, i, 0), CellTextW(dlg, i, 1));
    return rows;
}

bool WaitIdle(HWND dlg, DWORD timeoutMs) {
    return WaitUntil([&] { return g_bWorking.load() == 0 && Enabled(dlg, IDOK) && Enabled(dlg, IDC_OPEN); }, timeoutMs);
}

bool RunFile(const App& app, const std::wstring& path, DWORD timeoutMs) {
    if (!ChooseInOpenDialog(app.hwnd(), path)) return false;
    app.Sync();  // the Open handler has finished
    Click(app.hwnd(), IDOK);
    return WaitIdle(app.hwnd(), timeoutMs);
}

void Answer(HWND box, int id) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); });
}

double AnswerExitQuestion(HWND dlg, const std::function<bool()>& ended) {
    HWND box = nullptr;
    WaitUntil([&] { return (box = WaitForOwnedDialog(dlg, 0)) != nullptr || (ended && ended()); });
    if (!box) {
        if (ended && ended()) return 0;
        s_report(__FILE__, __LINE__, "no exit question");
        return -1;
    }
    const std::wstring text = RemoteText(box, 0xFFFF);
    if (text != W(kExitQuestion))
        s_report(__FILE__, __LINE__, "answered Yes to \"" + Utf8(text) + "\", not the exit question");
    const double t0 = NowMs();
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    return t0;
}

double ExitAnsweringYes(HWND dlg, const std::function<bool()>& ended) {
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return AnswerExitQuestion(dlg, ended);
}

std::wstring Counter(HWND dlg) { return ItemTextW(dlg, IDC_LISTCOUNT); }

bool WaitEnded(const App& app, DWORD timeoutMs) {
    if (!WaitIdle(app.hwnd(), timeoutMs)) return false;
    return WaitUntil([&] {
        bool busy = true;
        app.OnUi([&] { busy = RunInProgress() || CheckThreadRunning(); });
        return !busy;
    }, 5000);
}

bool DropAndStart(const App& app, const std::vector<std::wstring>& targets) {
    Drop(app, targets);
    const std::wstring queued = std::to_wstring(targets.size()) + L"/" + std::to_wstring(targets.size());
    if (!WaitUntil([&] { return Counter(app.hwnd()) == queued; })) return false;
    Click(app.hwnd(), IDOK);
    return true;
}

std::wstring RemoteText(HWND dlg, int id) {
    std::vector<wchar_t> buf(32768);
    DWORD_PTR len = 0;
    SendMessageTimeoutW(GetDlgItem(dlg, id), WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_NORMAL,
                        2000, &len);
    return buf.data();
}

bool ChooseInOpenDialog(HWND dlg, const std::wstring& path, const std::function<void(HWND)>& look) {
    // The file-name field of the Open dialog (a combo box whose edit has the same id).
    const int kFileName = 0x47C;
    PostClick(dlg, IDC_OPEN);
    HWND open = WaitForOwnedDialog(dlg);
    if (!open) {
        s_report(__FILE__, __LINE__, "no Open dialog");
        return false;
    }
    if (look) look(open);
    if (path.empty()) {
        PostMessageA(open, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    } else {
        // The dialog can be visible before its field takes text: set it
        // until it reads back.
        if (!WaitUntil([&] {
                SetDlgItemTextW(open, kFileName, path.c_str());
                return RemoteText(open, kFileName) == path;
            }, 10000)) {
            s_report(__FILE__, __LINE__, "the Open dialog's file-name field does not take " + Utf8(path));
            return false;
        }
        PostClick(open, IDOK);
    }
    if (!WaitUntil([&] { return !IsWindow(open); }, 10000)) {
        s_report(__FILE__, __LINE__, "the Open dialog is still shown");
        return false;
    }
    return true;
}

ClipText ReadClipboard() {
    ClipText out;
    if (!WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }, 2000)) {
        s_report(__FILE__, __LINE__, "the clipboard stays open");
        return out;
    }
    if (HANDLE h = GetClipboardData(CF_TEXT)) {
        if (const char* p = static_cast<const char*>(GlobalLock(h))) {
            out.present = true;
            out.text = p;
            GlobalUnlock(h);
        }
    }
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(h))) {
            out.unicode = p;
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    return out;
}

bool PutClipboardText(const std::wstring& text) {
    if (!WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }, 2000)) {
        s_report(__FILE__, __LINE__, "the clipboard stays open");
        return false;
    }
    EmptyClipboard();
    bool put = true;
    if (!text.empty()) {
        const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
        void* dest = block ? GlobalLock(block) : nullptr;
        put = dest != nullptr;
        if (dest) {
            memcpy(dest, text.c_str(), bytes);
            GlobalUnlock(block);
            put = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
        }
        if (!put && block) GlobalFree(block);
    }
    CloseClipboard();
    if (!put) s_report(__FILE__, __LINE__, "the text did not go onto the clipboard");
    return put;
}

HeldOpen::HeldOpen(const std::wstring& path)
    : m_h(CreateFileW(LongForm(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {
    if (m_h == INVALID_HANDLE_VALUE) s_report(__FILE__, __LINE__, "could not hold " + Utf8(path) + " open");
}

HeldOpen::~HeldOpen() {
    if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
}

std::wstring WinPath(const std::wstring& unixPath) {
    std::wstring p = L"Z:" + unixPath;
    for (wchar_t& c : p)
        if (c == L'/') c = L'\\';
    return p;
}

std::wstring EnvPath(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value && *value ? WinPath(value) : std::wstring();
}

double NowMs() {
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / perMs;
}

int BarMax(HWND bar) { return static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)); }
int BarPos(HWND bar) { return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)); }

}  // namespace harness
