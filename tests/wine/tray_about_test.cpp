// The main window and the shell: the notification-area icon and its menu,
// the system menu's About entry, and the About box with its two links.
#include <gtest/gtest.h>
#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "app/AboutDlg.h"
#include "app/DigestDlg.h"
#include "app/Messages.h"
#include "app/Tray.h"
#include "harness.h"
#include "jobs/JobState.h"
#include "res/resource.h"

using namespace harness;

// Live objects made with new: the About box must not leave any behind.
static std::atomic<long> g_liveAllocations{0};

void* operator new(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    ++g_liveAllocations;
    return p;
}
void operator delete(void* p) noexcept {
    if (!p) return;
    --g_liveAllocations;
    std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

const UINT kIconId = 128;

// ---------------------------------------------------------------- shell seam

struct ShellCall {
    HWND owner;
    std::wstring verb, file;
    bool params, dir;
    int show;
};
std::vector<ShellCall> g_shellCalls;  // written on the UI thread inside a sent message

HINSTANCE WINAPI RecordShellOpen(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR params, LPCWSTR dir, INT show) {
    g_shellCalls.push_back({owner, verb ? verb : L"", file ? file : L"", params != nullptr, dir != nullptr, show});
    return reinterpret_cast<HINSTANCE>(42);
}

// A link opens its address with the "open" verb, shown, and nothing else.
void ExpectOpened(const ShellCall& call, const wchar_t* file) {
    EXPECT_EQ(call.owner, nullptr);
    EXPECT_EQ(call.verb, L"open");
    EXPECT_EQ(call.file, file);
    EXPECT_FALSE(call.params);
    EXPECT_FALSE(call.dir);
    EXPECT_EQ(call.show, SW_SHOW);
}

// The icon's calls, recorded on their way to the shell.
struct NotifyCall {
    DWORD message;
    NOTIFYICONDATAW data;
    BOOL result;
};
CRITICAL_SECTION g_notifyLock;
std::vector<NotifyCall> g_notifyCalls;

BOOL WINAPI RecordNotifyIcon(DWORD message, PNOTIFYICONDATAW data) {
    const BOOL result = Shell_NotifyIconW(message, data);
    EnterCriticalSection(&g_notifyLock);
    g_notifyCalls.push_back({message, *data, result});
    LeaveCriticalSection(&g_notifyLock);
    return result;
}

std::vector<NotifyCall> TakeNotifyCalls() {
    EnterCriticalSection(&g_notifyLock);
    std::vector<NotifyCall> calls;
    calls.swap(g_notifyCalls);
    LeaveCriticalSection(&g_notifyLock);
    return calls;
}

// Every test records the links' calls instead of starting a mail program,
// and sees the icon's calls.
const bool s_shellSeam = (InitializeCriticalSection(&g_notifyLock), FakeInEveryTest(g_pfnShellOpen, &RecordShellOpen),
                          FakeInEveryTest(g_pfnNotifyIcon, &RecordNotifyIcon), true);

// ---------------------------------------------------------------- tray

// True while the shell has an icon 128 of the window: modifying works only
// on an icon that is there.
bool IconPresent(HWND dlg) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
    nid.hWnd = dlg;
    nid.uID = kIconId;
    nid.uFlags = NIF_TIP;
    lstrcpynW(nid.szTip, W(kTrayTip).c_str(), 64);
    return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

BOOL DeleteIcon(HWND dlg) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
    nid.hWnd = dlg;
    nid.uID = kIconId;
    return Shell_NotifyIconW(NIM_DELETE, &nid);
}

int IconWidth(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return 0;
    BITMAP bm{};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return bm.bmWidth;
}

