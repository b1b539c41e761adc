#include "harness.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "app/DigestApp.h"
#include "app/DigestDlg.h"

namespace harness {
namespace {

const UINT kRunMsg = WM_APP + 1;

LRESULT CALLBACK HelperProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == kRunMsg) {
        (*reinterpret_cast<const std::function<void()>*>(w))();
        return 0;
    }
    return DefWindowProcA(h, msg, w, l);
}

struct FindCtx {
    HWND found = nullptr;
    HWND owner = nullptr;
};

BOOL CALLBACK FindDialogOfThread(HWND h, LPARAM l) {
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (std::string(cls) == "#32770" && IsWindowVisible(h)) {
        reinterpret_cast<FindCtx*>(l)->found = h;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindOwned(HWND h, LPARAM l) {
    auto* ctx = reinterpret_cast<FindCtx*>(l);
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (std::string(cls) == "#32770" && GetWindow(h, GW_OWNER) == ctx->owner && IsWindowVisible(h)) {
        ctx->found = h;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

App::App() {
    m_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_thread = CreateThread(nullptr, 0, &App::UiThread, this, 0, &m_threadId);
    WaitForSingleObject(m_ready, 10000);
    WaitUntil([&] {
        FindCtx ctx;
        EnumThreadWindows(m_threadId, FindDialogOfThread, reinterpret_cast<LPARAM>(&ctx));
        m_dlg = ctx.found;
        return m_dlg != nullptr;
    }, 10000);
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
    if (!Ended()) {
        PostMessageA(m_dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        // A run still active asks first: answer Yes.
        for (int i = 0; i < 100 && !Ended(50); ++i) {
            if (HWND box = WaitForOwnedDialog(m_dlg, 0)) PostMessageA(box, WM_COMMAND, IDYES, 0);
        }
    }
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

bool App::Ended(DWORD waitMs) const { return WaitForSingleObject(m_thread, waitMs) == WAIT_OBJECT_0; }

std::string Text(HWND wnd) {
    char buf[4096] = {};
    GetWindowTextA(wnd, buf, sizeof buf);
    return buf;
}

std::string ItemText(HWND dlg, int id) { return Text(GetDlgItem(dlg, id)); }
bool Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }
void Click(HWND dlg, int id) { SendMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0); }
void PostClick(HWND dlg, int id) { PostMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0); }

bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (pred()) return true;
        if (GetTickCount() - start >= timeoutMs) return pred();
        Sleep(5);
    }
}

HWND WaitForOwnedDialog(HWND owner, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] {
        FindCtx ctx;
        ctx.owner = owner;
        EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&ctx));
        found = ctx.found;
        return found != nullptr;
    }, timeoutMs);
    return found;
}

std::string MessageBoxText(HWND box) { return ItemText(box, 0xFFFF); }

RECT ChildRect(HWND dlg, int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(dlg, id), &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

static Image CaptureScreenRect(const RECT& r) {
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
    return CaptureScreenRect(r);
}

Image CaptureWindow(HWND wnd) {
    RECT r{};
    GetWindowRect(wnd, &r);
    return CaptureScreenRect(r);
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

}  // namespace harness
