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
const wchar_t kMd5A[] = L"0cc175b9c0f1b6a831c399e269772661";
const wchar_t kMd5Abc[] = L"900150983cd24fb0d6963f7d28e17f72";
const wchar_t kMd5MessageDigest[] = L"f96b697d7cb7938d525a2f31aaf161d0";
const wchar_t kMd5Alphabet[] = L"c3fcd3d76192e4007dfb496cca67e13b";

// Names whose double-byte characters in code page 936 end in 0x5C ('\\'):
// 嘰 is 87 5C, 奬 8A 5C.
const wchar_t kTrailName[] = L"乗ab嘰cd.txt";
const wchar_t kTrailFolder[] = L"奬目录";

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
        // The main window reads the clipboard for a moment after each change
        // (the digests it compares with): another program waits that out.
        for (int tries = 0; tries < 200 && !(self->m_ok = OpenClipboard(wnd)); ++tries) Sleep(10);
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
void RunDropped(const App& app, const std::vector<std::wstring>& paths) {
    ASSERT_TRUE(DropAndStart(app, paths));
    ASSERT_TRUE(WaitIdle(app.hwnd())) << "the run did not complete";
}

// A row: its path (column 0) and its digest or failure text (column 1).
using Row = std::pair<std::wstring, std::wstring>;

// The last name of a path the test made.
std::wstring NameOf(const std::wstring& path) { return path.substr(path.rfind(L'\\') + 1); }

// Presses Copy in the expanded layout and answers the question.
void CopyList(const App& app, int answer) {
    HWND dlg = app.hwnd();
    PostClick(dlg, IDC_COPY);
    HWND box = WaitForOwnedDialog(dlg);
    ASSERT_NE(box, nullptr) << "no question";
    EXPECT_EQ(TextW(box), W(kNotice));
    EXPECT_EQ(MessageBoxText(box), W(kCopyQuestion));
    EXPECT_NE(GetDlgItem(box, IDYES), nullptr);
    EXPECT_NE(GetDlgItem(box, IDNO), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
    PostMessageA(box, WM_COMMAND, answer, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
    app.OnUi([] {});  // the handler has finished
    EXPECT_EQ(ItemTextW(dlg, IDC_COPY), W(kCopy));
    EXPECT_TRUE(Enabled(dlg, IDC_COPY));
}

std::wstring Lines(const std::vector<Row>& rows, bool withPaths) {
    std::wstring text;
    for (const auto& r : rows) text += r.second + L" " + (withPaths ? r.first : NameOf(r.first)) + L"\r\n";
    return text;
}

}  // namespace

// ================================================================ compact layout

TEST(CopyCompact, DigestBlankNameWithoutLineEndAndAgain) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::wstring path = tree.File(L"dir\\x.txt", "abc");
    ASSERT_TRUE(RunFile(app, path));
    ASSERT_EQ(ItemTextW(dlg, IDC_MD5), kMd5Abc);

    PutSentinel("before");
    Click(dlg, IDC_COPY);
    ClipText clip = ReadClipboard();
    ASSERT_TRUE(clip.present);
    EXPECT_EQ(clip.unicode, std::wstring(kMd5Abc) + L" x.txt");
    EXPECT_EQ(ItemTextW(dlg, IDC_COPY), W(kCopy));
    EXPECT_TRUE(Enabled(dlg, IDC_COPY));
    // Both boxes keep their texts.
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), path);
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), kMd5Abc);

    // The same results once more.
    PutSentinel("between");
    Click(dlg, IDC_COPY);
    EXPECT_EQ(ReadClipboard().unicode, std::wstring(kMd5Abc) + L" x.txt");
    EXPECT_EQ(ItemTextW(dlg, IDC_COPY), W(kCopy));
}

