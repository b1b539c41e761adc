// Copy: what a real run puts on the clipboard, read back with the clipboard
// API, in both layouts and with both answers to the path question.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "app/Clipboard.h"
#include "harness.h"
#include "res/resource.h"

using namespace harness;

namespace {

// MD5 values of RFC 1321's test suite (the empty message's is kEmptyMd5).
const char kMd5A[] = "0cc175b9c0f1b6a831c399e269772661";
const char kMd5Abc[] = "900150983cd24fb0d6963f7d28e17f72";
const char kMd5MessageDigest[] = "f96b697d7cb7938d525a2f31aaf161d0";
const char kMd5Alphabet[] = "c3fcd3d76192e4007dfb496cca67e13b";

// Names whose double-byte characters end in 0x5C ('\\'): 嘰 is 87 5C, 奬 8A 5C.
const char kTrailName[] = "乗ab嘰cd.txt";
const char kTrailFolder[] = "奬目录";

// ---------------------------------------------------------------- clipboard

bool OpenClipboardSoon() {
    return WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }, 2000);
}

void PutSentinel(const char* text) {
    ASSERT_TRUE(OpenClipboardSoon());
    EmptyClipboard();
    const size_t n = strlen(text) + 1;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, n);
    memcpy(GlobalLock(h), text, n);
    GlobalUnlock(h);
    SetClipboardData(CF_TEXT, h);
    CloseClipboard();
}

// Another thread holding the clipboard open for a window of its own, as
// another program would, until Release (or the end of the scope).
class ClipboardHolder {
public:
    ClipboardHolder() {
        m_thread = CreateThread(nullptr, 0, &Run, this, 0, nullptr);
        EXPECT_EQ(WaitForSingleObject(m_opened, 5000), WAIT_OBJECT_0);
    }
    ~ClipboardHolder() {
        Release();
        CloseHandle(m_opened);
        CloseHandle(m_release);
    }
    bool holds() const { return m_ok != FALSE; }
    // Closes the clipboard and waits until the thread has ended.
    void Release() {
        if (!m_thread) return;
        SetEvent(m_release);
        WaitForSingleObject(m_thread, 5000);
        CloseHandle(m_thread);
        m_thread = nullptr;
    }

private:
    static DWORD WINAPI Run(LPVOID p) {
        auto* self = static_cast<ClipboardHolder*>(p);
        HWND wnd = CreateWindowExA(0, "STATIC", "holder", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        self->m_ok = OpenClipboard(wnd);
        SetEvent(self->m_opened);
        WaitForSingleObject(self->m_release, INFINITE);
        if (self->m_ok) CloseClipboard();
        DestroyWindow(wnd);
        return 0;
    }
    HANDLE m_opened = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE m_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE m_thread = nullptr;
    BOOL m_ok = FALSE;
};

// Busy blocks on the process heap a little larger than size (room for the
// bookkeeping of a movable block).
int CountHeapBlocks(size_t size) {
    HANDLE heap = GetProcessHeap();
    int n = 0;
    HeapLock(heap);
    PROCESS_HEAP_ENTRY e{};
    while (HeapWalk(heap, &e))
        if ((e.wFlags & PROCESS_HEAP_ENTRY_BUSY) && e.cbData >= size && e.cbData < size + 64) ++n;
    HeapUnlock(heap);
    return n;
}

// ---------------------------------------------------------------- driving

// A list run over what was dropped.
void RunDropped(const App& app, const std::vector<std::string>& paths) {
    ASSERT_TRUE(DropAndStart(app, paths));
    ASSERT_TRUE(WaitIdle(app.hwnd())) << "the run did not complete";
}

// A row: its path (column 0) and its digest or failure text (column 1).
using Row = std::pair<std::string, std::string>;

std::string NameOf(const std::string& path, const std::string& root) {
    // Test paths are root + "\\" + relative path; the name is its last part.
    std::string rel = path.substr(root.size() + 1);
    size_t cut = 0;
    for (size_t i = 0; i < rel.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(rel[i]))) ++i;
        else if (rel[i] == '\\') cut = i + 1;
    }
    return rel.substr(cut);
}