void ExpectAdd(const NotifyCall& c, HWND dlg) {
    EXPECT_EQ(c.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(c.data.cbSize, static_cast<DWORD>(NOTIFYICONDATAW_V1_SIZE));
    EXPECT_EQ(c.data.cbSize, sizeof(void*) == 4 ? 152u : 168u);
    EXPECT_EQ(c.data.hWnd, dlg);
    EXPECT_EQ(c.data.uID, kIconId);
    EXPECT_EQ(c.data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(c.data.uCallbackMessage, 1174u);
    EXPECT_EQ(c.data.hIcon, LoadSmallIcon());
    EXPECT_EQ(IconWidth(c.data.hIcon), 16) << "the tray gets the 16 x 16 image, not a shrunk 32 x 32 one";
    EXPECT_EQ(std::wstring(c.data.szTip), W(kTrayTip));
}

void ExpectDelete(const NotifyCall& c, HWND dlg) {
    EXPECT_EQ(c.message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(c.data.cbSize, static_cast<DWORD>(NOTIFYICONDATAW_V1_SIZE));
    EXPECT_EQ(c.data.hWnd, dlg);
    EXPECT_EQ(c.data.uID, kIconId);
}

LRESULT TrayMessage(HWND dlg, WPARAM id, LPARAM mouse) {
    DWORD_PTR result = 0xDEAD;
    // Restoring a hidden top-most window can take Wine seconds on a busy
    // machine: the limit only catches a handler that never returns.
    EXPECT_TRUE(SendMessageTimeoutA(dlg, WM_TRAYNOTIFY, id, mouse, SMTO_NORMAL, 30000, &result))
        << "the tray message " << mouse << " did not return";
    return static_cast<LRESULT>(result);
}

void MinimiseToTray(HWND dlg) {
    PostMessageA(dlg, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(dlg); })) << "the window did not hide";
}

// The window minimised into the tray, as most tray tests begin.
class InTray : public ::testing::Test {
protected:
    void SetUp() override { MinimiseToTray(dlg); }
    App app;
    HWND dlg = app.hwnd();
};

HWND WaitForPopupMenu() {
    HWND menu = nullptr;
    WaitUntil([&] { return (menu = FindTopLevel("#32768")) != nullptr; });
    return menu;
}

// Opens the tray menu as a right click on the icon does (posted: the menu
// runs its own loop inside the handler).
HWND OpenTrayMenu(HWND dlg) {
    PostMessageA(dlg, WM_TRAYNOTIFY, kIconId, WM_RBUTTONUP);
    return WaitForPopupMenu();
}

// Counts the activations of a window of the UI thread while it lives.
class ActivationWatch {
public:
    ActivationWatch(const App& app, HWND wnd) {
        s_wnd = wnd;
        s_count = 0;
        m_hook = SetWindowsHookExA(WH_CALLWNDPROC, &Proc, nullptr, app.uiThreadId());
        EXPECT_NE(m_hook, nullptr);
    }
    ~ActivationWatch() { UnhookWindowsHookEx(m_hook); }
    ActivationWatch(const ActivationWatch&) = delete;
    ActivationWatch& operator=(const ActivationWatch&) = delete;
    int Count() const { return s_count; }

private:
    static LRESULT CALLBACK Proc(int code, WPARAM w, LPARAM l) {
        const auto* m = reinterpret_cast<const CWPSTRUCT*>(l);
        if (code == HC_ACTION && m->hwnd == s_wnd && m->message == WM_ACTIVATE && LOWORD(m->wParam) != WA_INACTIVE)
            ++s_count;
        return CallNextHookEx(nullptr, code, w, l);
    }
    static inline HWND s_wnd = nullptr;
    static inline std::atomic<int> s_count{0};
    HHOOK m_hook = nullptr;
};

// Picks the item at the position given (0 Show, 1 Exit, 2 About) by keyboard.
void ChooseMenuItem(HWND menu, int pos) {
    for (int i = 0; i <= pos; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(menu) || !IsWindowVisible(menu); })) << "the menu stayed open";
}

// ---------------------------------------------------------------- About box

HWND WaitForAboutBox(HWND dlg, DWORD ms = 5000) {
    HWND box = WaitForOwnedDialog(dlg, ms);
    if (box && TextW(box) != L"关于 Quellin") return nullptr;
    return box;
}