// The copy opens the clipboard for the main window, which then owns it, and
// names a locale of the text's code page (936: Chinese, PRC), so that the
// system converts the text to Unicode with that code page and no other.
TEST(CopyCompact, OwnedByTheWindowAndTaggedWithTheTextsLocale) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::wstring path = tree.File(L"中文名.txt", "abc");
    ASSERT_TRUE(RunFile(app, path));
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
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(GlobalLock(wide))), std::wstring(kMd5Abc) + L" \u4e2d\u6587\u540d.txt");
    GlobalUnlock(wide);
    CloseClipboard();
    EXPECT_EQ(ReadClipboard().text, Narrow(std::wstring(kMd5Abc) + L" 中文名.txt"));
}

TEST(CopyCompact, TrailBytesEqualToBackslashDoNotCutTheName) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::wstring path = tree.File(std::wstring(kTrailFolder) + L"\\" + kTrailName, "a");
    ASSERT_TRUE(RunFile(app, path));
    Click(dlg, IDC_COPY);
    // A cut at the byte 0x5C inside 嘰 would leave "cd.txt".
    const std::wstring line = std::wstring(kMd5A) + L" " + kTrailName;
    const ClipText clip = ReadClipboard();
    EXPECT_EQ(clip.unicode, line);
    EXPECT_EQ(clip.text, Narrow(line));
}

// ================================================================ list layout

TEST(CopyList, YesGivesFullPathsNoGivesNamesEveryLineEnded) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    std::map<std::wstring, std::wstring> digestOf = {
        {tree.File(L"a.txt", "a"), kMd5A},
        {tree.File(L"sub\\b.txt", "abc"), kMd5Abc},
        {tree.File(L"sub\\deeper\\c.txt", ""), kEmptyMd5},
        {tree.File(std::wstring(kTrailFolder) + L"\\" + kTrailName, "message digest"), kMd5MessageDigest},
        {tree.File(L"z.bin", "abcdefghijklmnopqrstuvwxyz"), kMd5Alphabet},
    };
    RunDropped(app, {tree.path()});
    const std::vector<Row> rows = ListRowsW(dlg);
    ASSERT_EQ(rows.size(), digestOf.size());
    for (const auto& r : rows) {
        ASSERT_EQ(digestOf.count(r.first), 1u) << r.first;
        EXPECT_EQ(r.second, digestOf[r.first]) << r.first;
    }

    CopyList(app, IDYES);
    const std::wstring withPaths = ReadClipboard().unicode;
    EXPECT_EQ(withPaths, Lines(rows, true));
    EXPECT_EQ(withPaths.substr(0, 33), rows[0].second + L" ") << "row 0 comes first";
    EXPECT_EQ(withPaths.substr(withPaths.size() - 2), L"\r\n") << "the last line is ended too";

    CopyList(app, IDNO);
    const std::wstring names = ReadClipboard().unicode;
    EXPECT_EQ(names, Lines(rows, false));
    EXPECT_NE(names.find(std::wstring(kMd5MessageDigest) + L" " + kTrailName + L"\r\n"), std::wstring::npos);

    // List mode leaves the boxes alone: edit 1001 keeps its hint.
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), W(kListHint));
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), W(kOneFolder));
}

// Names outside code page 936: the Unicode text holds each exactly, with or
// without its path (the plain text holds what the system's code page writes).
TEST(CopyList, UnicodeTextHoldsEveryNameExactly) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::vector<std::pair<std::wstring, const wchar_t*>> files{
        {tree.Sub(L"한국\\노래.mp3"), kMd5A}, {tree.Sub(L"😀 ¥.txt"), kMd5Abc}, {tree.Sub(L"Motörhead.flac"), kEmptyMd5}};
    WriteText(files[0].first, "a");
    WriteText(files[1].first, "abc");
    WriteText(files[2].first, "");
    std::vector<std::wstring> drops;
    std::wstring withPaths, names;
    for (const auto& f : files) {
        drops.push_back(f.first);
        const std::wstring digest = f.second + std::wstring(L" ");
        withPaths += digest + f.first + L"\r\n";
        names += digest + f.first.substr(f.first.rfind(L'\\') + 1) + L"\r\n";
    }
    Drop(app, drops);
    ASSERT_TRUE(WaitUntil([&] { return Counter(dlg) == L"3/3"; }));
    Click(dlg, IDOK);
    ASSERT_TRUE(WaitIdle(dlg));

    CopyList(app, IDYES);
    EXPECT_EQ(ReadClipboard().unicode, withPaths);
    CopyList(app, IDNO);
    const ClipText clip = ReadClipboard();
    EXPECT_EQ(clip.unicode, names);
    // Code page 936 has none of these names' letters but the digits, the
    // dots and the latin ones: each other character is one "?" (the emoji
    // is two UTF-16 units), never a look-alike ("\u00a5" is not "\uffe5").
    EXPECT_EQ(clip.text,
              "0cc175b9c0f1b6a831c399e269772661 ??.mp3\r\n"
              "900150983cd24fb0d6963f7d28e17f72 ?? ?.txt\r\n"
              "d41d8cd98f00b204e9800998ecf8427e Mot?rhead.flac\r\n");
}