// Presses Copy in the expanded layout and answers the question.
void CopyList(const App& app, int answer) {
    HWND dlg = app.hwnd();
    PostClick(dlg, IDC_COPY);
    HWND box = WaitForOwnedDialog(dlg);
    ASSERT_NE(box, nullptr) << "no question";
    EXPECT_EQ(Text(box), "提示信息");
    EXPECT_EQ(MessageBoxText(box), kCopyQuestion);
    EXPECT_NE(GetDlgItem(box, IDYES), nullptr);
    EXPECT_NE(GetDlgItem(box, IDNO), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
    PostMessageA(box, WM_COMMAND, answer, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
    app.OnUi([] {});  // the handler has finished
    EXPECT_EQ(ItemText(dlg, IDC_COPY), "复制");
    EXPECT_TRUE(Enabled(dlg, IDC_COPY));
}

std::string Lines(const std::vector<Row>& rows, const std::string& root, bool withPaths) {
    std::string text;
    for (const auto& r : rows) text += r.second + " " + (withPaths ? r.first : NameOf(r.first, root)) + "\r\n";
    return text;
}

}  // namespace

// ================================================================ compact layout

TEST(CopyCompact, DigestBlankNameWithoutLineEndAndAgain) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::string path = tree.File("dir\\x.txt", "abc");
    ASSERT_TRUE(RunFile(dlg, path));
    ASSERT_EQ(ItemText(dlg, IDC_MD5), kMd5Abc);

    PutSentinel("before");
    Click(dlg, IDC_COPY);
    ClipText clip = ReadClipboard();
    ASSERT_TRUE(clip.present);
    EXPECT_EQ(clip.text, std::string(kMd5Abc) + " x.txt");
    EXPECT_EQ(ItemText(dlg, IDC_COPY), "复制");
    EXPECT_TRUE(Enabled(dlg, IDC_COPY));
    // Both boxes keep their texts.
    EXPECT_EQ(ItemText(dlg, IDC_PATH), path);
    EXPECT_EQ(ItemText(dlg, IDC_MD5), kMd5Abc);

    // The same results once more.
    PutSentinel("between");
    Click(dlg, IDC_COPY);
    EXPECT_EQ(ReadClipboard().text, std::string(kMd5Abc) + " x.txt");
    EXPECT_EQ(ItemText(dlg, IDC_COPY), "复制");
}

// The copy opens the clipboard for the main window, which then owns it, and
// names a locale of the text's code page (936: Chinese, PRC), so that the
// system converts the text to Unicode with that code page and no other.
TEST(CopyCompact, OwnedByTheWindowAndTaggedWithTheTextsLocale) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::string path = tree.File("中文名.txt", "abc");
    ASSERT_TRUE(RunFile(dlg, path));
    PutSentinel("before");
    Click(dlg, IDC_COPY);
    EXPECT_EQ(GetClipboardOwner(), dlg);
    ASSERT_TRUE(OpenClipboardSoon());
    HANDLE h = GetClipboardData(CF_LOCALE);
    ASSERT_NE(h, nullptr) << "no locale with the text";
    const LCID* lcid = static_cast<const LCID*>(GlobalLock(h));
    ASSERT_NE(lcid, nullptr);
    EXPECT_EQ(*lcid, 0x0804u);
    GlobalUnlock(h);
    // The text converts to Unicode with that locale's code page.
    HANDLE wide = GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(GlobalLock(wide))), std::wstring(L"900150983cd24fb0d6963f7d28e17f72 \u4e2d\u6587\u540d.txt"));
    GlobalUnlock(wide);
    CloseClipboard();
    EXPECT_EQ(ReadClipboard().text, std::string(kMd5Abc) + " 中文名.txt");
}

