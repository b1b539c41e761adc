// The main window as the program starts it: every control, the two layouts,
// always-on-top, the icon and the version block.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/DigestDlg.h"
#include "harness.h"
#include "jobs/JobState.h"
#include "res/resource.h"

using namespace harness;

namespace {

struct ControlSpec {
    int id;
    const char* cls;
    const char* text;  // code page 936, as the program's texts; nullptr: not checked
    bool enabled;
};

// Template 102, in template order, without the unnamed statics and frames.
const ControlSpec kTemplateControls[] = {
    {IDOK, "Button", "开始校验", true},
    {IDCANCEL, "Button", "关闭退出", true},
    {IDC_PATH, "Edit", "", true},
    {IDC_MD5, "Edit", "", true},
    {IDC_OPEN, "Button", "打开", true},
    {IDC_COPY, "Button", kCopy, false},
    {IDC_PROGRESS, "msctls_progress32", nullptr, true},
    {IDC_STATUS, "Static", kIdle, true},
    {IDC_STAGE, "Static", kStage0, true},
    {IDC_STOP, "Button", "停止校验", false},
    {IDC_TOPMOST, "Button", "总在最前", true},
};

struct PanelSpec {
    int id;
    const char* cls;
    const char* text;
    RECT rect;
};

const PanelSpec kPanel[] = {
    {IDC_LISTFRAME, "Button", "", {5, 180, 367, 432}},
    {IDC_TOTALFRAME, "Button", "", {13, 357, 360, 423}},
    {IDC_FILELIST, "SysListView32", nullptr, {13, 196, 359, 358}},
    {IDC_TOTALLABEL, "Static", kTotalLabel, {22, 373, 90, 388}},
    {IDC_LISTSTATUS, "Static", kIdle, {175, 373, 350, 388}},
    {IDC_LISTCOUNT, "Static", kCountStart, {90, 373, 175, 388}},
    {IDC_TOTALPROGRESS, "msctls_progress32", nullptr, {22, 393, 350, 413}},
};

std::string ClassOf(HWND h) {
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    return cls;
}

bool TopMost(HWND h) { return (GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

int WindowHeight(HWND h) {
    RECT r;
    GetWindowRect(h, &r);
    return r.bottom - r.top;
}

// The control's window class, and its text unless text is null.
void ExpectClassAndText(HWND h, const char* cls, const char* text) {
    EXPECT_EQ(ClassOf(h), cls);
    if (text) {
        EXPECT_EQ(TextW(h), W(text));
    }
}

RECT Client(HWND h) {
    RECT r;
    GetClientRect(h, &r);
    return r;
}

}  // namespace

TEST(MainWindow, StartStateHasEveryTemplateControl) {
    App app;
    HWND dlg = app.hwnd();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(TextW(dlg), L"Quellin V1.0.1.2版");
    for (const auto& c : kTemplateControls) {
        SCOPED_TRACE(c.id);
        HWND h = GetDlgItem(dlg, c.id);
        ASSERT_NE(h, nullptr);
        ExpectClassAndText(h, c.cls, c.text);
        EXPECT_EQ(Enabled(dlg, c.id), c.enabled);
        EXPECT_TRUE(IsWindowVisible(h));
    }
    // Read-only edits with static edges, the check box checked and the window on top.
    for (int id : {IDC_PATH, IDC_MD5}) {
        HWND h = GetDlgItem(dlg, id);
        EXPECT_TRUE(GetWindowLongA(h, GWL_STYLE) & ES_READONLY);
        EXPECT_TRUE(GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_STATICEDGE);
    }
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_TOPMOST), BST_CHECKED);
    EXPECT_TRUE(TopMost(dlg));
    EXPECT_TRUE(GetWindowLongA(dlg, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    EXPECT_TRUE(GetWindowLongA(dlg, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(dlg, IDC_STAGE), GWL_EXSTYLE) & WS_EX_RIGHT);
    EXPECT_EQ(SendMessageA(GetDlgItem(dlg, IDOK), WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON,
              DLGC_DEFPUSHBUTTON);
    EXPECT_EQ(g_bCompact, 1);
    EXPECT_EQ(g_bWorking.load(), 0);
}

TEST(MainWindow, ListPanelControlsFontAndColumns) {
    App app;
    HWND dlg = app.hwnd();
    HFONT font = nullptr;
    for (const auto& c : kPanel) {
        SCOPED_TRACE(c.id);
        HWND h = GetDlgItem(dlg, c.id);
        ASSERT_NE(h, nullptr);
        ExpectClassAndText(h, c.cls, c.text);
        const RECT r = ChildRect(dlg, c.id);
        EXPECT_EQ(r.left, c.rect.left);
        EXPECT_EQ(r.top, c.rect.top);
        EXPECT_EQ(r.right, c.rect.right);
        EXPECT_EQ(r.bottom, c.rect.bottom);
        EXPECT_TRUE(GetWindowLongA(h, GWL_STYLE) & WS_VISIBLE);
        HFONT f = reinterpret_cast<HFONT>(SendMessageA(h, WM_GETFONT, 0, 0));
        if (!font) font = f;
        EXPECT_EQ(f, font) << "all panel controls share one font";
    }
    ASSERT_NE(font, nullptr);
    LOGFONTA lf{};
    ASSERT_TRUE(GetObjectA(font, sizeof lf, &lf));
    EXPECT_EQ(lf.lfHeight, 12);
    EXPECT_EQ(lf.lfWeight, FW_NORMAL);
    EXPECT_EQ(lf.lfCharSet, GB2312_CHARSET);
    EXPECT_FALSE(lf.lfUnderline);
    EXPECT_STREQ(lf.lfFaceName, kFontFace);

    HWND list = GetDlgItem(dlg, IDC_FILELIST);
    EXPECT_EQ(GetWindowLongA(list, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(GetWindowLongA(list, GWL_STYLE) & WS_BORDER);
    const DWORD ex = static_cast<DWORD>(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(ex & (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT), DWORD(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT));
    EXPECT_FALSE(GetWindowLongA(GetDlgItem(dlg, IDC_TOTALPROGRESS), GWL_STYLE) & WS_BORDER);

    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    ASSERT_EQ(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), 2);
    const char* names[] = {kColumnPath, kColumnResult};
    const int widths[] = {140, 205};
    for (int col = 0; col < 2; ++col) {
        char name[64] = {};
        LVCOLUMNA lc{};
        lc.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        lc.pszText = name;
        lc.cchTextMax = sizeof name;
        ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, col, reinterpret_cast<LPARAM>(&lc)));
        EXPECT_STREQ(name, names[col]);
        EXPECT_EQ(lc.cx, widths[col]);
        EXPECT_EQ(lc.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
    }
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);
}

TEST(MainWindow, NoTwoControlsShareAnId) {
    App app;
    std::map<int, int> seen;
    EnumChildWindows(app.hwnd(), [](HWND h, LPARAM l) -> BOOL {
        if (GetParent(h) == GetAncestor(h, GA_ROOT)) {
            const int id = GetDlgCtrlID(h);
            if (id != 0xFFFF && id != -1) ++(*reinterpret_cast<std::map<int, int>*>(l))[id];
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&seen));
    EXPECT_EQ(seen.size(), 18u) << "11 template controls with IDs and the 7 panel controls";
    for (const auto& [id, count] : seen) EXPECT_EQ(count, 1) << "ID " << id;
}

TEST(MainWindow, CompactClientAreaHidesThePanel) {
    App app;
    HWND dlg = app.hwnd();
    const RECT client = Client(dlg);
    std::printf("compact client area: %ld x %ld\n", client.right, client.bottom);
    // The panel is placed in pixels right below the template's client area.
    EXPECT_NEAR(client.right, 371, 2);
    EXPECT_GE(client.bottom, 180);
    EXPECT_LE(client.bottom, 186);

    Settle(app);
    const Image img = CaptureClient(dlg);
    ASSERT_EQ(img.height, client.bottom);
    SaveBmp(CaptureWindow(dlg), "main-compact.bmp");
    // Rows from 180 down show nothing of the panel: only the dialog's face colour.
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const uint32_t faceRgb = (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
    int stray = 0;
    for (int y = 180; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            if (img.at(x, y) != faceRgb) ++stray;
    EXPECT_EQ(stray, 0) << "pixels of the list panel show in the compact layout";
}

TEST(MainWindow, ExpandedLayoutShowsThePanelAndReturnsExactly) {
    App app;
    HWND dlg = app.hwnd();
    const int compact = WindowHeight(dlg);
    for (int round = 0; round < 2; ++round) {
        app.OnUi([&] { app.dlg()->SetCompactMode(0); });
        EXPECT_EQ(g_bCompact, 0);
        EXPECT_EQ(WindowHeight(dlg), compact + 252);
        const RECT client = Client(dlg);
        for (const auto& c : kPanel) {
            const RECT r = ChildRect(dlg, c.id);
            EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
                << "control " << c.id << " outside the expanded client area";
        }
        if (round == 0) {
            Settle(app);
            SaveBmp(CaptureWindow(dlg), "main-expanded.bmp");
        }
        app.OnUi([&] { app.dlg()->SetCompactMode(1); });
        EXPECT_EQ(g_bCompact, 1);
        EXPECT_EQ(WindowHeight(dlg), compact);
    }
}

TEST(MainWindow, TopMostBoxTogglesTheWindowsTopMostState) {
    App app;
    HWND dlg = app.hwnd();
    ASSERT_TRUE(TopMost(dlg));
    for (int round = 0; round < 2; ++round) {
        Click(dlg, IDC_TOPMOST);
        EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_TOPMOST), BST_UNCHECKED);
        EXPECT_FALSE(TopMost(dlg));
        EXPECT_EQ(app.dlg()->m_bTopMost, 0);
        Click(dlg, IDC_TOPMOST);
        EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_TOPMOST), BST_CHECKED);
        EXPECT_TRUE(TopMost(dlg));
        EXPECT_EQ(app.dlg()->m_bTopMost, 1);
    }
}

TEST(MainWindow, IconForWindowDragAndMinimisedPainting) {
    App app;
    HWND dlg = app.hwnd();
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dlg, WM_QUERYDRAGICON, 0, 0)), icon);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dlg, WM_GETICON, ICON_BIG, 0)), icon);
    // The title bar's small icon is the icon's own 16 x 16 image (tray test).
    EXPECT_NE(reinterpret_cast<HICON>(SendMessageA(dlg, WM_GETICON, ICON_SMALL, 0)), nullptr);

    // Minimised some other way than the minimise command: it stays iconic and
    // paints without trouble.
    app.OnUi([&] { ShowWindow(dlg, SW_MINIMIZE); });
    EXPECT_TRUE(IsIconic(dlg));
    app.OnUi([&] { RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); });
    app.OnUi([&] { ShowWindow(dlg, SW_RESTORE); });
    EXPECT_FALSE(IsIconic(dlg));
}