void CloseBox(HWND box) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); })) << "the About box did not close";
}

// The About box from the system menu's entry (the command as a posted
// message, like a click on the entry).
HWND OpenAboutBox(HWND dlg, WPARAM command = IDM_ABOUTBOX) {
    PostMessageA(dlg, WM_SYSCOMMAND, command, 0);
    return WaitForAboutBox(dlg);
}

std::vector<std::wstring> StaticTexts(HWND box) {
    std::vector<std::wstring> texts;
    for (HWND h = GetWindow(box, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        char cls[32] = {};
        GetClassNameA(h, cls, sizeof cls);
        if (std::string(cls) == "Static" && (GetWindowLongA(h, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            texts.push_back(TextW(h));
    }
    return texts;
}

void ExpectRect(const RECT& r, LONG l, LONG t, LONG rt, LONG b) {
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.right, rt);
    EXPECT_EQ(r.bottom, b);
}

HFONT FontOf(HWND wnd) { return reinterpret_cast<HFONT>(SendMessageA(wnd, WM_GETFONT, 0, 0)); }

// Checks one opening of the box: links in place, with their texts, style and
// the underlined font. Returns the links' font.
HFONT ExpectLinks(HWND box) {
    struct Link {
        int id;
        const wchar_t* text;
        RECT rect;
    };
    const Link links[] = {{IDC_MAILLINK, L"dev@example.com", {70, 91, 165, 106}},
                          {IDC_WEBLINK, L"http://example.com/quellin/", {70, 113, 239, 128}}};
    HFONT font = nullptr;
    for (const Link& l : links) {
        SCOPED_TRACE(l.id);
        HWND h = GetDlgItem(box, l.id);
        EXPECT_NE(h, nullptr);
        if (!h) continue;
        EXPECT_EQ(TextW(h), l.text);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE)), 0x50000100u);
        ExpectRect(ChildRect(box, l.id), l.rect.left, l.rect.top, l.rect.right, l.rect.bottom);
        HFONT f = FontOf(h);
        LOGFONTA lf{};
        EXPECT_TRUE(GetObjectA(f, sizeof lf, &lf));
        EXPECT_TRUE(lf.lfUnderline);
        EXPECT_EQ(lf.lfHeight, 12);
        EXPECT_EQ(lf.lfWeight, FW_NORMAL);
        EXPECT_EQ(lf.lfCharSet, GB2312_CHARSET);
        EXPECT_STREQ(lf.lfFaceName, kFontFace);
        if (!font) font = f;
        EXPECT_EQ(f, font) << "both links share one font";
    }
    return font;
}

// Windows of the UI thread, children included.
int CountWindows(DWORD threadId) {
    int n = 0;
    EnumThreadWindows(threadId, [](HWND h, LPARAM l) -> BOOL {
        int* count = reinterpret_cast<int*>(l);
        ++*count;
        EnumChildWindows(h, [](HWND, LPARAM c) -> BOOL { ++*reinterpret_cast<int*>(c); return TRUE; }, l);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&n));
    return n;
}

}  // namespace

// ================================================================ system menu