TEST(CopyCompact, TrailBytesEqualToBackslashDoNotCutTheName) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::string path = tree.File(std::string(kTrailFolder) + "\\" + kTrailName, "a");
    ASSERT_TRUE(RunFile(dlg, path));
    Click(dlg, IDC_COPY);
    // A cut at the byte 0x5C inside 嘰 would leave "cd.txt".
    EXPECT_EQ(ReadClipboard().text, std::string(kMd5A) + " " + kTrailName);
}

TEST(CopyCompact, PathWithoutBackslashIsUsedWhole) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::string path = tree.File("rel.txt", "a");
    // A relative path: the program's current folder is the tree's root.
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof cwd, cwd);
    SetCurrentDirectoryA(tree.path().c_str());
    ASSERT_TRUE(RunFile(dlg, "rel.txt"));
    SetCurrentDirectoryA(cwd);
    Click(dlg, IDC_COPY);
    EXPECT_EQ(ReadClipboard().text, std::string(kMd5A) + " rel.txt");
}

// ================================================================ list layout

TEST(CopyList, YesGivesFullPathsNoGivesNamesEveryLineEnded) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    std::map<std::string, std::string> digestOf = {
        {tree.File("a.txt", "a"), kMd5A},
        {tree.File("sub\\b.txt", "abc"), kMd5Abc},
        {tree.File("sub\\deeper\\c.txt", ""), kEmptyMd5},
        {tree.File(std::string(kTrailFolder) + "\\" + kTrailName, "message digest"), kMd5MessageDigest},
        {tree.File("z.bin", "abcdefghijklmnopqrstuvwxyz"), kMd5Alphabet},
    };
    RunDropped(app, {tree.path()});
    const std::vector<Row> rows = ListRows(dlg);
    ASSERT_EQ(rows.size(), digestOf.size());
    for (const auto& r : rows) {
        ASSERT_EQ(digestOf.count(r.first), 1u) << r.first;
        EXPECT_EQ(r.second, digestOf[r.first]) << r.first;
    }

    CopyList(app, IDYES);
    const std::string withPaths = ReadClipboard().text;
    EXPECT_EQ(withPaths, Lines(rows, tree.path(), true));
    EXPECT_EQ(withPaths.substr(0, 33), rows[0].second + " ") << "row 0 comes first";
    EXPECT_EQ(withPaths.substr(withPaths.size() - 2), "\r\n") << "the last line is ended too";

    CopyList(app, IDNO);
    const std::string names = ReadClipboard().text;
    EXPECT_EQ(names, Lines(rows, tree.path(), false));
    EXPECT_NE(names.find(std::string(kMd5MessageDigest) + " " + kTrailName + "\r\n"), std::string::npos);

    // List mode leaves the boxes alone: edit 1001 keeps its hint.
    EXPECT_EQ(ItemText(dlg, IDC_MD5), kListHint);
    EXPECT_EQ(ItemText(dlg, IDC_PATH), "一个文件夹");
}

// Names outside code page 936: the Unicode text holds each exactly, with or
// without its path (the plain text holds what the system's code page writes).
TEST(CopyList, UnicodeTextHoldsEveryNameExactly) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::vector<std::pair<std::wstring, const char*>> files{
        {tree.Sub(L"한국\\노래.mp3"), kMd5A}, {tree.Sub(L"😀 ¥.txt"), kMd5Abc}, {tree.Sub(L"Motörhead.flac"), kEmptyMd5}};
    WriteText(files[0].first, "a");
    WriteText(files[1].first, "abc");
    WriteText(files[2].first, "");
    std::vector<std::wstring> drops;
    std::wstring withPaths, names;
    for (const auto& f : files) {
        drops.push_back(f.first);
        const std::wstring digest = Wide(f.second) + L" ";
        withPaths += digest + f.first + L"\r\n";
        names += digest + f.first.substr(f.first.rfind(L'\\') + 1) + L"\r\n";
    }
    Drop(app, drops);
    ASSERT_TRUE(WaitUntil([&] { return Counter(dlg) == "3/3"; }));
    Click(dlg, IDOK);
    ASSERT_TRUE(WaitIdle(dlg));

    CopyList(app, IDYES);
    EXPECT_TRUE(ReadClipboard().unicode == withPaths) << Narrow(ReadClipboard().unicode);
    CopyList(app, IDNO);
    const ClipText clip = ReadClipboard();
    EXPECT_TRUE(clip.unicode == names) << Narrow(clip.unicode);
    // Code page 936 has none of these names' letters but the digits, the
    // dots and the latin ones: each other character is one "?" (the emoji
    // is two UTF-16 units), never a look-alike ("¥" is not "￥").
    EXPECT_EQ(clip.text, std::string(kMd5A) + " ??.mp3\r\n" + kMd5Abc + " ?? ?.txt\r\n" + kEmptyMd5 +
                             " Mot?rhead.flac\r\n");
}