TEST(Resources, IconHasTwoSixteenColourImages) {
    HMODULE mod = GetModuleHandleA(nullptr);
    HRSRC res = FindResourceA(mod, MAKEINTRESOURCEA(IDR_MAINFRAME), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
    ASSERT_NE(res, nullptr);
    const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(mod, res)));
    ASSERT_EQ(dir[4] | (dir[5] << 8), 2);
    std::set<int> sizes;
    for (int i = 0; i < 2; ++i) {
        const BYTE* e = dir + 6 + 14 * i;
        sizes.insert(e[0]);
        EXPECT_EQ(e[2], 16) << "colour count";
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32}));
}

TEST(Resources, VersionBlock) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, &block[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010002u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00010002u);
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &len));
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);
    char* desc = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\080404b0\\FileDescription",
                               reinterpret_cast<void**>(&desc), &len));
    EXPECT_STREQ(desc, "Quellin");
}

// The program's application manifest, read back from Quellin.exe itself (the
// build tree's top, two folders above this test): run as the invoking user,
// every Windows from Vista to 11 declared, GDI text scaled sharp, and neither
// DPI awareness (the list panel is placed in 96-DPI pixels) nor what cannot be
// tested here (Common Controls 6, a UTF-8 code page).
TEST(Resources, ManifestInTheProgram) {
    char self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    std::string exe = self;
    for (int up = 0; up < 3; ++up) exe.erase(exe.find_last_of('\\'));
    exe += "\\Quellin.exe";
    HMODULE mod = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(mod, nullptr) << exe;
    HRSRC res = FindResourceA(mod, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24) /* RT_MANIFEST */);
    std::string xml;
    if (res) xml.assign(static_cast<const char*>(LockResource(LoadResource(mod, res))), SizeofResource(mod, res));
    FreeLibrary(mod);
    ASSERT_NE(res, nullptr) << "no manifest in " << exe;
    const auto has = [&xml](const char* part) { return xml.find(part) != std::string::npos; };
    EXPECT_TRUE(has("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"));
    for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                           "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                           "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_TRUE(has((std::string("<supportedOS Id=\"{") + os + "}\"/>").c_str())) << os;
    EXPECT_TRUE(has("<gdiScaling xmlns=\"http://schemas.microsoft.com/SMI/2017/WindowsSettings\">true</gdiScaling>"));
    for (const char* absent : {"<dpiAware", "<dpiAwareness", "Common-Controls", "<activeCodePage"})
        EXPECT_FALSE(has(absent)) << absent;
}