TEST(SystemMenu, AboutEntryAfterASeparator) {
    App app;
    HMENU sys = GetSystemMenu(app.hwnd(), FALSE);
    ASSERT_NE(sys, nullptr);
    const int n = GetMenuItemCount(sys);
    ASSERT_GE(n, 2);
    EXPECT_TRUE(GetMenuState(sys, n - 2, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(GetMenuItemID(sys, n - 1), static_cast<UINT>(IDM_ABOUTBOX));
    wchar_t text[64] = {};
    GetMenuStringW(sys, n - 1, text, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(text), L"关于 Quellin(&A)...");
    EXPECT_FALSE(GetMenuState(sys, n - 1, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED));
}

TEST(SystemMenu, CommandsSixteenToThirtyOneOpenTheAboutBox) {
    App app;
    HWND dlg = app.hwnd();
    for (WPARAM command : {16, 17, 24, 31}) {
        SCOPED_TRACE(command);
        HWND box = OpenAboutBox(dlg, command);
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(IsWindowEnabled(dlg)) << "the main window is the box's disabled owner";
        CloseBox(box);
        EXPECT_TRUE(IsWindowEnabled(dlg));
    }
    // Neighbours of the range are not the About command.
    for (WPARAM command : {15, 32}) {
        SCOPED_TRACE(command);
        PostMessageA(dlg, WM_SYSCOMMAND, command, 0);
        EXPECT_EQ(WaitForOwnedDialog(dlg, 400), nullptr);
    }
    EXPECT_TRUE(IsWindowVisible(dlg));
}

TEST(SystemMenu, MinimiseWithLowBitsGetsOnlyDefaultProcessing) {
    App app;
    HWND dlg = app.hwnd();
    TakeNotifyCalls();
    PostMessageA(dlg, WM_SYSCOMMAND, SC_MINIMIZE | 1, 0);
    // The system carries it out as a minimise, but the window is not taken
    // into the notification area.
    EXPECT_TRUE(WaitUntil([&] { return IsIconic(dlg) != FALSE; }, 3000));
    app.OnUi([] {});
    EXPECT_TRUE(IsWindowVisible(dlg));
    EXPECT_FALSE(IconPresent(dlg));
    EXPECT_TRUE(TakeNotifyCalls().empty());
    app.OnUi([&] { ShowWindow(dlg, SW_RESTORE); });
}

// ================================================================ tray icon

TEST(Tray, MinimiseHidesIntoTheTrayAndLeftButtonDownRestores) {
    App app;
    HWND dlg = app.hwnd();
    EXPECT_FALSE(IconPresent(dlg)) << "no icon before the first minimise";
    TakeNotifyCalls();

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        MinimiseToTray(dlg);
        app.OnUi([] {});
        // Every minimise asks for the icon; only the first gets one, and
        // the later ones find it there.
        const auto calls = TakeNotifyCalls();
        ASSERT_EQ(calls.size(), round == 0 ? 1u : 2u);
        ExpectAdd(calls[0], dlg);
        EXPECT_EQ(calls[0].result, round == 0 ? TRUE : FALSE);
        if (round > 0) {
            EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_MODIFY));
            EXPECT_TRUE(calls[1].result);
        }
        EXPECT_TRUE(IconPresent(dlg));
        EXPECT_EQ(TrayMessage(dlg, kIconId, WM_LBUTTONDOWN), 0);
        EXPECT_TRUE(IsWindowVisible(dlg));
        EXPECT_FALSE(IsIconic(dlg));
        EXPECT_TRUE(IconPresent(dlg)) << "a restore leaves the icon in place";
    }
    // One icon throughout: the shell already has this window's icon 128.
    NOTIFYICONDATAW nid{};
    nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
    nid.hWnd = dlg;
    nid.uID = kIconId;
    EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &nid));
    // And exactly that one: after deleting it there is none.
    EXPECT_TRUE(DeleteIcon(dlg));
    EXPECT_FALSE(IconPresent(dlg));
}

// A shell that refuses the icon (busy at log-on, say) is asked a few times;
// then the window stays minimised on the taskbar instead of hiding where
// nothing could bring it back.
namespace {
std::atomic<int> s_refused{0};
BOOL WINAPI RefuseNotifyIcon(DWORD, PNOTIFYICONDATAW) {
    ++s_refused;
    return FALSE;
}
}  // namespace

