// Results against the digests the user copied: what the window says and
// draws while the clipboard holds MD5 values of another program, and that a
// clipboard with no value, or with the window's own Copy, changes nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <map>
#include <string>

#include "harness.h"
#include "res/resource.h"

using namespace harness;

namespace {

// MD5 values of RFC 1321's test suite.
const std::wstring kMd5A = L"0cc175b9c0f1b6a831c399e269772661";
const std::wstring kMd5Abc = L"900150983cd24fb0d6963f7d28e17f72";
const std::wstring kMd5MessageDigest = L"f96b697d7cb7938d525a2f31aaf161d0";
// The verdict backgrounds, 0xRRGGBB.
const uint32_t kGreen = 0xC6EFCE;
const uint32_t kRed = 0xFFC7CE;

void PutText(const std::wstring& text) { ASSERT_TRUE(PutClipboardText(text)); }

// No value is left on the clipboard for the tests that come later.
struct ClipboardEmptiedAfter {
    ~ClipboardEmptiedAfter() { PutText(L""); }
};

// Pixels of one colour in a screen rectangle.
int Pixels(const RECT& onScreen, uint32_t rgb) {
    int n = 0;
    for (const uint32_t px : CaptureScreen(onScreen).px) n += px == rgb;
    return n;
}

RECT BoxOnScreen(HWND dlg, int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(dlg, id), &r);
    return r;
}

RECT CellOnScreen(HWND dlg, int row, int column) {
    HWND list = GetDlgItem(dlg, IDC_FILELIST);
    RECT r{};
    r.top = column;
    r.left = LVIR_LABEL;  // LVIR_BOUNDS gives column 0 the whole row
    SendMessageA(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&r));
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Waits until the area shows at least (or, with none, exactly no) pixels of
// the colour: the window repaints in its own time.
bool Shows(const RECT& r, uint32_t rgb, int atLeast = 40) {
    return WaitUntil([&] { return atLeast ? Pixels(r, rgb) >= atLeast : Pixels(r, rgb) == 0; });
}

// Presses Copy on a list and answers its question with Yes (paths).
void CopyListWithPaths(const App& app) {
    PostClick(app.hwnd(), IDC_COPY);
    HWND box = WaitForOwnedDialog(app.hwnd());
    ASSERT_NE(box, nullptr);
    Answer(box, IDYES);
    app.OnUi([] {});  // the handler has finished
}

}  // namespace

// One file, compared with a line of md5sum's form; the clipboard changes
// after the run, to another digest for the name and to text with no value.
TEST(VerdictSingle, MatchThenDifferenceThenNoValue) {
    ClipboardEmptiedAfter emptied;
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::wstring path = tree.File(L"x.txt", "abc");
    PutText(kMd5Abc + L"  x.txt\r\n");
    Drop(app, {path});
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kClipMatch));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), kMd5Abc) << "the box keeps the digest itself";
    EXPECT_TRUE(Shows(BoxOnScreen(dlg, IDC_MD5), kGreen));
    SaveBmp(CaptureWindow(dlg), "verdict-match.bmp");

    const double changed = NowMs();
    PutText(L"0123456789abcdef0123456789ABCDEF *x.txt");
    EXPECT_TRUE(WaitUntil([&] { return ItemTextW(dlg, IDC_STATUS) == W(kClipDiffer); }));
    std::printf("the status followed the clipboard after %.1f ms\n", NowMs() - changed);
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), kMd5Abc);
    EXPECT_TRUE(Shows(BoxOnScreen(dlg, IDC_MD5), kRed));
    EXPECT_EQ(Pixels(BoxOnScreen(dlg, IDC_MD5), kGreen), 0);

    PutText(L"no digest here, only words");
    EXPECT_TRUE(WaitUntil([&] { return ItemTextW(dlg, IDC_STATUS) == W(kFileDone); }));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), kMd5Abc);
    EXPECT_EQ(ItemTextW(dlg, IDC_COPY), W(kCopyMarked));
    EXPECT_TRUE(Shows(BoxOnScreen(dlg, IDC_MD5), kRed, 0));
    EXPECT_EQ(Pixels(BoxOnScreen(dlg, IDC_MD5), kGreen), 0);
}

// A folder's rows compared with "digest  name" lines: one that matches, one
// that differs, one that no line names; a line for no row is passed over.
TEST(VerdictList, NamedLinesColourTheirRowsAndAreCounted) {
    ClipboardEmptiedAfter emptied;
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::wstring a = tree.File(L"a.txt", "a");
    const std::wstring b = tree.File(L"sub\\b.txt", "abc");
    const std::wstring c = tree.File(L"c.txt", "message digest");
    PutText(kMd5A + L"  a.txt\r\n" + kMd5MessageDigest + L"  b.txt\r\n" + kMd5Abc + L"  gone.txt\r\n");
    ASSERT_TRUE(DropAndStart(app, {tree.path()}));
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), L"与剪贴板对照：一致1个，不一致1个");
    EXPECT_EQ(ItemTextW(dlg, IDC_LISTSTATUS), W(kListDone));

    std::map<std::wstring, int> rowOf;
    for (int row = 0; row < RowCount(dlg); ++row) rowOf[CellTextW(dlg, row, 0)] = row;
    ASSERT_EQ(rowOf.size(), 3u);
    EXPECT_EQ(CellTextW(dlg, rowOf[a], 1), kMd5A) << "the cell keeps the digest itself";
    EXPECT_TRUE(Shows(CellOnScreen(dlg, rowOf[a], 1), kGreen));
    EXPECT_TRUE(Shows(CellOnScreen(dlg, rowOf[b], 1), kRed));
    SaveBmp(CaptureWindow(dlg), "verdict-list.bmp");
    for (const uint32_t colour : {kGreen, kRed}) {
        EXPECT_EQ(Pixels(CellOnScreen(dlg, rowOf[c], 1), colour), 0) << "a row no line names";
        EXPECT_EQ(Pixels(CellOnScreen(dlg, rowOf[a], 0), colour), 0) << "only the digest's cell";
    }
}

// The window's own Copy confirms nothing; the same lines from another
// program (Copy today, the check tomorrow) are compared.
TEST(VerdictList, OwnCopyIsNoEvidenceAnEarlierCopyIs) {
    ClipboardEmptiedAfter emptied;
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::wstring a = tree.File(L"a.txt", "a");
    tree.File(L"b.txt", "abc");
    PutText(L"");
    ASSERT_TRUE(DropAndStart(app, {tree.path()}));
    ASSERT_TRUE(WaitIdle(dlg));
    ASSERT_EQ(ItemTextW(dlg, IDC_MD5), W(kListHint));

    CopyListWithPaths(app);
    const std::wstring copied = ReadClipboard().unicode;
    ASSERT_NE(copied.find(kMd5A + L" " + a), std::wstring::npos);
    app.Sync();  // after the clipboard's change
    Settle(app);
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), W(kListHint));
    EXPECT_EQ(Pixels(CellOnScreen(dlg, 0, 1), kGreen), 0);

    PutText(copied);
    EXPECT_TRUE(WaitUntil([&] { return ItemTextW(dlg, IDC_MD5) == L"与剪贴板对照：一致2个，不一致0个"; }))
        << Narrow(ItemTextW(dlg, IDC_MD5));
    EXPECT_TRUE(Shows(CellOnScreen(dlg, 1, 1), kGreen));
}