TEST(CopyList, SameNameInTwoFoldersGivesTwoLinesUnderNo) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    tree.File("one\\same.txt", "a");
    tree.File("two\\same.txt", "abc");
    RunDropped(app, {tree.path() + "\\one", tree.path() + "\\two"});
    const std::vector<Row> rows = ListRows(dlg);
    ASSERT_EQ(rows.size(), 2u);
    CopyList(app, IDNO);
    EXPECT_EQ(ReadClipboard().text,
              std::string(kMd5A) + " same.txt\r\n" + kMd5Abc + " same.txt\r\n");
}

TEST(CopyList, FailedRowIsCopiedWithItsPaddedText) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::string ok = tree.File("ok.txt", "abc");
    const std::string missing = tree.path() + "\\missing.bin";
    RunDropped(app, {ok, missing});
    const std::vector<Row> rows = ListRows(dlg);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[1].second, kFailedRow);
    ASSERT_EQ(strlen(kFailedRow), 32u);

    CopyList(app, IDYES);
    // The failure text with its 15 blanks, then the separator.
    EXPECT_EQ(ReadClipboard().text, std::string(kMd5Abc) + " " + ok + "\r\n" + kFailedRow + " " + missing + "\r\n");
    CopyList(app, IDNO);
    EXPECT_EQ(ReadClipboard().text, std::string(kMd5Abc) + " ok.txt\r\n" + kFailedRow + " missing.bin\r\n");
}

TEST(CopyList, EmptyListStillAsksAndCopiesEmptyText) {
    App app;
    TempDir tree;
    const std::string empty = tree.Sub("empty");
    ASSERT_TRUE(CreateDirectoryA(empty.c_str(), nullptr));
    RunDropped(app, {empty});
    ASSERT_EQ(RowCount(app.hwnd()), 0);
    for (int answer : {IDYES, IDNO}) {
        SCOPED_TRACE(answer);
        PutSentinel("not yet copied");
        CopyList(app, answer);
        const ClipText clip = ReadClipboard();
        EXPECT_TRUE(clip.present);
        EXPECT_EQ(clip.text, "");
    }
}

// ================================================================ the clipboard itself

TEST(CopyToClipboard, HandsOverTheTextWithItsTerminator) {
    PutSentinel("old");
    // The same text in UTF-16 and in code page 936 (the test system's).
    const std::wstring text = L"第一行\r\nsecond line";
    const std::string ansi = "第一行\r\nsecond line";
    ASSERT_EQ(CopyTextToClipboard(text.c_str(), nullptr), 1);
    ASSERT_TRUE(OpenClipboardSoon());
    HANDLE h = GetClipboardData(CF_TEXT);
    ASSERT_NE(h, nullptr);
    const char* p = static_cast<const char*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p), ansi);
    EXPECT_GE(GlobalSize(h), ansi.size() + 1);
    GlobalUnlock(h);
    h = GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(h, nullptr);
    const wchar_t* w = static_cast<const wchar_t*>(GlobalLock(h));
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(std::wstring(w) == text);
    GlobalUnlock(h);
    CloseClipboard();

    ASSERT_EQ(CopyTextToClipboard(L"", nullptr), 1);
    const ClipText clip = ReadClipboard();
    EXPECT_TRUE(clip.present);
    EXPECT_EQ(clip.text, "");
}