TEST(Tray, RefusedIconLeavesTheWindowMinimisedNotHidden) {
    App app;
    HWND dlg = app.hwnd();
    s_refused = 0;
    {
        Fake refuse(g_pfnNotifyIcon, &RefuseNotifyIcon);
        PostMessageA(dlg, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        app.Sync();
    }
    EXPECT_TRUE(IsIconic(dlg));
    EXPECT_TRUE(IsWindowVisible(dlg)) << "hidden without an icon to bring it back";
    EXPECT_GE(s_refused.load(), 2) << "the shell was asked only once";
    EXPECT_FALSE(IconPresent(dlg));
    // The next minimise, with the shell answering again, hides as usual.
    app.OnUi([&] { ShowWindow(dlg, SW_RESTORE); });
    MinimiseToTray(dlg);
    EXPECT_TRUE(IconPresent(dlg));
}

// The title bar gets the 16 x 16 image of the icon, the big icon the 32 x 32 one.
TEST(Tray, WindowIconsHaveTheirOwnSizes) {
    App app;
    HWND dlg = app.hwnd();
    EXPECT_EQ(IconWidth(reinterpret_cast<HICON>(SendMessageA(dlg, WM_GETICON, ICON_SMALL, 0))), 16);
    EXPECT_EQ(IconWidth(reinterpret_cast<HICON>(SendMessageA(dlg, WM_GETICON, ICON_BIG, 0))), 32);
}

// Exit or About from the tray menu while a box of the program is open (here
// the About box) opens nothing more: no exit question, no second About box.
TEST(Tray, MenuExitAndAboutWhileABoxIsOpenNestNothing) {
    App app;
    HWND dlg = app.hwnd();
    HWND about = OpenAboutBox(dlg);
    ASSERT_NE(about, nullptr);
    Fake working(g_bWorking, 1);  // as while a run is active: Exit would ask
    for (const int item : {1, 2}) {
        SCOPED_TRACE(item == 1 ? "Exit" : "About");
        HWND menu = OpenTrayMenu(dlg);
        ASSERT_NE(menu, nullptr);
        ChooseMenuItem(menu, item);
        app.Sync();
        const auto boxes = TopLevels("#32770", [&](HWND h) {
            return GetWindow(h, GW_OWNER) == dlg || GetWindow(h, GW_OWNER) == GetLastActivePopup(dlg);
        });
        EXPECT_EQ(boxes.size(), 1u) << "another box was opened";
        EXPECT_TRUE(IsWindow(about));
        EXPECT_FALSE(app.Ended(0));
    }
    CloseBox(about);
    EXPECT_TRUE(IsWindowEnabled(dlg));
}

TEST_F(InTray, OnlyLeftButtonDownAndRightButtonUpAct) {
    for (LPARAM mouse : {WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK, WM_MOUSEMOVE,
                         WM_MBUTTONDOWN, WM_MBUTTONUP}) {
        SCOPED_TRACE(mouse);
        EXPECT_EQ(TrayMessage(dlg, kIconId, mouse), 0);
        EXPECT_FALSE(IsWindowVisible(dlg));
        EXPECT_EQ(FindTopLevel("#32768"), nullptr);
    }
    // Another icon's messages are answered with 1 and change nothing.
    for (LPARAM mouse : {WM_LBUTTONDOWN, WM_RBUTTONUP}) {
        SCOPED_TRACE(mouse);
        EXPECT_EQ(TrayMessage(dlg, kIconId + 1, mouse), 1);
        EXPECT_EQ(TrayMessage(dlg, 0, mouse), 1);
        EXPECT_FALSE(IsWindowVisible(dlg));
        EXPECT_EQ(FindTopLevel("#32768"), nullptr);
    }
    EXPECT_TRUE(IconPresent(dlg));
}

TEST_F(InTray, MenuItemsShowAndDismiss) {
    ActivationWatch activations(app, dlg);
    HWND menu = OpenTrayMenu(dlg);
    ASSERT_NE(menu, nullptr);
    // The owner was activated (made the foreground window) for the menu, so
    // that the menu closes when the user clicks elsewhere. Wine may hand the
    // foreground on again at once when the X focus moves, so the activation
    // itself is what counts.
    EXPECT_GT(activations.Count(), 0);
    HMENU items = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
    ASSERT_NE(items, nullptr);
    ASSERT_EQ(GetMenuItemCount(items), 3);
    const UINT ids[] = {ID_TRAY_SHOW, ID_TRAY_EXIT, ID_TRAY_ABOUT};
    const wchar_t* texts[] = {L"显示", L"退出", L"关于"};
    for (int i = 0; i < 3; ++i) {
        wchar_t text[32] = {};
        GetMenuStringW(items, i, text, 32, MF_BYPOSITION);
        EXPECT_EQ(std::wstring(text), texts[i]);
        EXPECT_EQ(GetMenuItemID(items, i), ids[i]);
    }
    Sleep(200);
    SaveBmp(CaptureWindow(menu), "tray-menu.bmp");

    // Leaving the menu without a choice does nothing.
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(menu) || !IsWindowVisible(menu); }));
    app.OnUi([] {});  // the handler has returned
    EXPECT_FALSE(IsWindowVisible(dlg));
    EXPECT_TRUE(IconPresent(dlg));

    // Show brings the window back; the icon stays.
    menu = OpenTrayMenu(dlg);
    ASSERT_NE(menu, nullptr);
    ChooseMenuItem(menu, 0);
    app.OnUi([] {});  // the handler has returned
    EXPECT_TRUE(IsWindowVisible(dlg));
    EXPECT_FALSE(IsIconic(dlg));
    EXPECT_TRUE(IconPresent(dlg));
    EXPECT_EQ(WaitForOwnedDialog(dlg, 200), nullptr);
}