TEST(CopyList, SameNameInTwoFoldersGivesTwoLinesUnderNo) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    tree.File(L"one\\same.txt", "a");
    tree.File(L"two\\same.txt", "abc");
    RunDropped(app, {tree.path() + L"\\one", tree.path() + L"\\two"});
    const std::vector<Row> rows = ListRowsW(dlg);
    ASSERT_EQ(rows.size(), 2u);
    CopyList(app, IDNO);
    EXPECT_EQ(ReadClipboard().unicode, std::wstring(kMd5A) + L" same.txt\r\n" + kMd5Abc + L" same.txt\r\n");
}

TEST(CopyList, FailedRowIsCopiedWithItsPaddedText) {
    App app;
    HWND dlg = app.hwnd();
    TempDir tree;
    const std::wstring ok = tree.File(L"ok.txt", "abc");
    const std::wstring missing = tree.path() + L"\\missing.bin";
    RunDropped(app, {ok, missing});
    const std::vector<Row> rows = ListRowsW(dlg);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[1].second, W(kFailedRow));
    ASSERT_EQ(strlen(kFailedRow), 32u);

    CopyList(app, IDYES);
    // The failure text with its 15 blanks, then the separator.
    EXPECT_EQ(ReadClipboard().unicode, kMd5Abc + (L" " + ok + L"\r\n") + W(kFailedRow) + L" " + missing + L"\r\n");
    CopyList(app, IDNO);
    EXPECT_EQ(ReadClipboard().unicode, kMd5Abc + (L" ok.txt\r\n" + W(kFailedRow)) + L" missing.bin\r\n");
}

TEST(CopyList, EmptyListStillAsksAndCopiesEmptyText) {
    App app;
    TempDir tree;
    const std::wstring empty = tree.Sub(L"empty");
    ASSERT_TRUE(CreateDirectoryW(empty.c_str(), nullptr));
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
    EXPECT_EQ(TextW(box), W(kNotice));
    EXPECT_EQ(MessageBoxText(box), W(kCopyFailed));
    Answer(box, IDOK);
    app.OnUi([] {});  // the handler has finished
    EXPECT_EQ(ItemTextW(dlg, IDC_COPY), W(kCopyMarked));
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
    ASSERT_TRUE(RunFile(app, tree.File(L"held.txt", "abc")));
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
    EXPECT_EQ(ItemTextW(dlg, IDC_COPY), W(kCopy));
    EXPECT_EQ(ReadClipboard().unicode, std::wstring(kMd5Abc) + L" held.txt");
}

// No memory for the text: the copy is reported as failed, the caption keeps
// its star, and the clipboard keeps what it held.
namespace nomem {
HGLOBAL WINAPI NoMemory(UINT, SIZE_T) { return nullptr; }
}  // namespace nomem

TEST(CopyToClipboard, NoMemoryKeepsWhatTheClipboardHeld) {
    App app;
    TempDir tree;
    ASSERT_TRUE(RunFile(app, tree.File(L"nomem.txt", "abc")));
    PutSentinel("kept");
    {
        Fake alloc(g_pfnGlobalAlloc, &nomem::NoMemory);
        ExpectCopyReportedAsFailed(app);
    }
    EXPECT_EQ(ReadClipboard().text, "kept");
}