TEST(CopyToClipboard, ClipboardHeldElsewhereLeaksNothing) {
    PutSentinel("held by someone else");
    ClipboardHolder holder;
    ASSERT_TRUE(holder.holds());

    // Nothing is left allocated by the attempts: no block of the text's size
    // stays behind on the process heap, where global memory comes from.
    const std::wstring odd(12345, L'x');
    const int before = CountHeapBlocks(odd.size() + 1);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(CopyTextToClipboard(odd.c_str(), nullptr), 0);
    const int after = CountHeapBlocks(odd.size() + 1);
    std::printf("heap blocks of the text's size: %d before, %d after 50 refused copies\n", before, after);
    EXPECT_LT(after - before, 10);

    holder.Release();
    EXPECT_EQ(ReadClipboard().text, "held by someone else") << "nothing was changed while it was held";
}

// Presses Copy after a single file's run and expects it to fail: a box says
// so, and the caption keeps its star (nothing was copied).
void ExpectCopyReportedAsFailed(const App& app) {
    HWND dlg = app.hwnd();
    PostClick(dlg, IDC_COPY);
    HWND box = WaitForOwnedDialog(dlg);
    ASSERT_NE(box, nullptr) << "a failed copy went unreported";
    EXPECT_EQ(Text(box), "提示信息");
    EXPECT_EQ(MessageBoxText(box), kCopyFailed);
    Answer(box, IDOK);
    app.OnUi([] {});  // the handler has finished
    EXPECT_EQ(ItemText(dlg, IDC_COPY), "复制*");
    EXPECT_TRUE(Enabled(dlg, IDC_COPY));
}

// Copy while another program holds the clipboard open: a hold that ends
// while Copy retries is waited out; one that lasts is reported in a box, the
// caption keeps its star and the clipboard its old text.
namespace held {
ClipboardHolder* s_holder = nullptr;
int s_attempts = 0;
// The holder lets go right after the first refused attempt.
BOOL WINAPI OpenReleasingAfterFirstRefusal(HWND owner) {
    const BOOL ok = OpenClipboard(owner);
    if (++s_attempts == 1 && !ok) s_holder->Release();
    return ok;
}
}  // namespace held

TEST(CopyToClipboard, HeldClipboardIsWaitedForOrReportedNeverClaimed) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    ASSERT_TRUE(RunFile(dlg, tree.File("held.txt", "abc")));
    PutSentinel("old text");
    {
        ClipboardHolder holder;
        ASSERT_TRUE(holder.holds());
        ExpectCopyReportedAsFailed(app);
    }
    EXPECT_EQ(ReadClipboard().text, "old text");

    ClipboardHolder holder;
    ASSERT_TRUE(holder.holds());
    held::s_holder = &holder;
    {
        Fake open(g_pfnOpenClipboard, &held::OpenReleasingAfterFirstRefusal);
        PostClick(dlg, IDC_COPY);
        app.Sync();  // posted after the click: handled once the click has been
    }
    EXPECT_EQ(held::s_attempts, 2);
    EXPECT_EQ(ItemText(dlg, IDC_COPY), "复制");
    EXPECT_EQ(ReadClipboard().text, std::string(kMd5Abc) + " held.txt");
}

// No memory for the text: the copy is reported as failed, the caption keeps
// its star, and the clipboard keeps what it held.
namespace nomem {
HGLOBAL WINAPI NoMemory(UINT, SIZE_T) { return nullptr; }
}  // namespace nomem

TEST(CopyToClipboard, NoMemoryKeepsWhatTheClipboardHeld) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    ASSERT_TRUE(RunFile(dlg, tree.File("nomem.txt", "abc")));
    PutSentinel("kept");
    {
        Fake alloc(g_pfnGlobalAlloc, &nomem::NoMemory);
        ExpectCopyReportedAsFailed(app);
    }
    EXPECT_EQ(ReadClipboard().text, "kept");
}