TEST_F(InTray, MenuAboutOpensTheAboutBox) {
    HWND menu = OpenTrayMenu(dlg);
    ASSERT_NE(menu, nullptr);
    ChooseMenuItem(menu, 2);
    HWND box = WaitForAboutBox(dlg);
    ASSERT_NE(box, nullptr);
    ExpectLinks(box);
    CloseBox(box);
    EXPECT_FALSE(IsWindowVisible(dlg)) << "About leaves the window in the notification area";
    EXPECT_TRUE(IconPresent(dlg));
}

TEST_F(InTray, MenuExitWhileIdleEndsAndRemovesTheIcon) {
    ASSERT_TRUE(IconPresent(dlg));
    HWND menu = OpenTrayMenu(dlg);
    ASSERT_NE(menu, nullptr);
    TakeNotifyCalls();
    ChooseMenuItem(menu, 1);
    EXPECT_TRUE(app.Ended(5000));
    const auto calls = TakeNotifyCalls();
    ASSERT_EQ(calls.size(), 1u);
    ExpectDelete(calls[0], dlg);
    EXPECT_TRUE(calls[0].result) << "the icon was there to remove";
    EXPECT_FALSE(IconPresent(dlg));
}

TEST_F(InTray, MenuExitWhileARunIsActiveAsksFirst) {
    Fake working(g_bWorking, 1);  // as while the checking thread runs
    TakeNotifyCalls();
    HWND menu = OpenTrayMenu(dlg);
    ASSERT_NE(menu, nullptr);
    ChooseMenuItem(menu, 1);
    HWND question = WaitForOwnedDialog(dlg);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(MessageBoxText(question), W(kExitQuestion));
    Answer(question, IDNO);
    EXPECT_FALSE(app.Ended(300));
    EXPECT_FALSE(IsWindowVisible(dlg)) << "declined: the window stays hidden";
    EXPECT_TRUE(IconPresent(dlg));
    EXPECT_TRUE(TakeNotifyCalls().empty());

    menu = OpenTrayMenu(dlg);
    ASSERT_NE(menu, nullptr);
    ChooseMenuItem(menu, 1);
    EXPECT_GT(AnswerExitQuestion(dlg), 0);
    EXPECT_TRUE(app.Ended(5000));
    const auto calls = TakeNotifyCalls();
    ASSERT_EQ(calls.size(), 1u);
    ExpectDelete(calls[0], dlg);
    EXPECT_TRUE(calls[0].result);
    EXPECT_FALSE(IconPresent(dlg));
}