// The window on a Windows set to another language (ctest runs this suite
// with code page 1252, as on an English Windows): every text reads as on a
// Chinese Windows, a file with a Chinese name is checked, and a message box
// speaks Chinese too. Texts are read through the wide calls.
TEST(OtherCodePage, TheWindowReadsTheSameAndChecksFiles) {
    const char* acp = std::getenv("QUELLIN_EXPECT_ACP");
    if (!acp || !*acp) GTEST_SKIP() << "ctest runs this under another system code page";
    ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(acp)));
    App app;
    HWND dlg = app.hwnd();
    EXPECT_EQ(TextW(dlg), L"Quellin V1.0.1.2版");
    const std::pair<int, std::wstring> start[] = {
        {IDOK, L"开始校验"},     {IDCANCEL, L"关闭退出"},    {IDC_OPEN, L"打开"},
        {IDC_COPY, W(kCopy)},    {IDC_STATUS, W(kIdle)},     {IDC_STAGE, W(kStage0)},
        {IDC_STOP, L"停止校验"}, {IDC_TOPMOST, L"总在最前"}, {IDC_TOTALLABEL, W(kTotalLabel)},
        {IDC_LISTSTATUS, W(kIdle)}};
    for (const auto& t : start) EXPECT_EQ(ItemTextW(dlg, t.first), t.second) << t.first;
    HWND list = GetDlgItem(dlg, IDC_FILELIST);
    for (const auto& header : {std::make_pair(0, W(kColumnPath)), std::make_pair(1, W(kColumnResult))}) {
        wchar_t text[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT;
        column.pszText = text;
        column.cchTextMax = 64;
        SendMessageW(list, LVM_GETCOLUMNW, header.first, reinterpret_cast<LPARAM>(&column));
        EXPECT_EQ(std::wstring(text), header.second);
    }
    HMENU sys = GetSystemMenu(dlg, FALSE);
    wchar_t about[64] = {};
    GetMenuStringW(sys, GetMenuItemCount(sys) - 1, about, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(about), L"关于 Quellin(&A)...");

    TempDir dir;
    const std::wstring file = dir.Sub(L"校验 ö.txt");
    WriteText(file, "abc");
    Drop(app, std::vector<std::wstring>{file});
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), file);
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), L"900150983cd24fb0d6963f7d28e17f72");  // MD5("abc"), RFC 1321
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kFileDone));
    EXPECT_EQ(ItemTextW(dlg, IDC_STAGE), W(kStage3));

    // Start again once the file is gone: the box that says so.
    ASSERT_TRUE(DeleteFileW(file.c_str()));
    PostClick(dlg, IDOK);
    HWND box = WaitForOwnedDialog(dlg);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), W(kPathError));
    EXPECT_EQ(TextW(box), L"Quellin");
    Answer(box, IDOK);
}

// Copy's plain text is in the system's code page (1252 here), byte for
// byte: a name it can write comes out in its bytes, every other character
// as "?" and never as a look-alike ("ａ" is not "a", which names another file).
TEST(OtherCodePage, CopysPlainTextIsInTheSystemsCodePage) {
    const char* acp = std::getenv("QUELLIN_EXPECT_ACP");
    if (!acp || !*acp) GTEST_SKIP() << "ctest runs this under another system code page";
    App app;
    HWND dlg = app.hwnd();
    TempDir dir;
    const std::pair<const wchar_t*, const char*> names[] = {
        {L"caf\u00e9.txt", "caf\xe9.txt"}, {L"\u6821\u9a8c.txt", "??.txt"}, {L"\uff41.txt", "?.txt"}};
    for (const auto& name : names) {
        const std::wstring file = dir.Sub(name.first);
        WriteText(file, "");
        Drop(app, std::vector<std::wstring>{file});
        ASSERT_TRUE(WaitIdle(dlg));
        Click(dlg, IDC_COPY);
        EXPECT_EQ(ReadClipboard().text, std::string("d41d8cd98f00b204e9800998ecf8427e ") + name.second) << name.second;
    }
}