TEST(Tray, ShellRestartAddsTheIconAgain) {
    App app;
    HWND dlg = app.hwnd();
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    // Before the window went to the notification area: no icon to restore.
    TakeNotifyCalls();
    SendMessageA(dlg, taskbarCreated, 0, 0);
    EXPECT_FALSE(IconPresent(dlg));
    EXPECT_TRUE(TakeNotifyCalls().empty());

    MinimiseToTray(dlg);
    // A new shell starts without icons.
    ASSERT_TRUE(DeleteIcon(dlg));
    TakeNotifyCalls();
    SendMessageA(dlg, taskbarCreated, 0, 0);
    const auto calls = TakeNotifyCalls();
    ASSERT_EQ(calls.size(), 1u);
    ExpectAdd(calls[0], dlg);
    EXPECT_TRUE(IconPresent(dlg));
    EXPECT_FALSE(IsWindowVisible(dlg));

    // Still reachable: a left click brings the window back.
    EXPECT_EQ(TrayMessage(dlg, kIconId, WM_LBUTTONDOWN), 0);
    EXPECT_TRUE(IsWindowVisible(dlg));
}

TEST_F(InTray, AClickOnTheShellsIconRestoresTheWindow) {
    // Wine's own notification area (no desktop shell under plain Xvfb): one
    // small window per icon inside a "Wine System Tray" window.
    HWND tray = nullptr;
    WaitUntil([&] { return (tray = FindTopLevel("__winex11_standalone_tray")) != nullptr; }, 2000);
    HWND icon = tray ? FindWindowExA(tray, nullptr, "__winex11_tray_icon", nullptr) : nullptr;
    if (!icon || FindWindowExA(tray, icon, "__winex11_tray_icon", nullptr))
        GTEST_SKIP() << "no single icon in Wine's standalone tray";
    Sleep(200);
    SaveBmp(CaptureWindow(tray), "tray-icon.bmp");

    // The shell forwards the press as the icon's callback message.
    PostMessageA(icon, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 8));
    PostMessageA(icon, WM_LBUTTONUP, 0, MAKELPARAM(8, 8));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(dlg) && !IsIconic(dlg); }));
}

// ================================================================ About box

TEST(AboutBox, TextsIconAndLinksAtEveryOpening) {
    App app;
    HWND dlg = app.hwnd();
    HFONT earlier = nullptr;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        HWND box = OpenAboutBox(dlg);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(GetWindow(box, GW_OWNER), dlg);

        const std::vector<std::wstring> texts = StaticTexts(box);
        for (const wchar_t* expected : {L"软件名称：Quellin", L"软件版本：V1.0.1.2版", L"编写日期：2008年04月20日",
                                        L"联系邮箱：", L"网站地址：", L"dev@example.com",
                                        L"http://example.com/quellin/"}) {
            bool found = false;
            for (const auto& t : texts) found = found || t == expected;
            EXPECT_TRUE(found) << expected;
        }
        EXPECT_EQ(ItemTextW(box, IDOK), L"确定");

        // The icon static shows icon 128.
        HWND iconCtl = nullptr;
        for (HWND h = GetWindow(box, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
            if ((GetWindowLongA(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) iconCtl = h;
        ASSERT_NE(iconCtl, nullptr);
        EXPECT_NE(SendMessageA(iconCtl, STM_GETICON, 0, 0), 0);

        // The links stand right of their labels, on the same rows.
        const RECT mailLabel = ChildRect(box, IDC_MAILLABEL);
        const RECT webLabel = ChildRect(box, IDC_WEBLABEL);
        EXPECT_LT(mailLabel.left, 70);
        EXPECT_LT(webLabel.left, 70);
        EXPECT_LT(mailLabel.top, 106);
        EXPECT_GT(mailLabel.bottom, 91);
        EXPECT_LT(webLabel.top, 128);
        EXPECT_GT(webLabel.bottom, 113);

        HFONT font = ExpectLinks(box);
        EXPECT_EQ(GetObjectType(font), static_cast<DWORD>(OBJ_FONT));
        if (earlier) {
            EXPECT_EQ(GetObjectType(earlier), 0u) << "the font of the earlier opening was deleted";
        }
        EXPECT_EQ(g_pMailLink->GetSafeHwnd(), GetDlgItem(box, IDC_MAILLINK));
        EXPECT_EQ(g_pWebLink->GetSafeHwnd(), GetDlgItem(box, IDC_WEBLINK));

        if (round == 0) {
            Sleep(200);
            SaveBmp(CaptureWindow(box), "about-box.bmp");
        }
        CloseBox(box);
        app.OnUi([] {});  // DoModal has returned and the box object is gone
        EXPECT_EQ(GetObjectType(font), 0u) << "the link font ends with its box";
        earlier = font;
    }
}

TEST(AboutBox, LinksAskTheShellToOpenMailAndWebAddresses) {
    App app;
    HWND dlg = app.hwnd();
    HWND box = OpenAboutBox(dlg);
    ASSERT_NE(box, nullptr);
    g_shellCalls.clear();

    // A click as the link control reports it.
    HWND mail = GetDlgItem(box, IDC_MAILLINK);
    SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDC_MAILLINK, BN_CLICKED), reinterpret_cast<LPARAM>(mail));
    ASSERT_EQ(g_shellCalls.size(), 1u);
    ExpectOpened(g_shellCalls[0], L"mailto:dev@example.com");

    // A mouse press on the web link: the control itself reports the click.
    HWND web = GetDlgItem(box, IDC_WEBLINK);
    SendMessageA(web, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(web, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    ASSERT_EQ(g_shellCalls.size(), 2u);
    ExpectOpened(g_shellCalls[1], L"http://example.com/quellin/");

    // The labels in front of the links notify too, but open nothing.
    for (int label : {IDC_MAILLABEL, IDC_WEBLABEL}) {
        SendMessageA(GetDlgItem(box, label), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        SendMessageA(GetDlgItem(box, label), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    }
    EXPECT_EQ(g_shellCalls.size(), 2u);
    EXPECT_TRUE(IsWindow(box)) << "a link click leaves the box open";
    CloseBox(box);
}

TEST(AboutBox, HundredOpeningsLeaveNothingBehind) {
    App app;
    HWND dlg = app.hwnd();
    // One opening first: the first one creates the two link objects that later
    // openings replace.
    CloseBox(OpenAboutBox(dlg));
    app.OnUi([] {});
    const int windows = CountWindows(app.uiThreadId());
    const long objects = g_liveAllocations.load();
    const DWORD gdi0 = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    const DWORD user0 = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);

    std::vector<HFONT> fonts;
    for (int i = 0; i < 100; ++i) {
        HWND box = OpenAboutBox(dlg);
        ASSERT_NE(box, nullptr) << "opening " << i;
        fonts.push_back(FontOf(GetDlgItem(box, IDC_MAILLINK)));
        CloseBox(box);
    }
    app.OnUi([] {});
    int liveFonts = 0;
    for (HFONT f : fonts) liveFonts += GetObjectType(f) == OBJ_FONT;
    const DWORD gdi1 = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    const DWORD user1 = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    std::printf("after 100 openings: windows %d -> %d, new'd objects %ld -> %ld, link fonts alive %d, "
                "GDI %lu -> %lu, USER %lu -> %lu\n",
                windows, CountWindows(app.uiThreadId()), objects, g_liveAllocations.load(), liveFonts, gdi0, gdi1,
                user0, user1);
    EXPECT_EQ(liveFonts, 0);
    EXPECT_EQ(CountWindows(app.uiThreadId()), windows);
    EXPECT_LE(g_liveAllocations.load() - objects, 5);
    EXPECT_LE(static_cast<long>(gdi1) - static_cast<long>(gdi0), 5);
    EXPECT_LE(static_cast<long>(user1) - static_cast<long>(user0), 5);
}
