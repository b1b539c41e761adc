// Checking end to end in the real dialog: Open, Start, Stop, exit, drops and
// the expansion of folders, with digests compared to the system's own MD5.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/DigestDlg.h"
#include "app/Messages.h"
#include "harness.h"
#include "jobs/RunController.h"
#include "jobs/TimerResolution.h"
#include "jobs/JobState.h"
#include "jobs/TargetList.h"
#include "framework/AfxFile.h"
#include "res/resource.h"

using namespace harness;

namespace {

// Chooses path in the real Open dialog (or cancels it when path is empty),
// whose file-type box starts on the first of its three filters.
void OpenWithDialog(const App& app, const std::wstring& path) {
    EXPECT_TRUE(ChooseInOpenDialog(app.hwnd(), path, [](HWND open) {
        HWND types = GetDlgItem(open, 0x470);
        if (!types) return;
        const int sel = static_cast<int>(SendMessageW(types, CB_GETCURSEL, 0, 0));
        wchar_t text[128] = {};
        SendMessageW(types, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(std::wstring(text), W(kOpenFilter)) << "the first of the program's file types";
        EXPECT_EQ(SendMessageA(types, CB_GETCOUNT, 0, 0), 3);
    }));
    app.Sync();  // the handler has finished
}

void Start(HWND dlg) { Click(dlg, IDOK); }

}  // namespace

TEST(CheckSingleFile, OpenThenStartShowsTheDigest) {
    TempDir dir;
    const std::wstring file = dir.Sub(L"data.bin");
    WriteFile(file, 300000, 7);
    App app;
    HWND dlg = app.hwnd();
    OpenWithDialog(app, file);
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), file);
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kReady));
    EXPECT_EQ(ItemTextW(dlg, IDC_STAGE), W(kStage0));
    EXPECT_FALSE(Enabled(dlg, IDC_COPY));

    Start(dlg);
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), OracleMd5(file));
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kFileDone));
    EXPECT_EQ(ItemTextW(dlg, IDC_STAGE), W(kStage3));
    EXPECT_TRUE(Enabled(dlg, IDC_COPY));
    EXPECT_EQ(ItemTextW(dlg, IDC_COPY), W(kCopyMarked));
    HWND bar = GetDlgItem(dlg, IDC_PROGRESS);
    EXPECT_EQ(BarMax(bar), 292);  // 300000 bytes = 292 whole KiB
    EXPECT_EQ(BarPos(bar), 292);  // 293 chunks: one above the range, the bar is full
    ExpectIdleButtons(dlg);
    SaveBmp(CaptureWindow(dlg), "single-file-result.bmp");

    // Open again after a completed run takes the result back.
    OpenWithDialog(app, file);
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), L"");
    EXPECT_EQ(ItemTextW(dlg, IDC_COPY), W(kCopy));
    EXPECT_FALSE(Enabled(dlg, IDC_COPY));
    EXPECT_EQ(ItemTextW(dlg, IDC_STAGE), W(kStage0));
    EXPECT_EQ(BarPos(bar), 0);
}

TEST(CheckSingleFile, OpenCancelChangesNothing) {
    TempDir dir;
    const std::wstring file = dir.Sub(L"before.bin");
    WriteFile(file, 10);
    App app;
    HWND dlg = app.hwnd();
    OpenWithDialog(app, L"");
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), L"");
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kIdle));
    OpenWithDialog(app, file);
    OpenWithDialog(app, L"");
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), file);
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kReady));
    EXPECT_EQ(g_bCompact, 1);
}

// A file dropped while the Open dialog is up starts its run at once; the
// choice made in the dialog afterwards must not reset the running panel.
TEST(CheckSingleFile, OpenReturningDuringARunChangesNothing) {
    TempDir dir;
    const std::wstring big = dir.Sub(L"big.bin"), chosen = dir.Sub(L"chosen.bin");
    WriteSparse(big, 4ull << 30);
    WriteFile(chosen, 10);
    App app;
    HWND dlg = app.hwnd();
    PostClick(dlg, IDC_OPEN);
    HWND open = WaitForOwnedDialog(dlg);
    ASSERT_NE(open, nullptr) << "no Open dialog";
    PostMessageA(dlg, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({big})), 0);
    ASSERT_TRUE(WaitUntil([&] { return BarPos(GetDlgItem(dlg, IDC_PROGRESS)) > 0; }, 10000)) << "the drop did not start";
    SetDlgItemTextW(open, 0x47C, chosen.c_str());
    PostMessageA(GetDlgItem(open, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(open); }));
    app.Sync();
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), big);
    EXPECT_NE(ItemTextW(dlg, IDC_STATUS), W(kReady));
    EXPECT_GT(BarPos(GetDlgItem(dlg, IDC_PROGRESS)), 0);
    EXPECT_EQ(g_bWorking.load(), 1);
    Click(dlg, IDC_STOP);
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), W(kFailed));
}

TEST(CheckSingleFile, EmptyPathAndPlaceholder) {
    App app;
    HWND dlg = app.hwnd();
    PostClick(dlg, IDOK);
    HWND box = WaitForOwnedDialog(dlg);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), W(kPathError));
    EXPECT_EQ(TextW(box), L"Quellin");
    Answer(box, IDOK);
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(g_bWorking.load(), 0);
    ExpectIdleButtons(dlg);
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kIdle));

    // A list placeholder is accepted as a target although no such file exists
    // (a dropped folder puts it into the path box); in the compact layout
    // there is then no file to digest.
    TempDir dir;
    const std::wstring folder = dir.Sub(L"folder");
    CreateDirectoryW(folder.c_str(), nullptr);
    Drop(app, {folder});
    ASSERT_EQ(ItemTextW(dlg, IDC_PATH), W(kOneFolder));
    app.OnUi([&] { app.dlg()->SetCompactMode(1); });
    Start(dlg);
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(WaitForOwnedDialog(dlg, 300), nullptr) << "placeholder refused";
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), W(kFailed));
}

TEST(CheckSingleFile, FileThatCannotBeOpened) {
    TempDir dir;
    const std::wstring file = dir.Sub(L"locked.bin");
    WriteFile(file, 5000);
    HeldOpen lock(file);
    App app;
    HWND dlg = app.hwnd();
    ASSERT_TRUE(RunFile(app, file));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), W(kFailed));
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kFileFailed));
    EXPECT_EQ(ItemTextW(dlg, IDC_STAGE), W(kStage3));
    EXPECT_EQ(BarPos(GetDlgItem(dlg, IDC_PROGRESS)), 1);
    EXPECT_FALSE(Enabled(dlg, IDC_COPY));
    ExpectIdleButtons(dlg);
}

TEST(Drops, OneFileIsCheckedAtOnceInTheCompactLayout) {
    TempDir dir;
    const std::wstring file = dir.Sub(L"one.txt");
    WriteFile(file, 4096);
    App app;
    HWND dlg = app.hwnd();
    app.OnUi([&] { app.dlg()->SetCompactMode(0); });
    Drop(app, {file});
    ASSERT_TRUE(WaitUntil([&] { return ItemTextW(dlg, IDC_STAGE) == W(kStage3); }));
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(g_bCompact, 1);
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), file);
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), OracleMd5(file));
    // The hidden list got the one empty entry of a single-file run.
    EXPECT_EQ(g_nItems, 1);
}

TEST(Drops, FolderSeveralItemsAndEmpty) {
    TempDir dir;
    const std::wstring a = dir.Sub(L"a.txt"), b = dir.Sub(L"b.txt"), folder = dir.Sub(L"sub");
    WriteFile(a, 10);
    WriteFile(b, 20);
    CreateDirectoryW(folder.c_str(), nullptr);
    App app;
    HWND dlg = app.hwnd();
    RECT compact;
    GetWindowRect(dlg, &compact);

    Drop(app, {folder});
    ASSERT_TRUE(WaitUntil([&] { return ItemTextW(dlg, IDC_LISTSTATUS) == W(kDropTaken); }));
    EXPECT_EQ(g_bCompact, 0);
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), W(kOneFolder));
    EXPECT_EQ(ListRowsW(dlg), (std::vector<std::pair<std::wstring, std::wstring>>{{folder, W(kKindFolder)}}));
    EXPECT_EQ(Counter(dlg), L"1/1");
    EXPECT_TRUE(Enabled(dlg, IDOK)) << "a folder waits for Start";
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kReady));

    Drop(app, {a, folder, b});
    ASSERT_TRUE(WaitUntil([&] { return Counter(dlg) == L"3/3"; }));
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), W(kSeveral));
    EXPECT_EQ(ListRowsW(dlg), (std::vector<std::pair<std::wstring, std::wstring>>{
                                 {a, W(kKindFile)}, {folder, W(kKindFolder)}, {b, W(kKindFile)}}));
    EXPECT_EQ(g_nItems, 3);

    Drop(app, std::vector<std::wstring>{});
    ASSERT_TRUE(WaitUntil([&] { return Counter(dlg) == L"0/0"; }));
    EXPECT_TRUE(ListRowsW(dlg).empty());
    EXPECT_EQ(g_bCompact, 0) << "an empty drop keeps the layout";
    EXPECT_EQ(WaitForOwnedDialog(dlg, 200), nullptr);
}

TEST(Drops, OpenInTheExpandedLayoutKeepsTheRows) {
    TempDir dir;
    const std::wstring a = dir.Sub(L"a.txt"), b = dir.Sub(L"b.txt");
    WriteFile(a, 10);
    WriteFile(b, 20);
    App app;
    HWND dlg = app.hwnd();
    RECT compact;
    GetWindowRect(dlg, &compact);
    Drop(app, {a, b});
    ASSERT_TRUE(WaitUntil([&] { return Counter(dlg) == L"2/2"; }));
    OpenWithDialog(app, a);
    EXPECT_EQ(g_bCompact, 1);
    RECT now;
    GetWindowRect(dlg, &now);
    EXPECT_EQ(now.bottom - now.top, compact.bottom - compact.top);
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), a);
    EXPECT_EQ(ListRowsW(dlg).size(), 2u);
}

TEST(ListRun, NestedTreeInWalkOrderWithAnUnreadableFile) {
    TempDir dir;
    const std::wstring top = dir.Sub(L"tree"), single = dir.Sub(L"single.bin"), locked = dir.Sub(L"tree\\s\\locked.bin");
    std::map<std::wstring, std::wstring> results;
    const std::pair<const wchar_t*, size_t> files[] = {{L"single.bin", 1025},      {L"tree\\a.bin", 3000},
                                                       {L"tree\\s\\c.bin", 70000}, {L"tree\\s\\deeper\\d.bin", 0},
                                                       {L"tree\\z.bin", 1024},      {L"tree\\s\\locked.bin", 100}};
    for (const auto& f : files) {
        WriteFile(dir.Sub(f.first), f.second, static_cast<unsigned>(f.second));
        results[dir.Sub(f.first)] = OracleMd5(dir.Sub(f.first));
    }
    results[locked] = W(kFailedRow);
    HeldOpen lock(locked);

    App app;
    HWND dlg = app.hwnd();
    ASSERT_TRUE(DropAndStart(app, {single, top}));
    ASSERT_TRUE(WaitIdle(dlg));
    const auto rows = ListRowsW(dlg);
    ExpectWalked(rows, {single, top}, results);
    const std::wstring n = std::to_wstring(rows.size());
    EXPECT_EQ(g_nItems, static_cast<int>(rows.size()));
    EXPECT_EQ(Counter(dlg), n + L"/" + n);
    HWND total = GetDlgItem(dlg, IDC_TOTALPROGRESS);
    EXPECT_EQ(BarMax(total), static_cast<int>(rows.size()));
    EXPECT_EQ(BarPos(total), static_cast<int>(rows.size()));
    EXPECT_EQ(ItemTextW(dlg, IDC_LISTSTATUS), W(kListDone));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), W(kListHint));
    EXPECT_TRUE(Enabled(dlg, IDC_COPY));
    EXPECT_EQ(ItemTextW(dlg, IDC_COPY), W(kCopyMarked));
    SaveBmp(CaptureWindow(dlg), "list-run-result.bmp");

    // A second Start expands the same rows again, in the same order.
    Start(dlg);
    ASSERT_TRUE(WaitIdle(dlg));
    const auto again = ListRowsW(dlg);
    ASSERT_EQ(again.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(again[i], rows[i]);
}

namespace {

// Writes the files below top, drops top and checks it: each file is one
// row, showing its real name and its own digest, in walk order.
void ExpectEachFileItsOwnRow(const std::wstring& top, const std::vector<std::wstring>& files) {
    std::map<std::wstring, std::wstring> results;
    for (size_t i = 0; i < files.size(); ++i) {
        WriteFile(files[i], 100 + i, static_cast<unsigned>(i));
        results[files[i]] = OracleMd5(files[i]);
    }
    App app;
    HWND dlg = app.hwnd();
    ASSERT_TRUE(DropAndStart(app, {top}));
    ASSERT_TRUE(WaitIdle(dlg));
    ExpectWalked(ListRowsW(dlg), {top}, results);
    EXPECT_EQ(ItemTextW(dlg, IDC_LISTSTATUS), W(kListDone));
}

}  // namespace

// Names as people have them: letters outside code page 936 (Korean, ö ñ ç,
// an emoji, a no-break space, a bullet), and ¥ beside the full-width ￥ that a
// lossy conversion would make of it. Every file is its own row, with its own
// digest; a folder with such a name is walked.
TEST(ListRun, NamesInEveryScriptAreRowsOfTheirOwn) {
    TempDir dir;
    const std::wstring top = dir.Sub(L"names");
    const std::vector<std::wstring> files{
        dir.Sub(L"names\\¥.txt"),          dir.Sub(L"names\\￥.txt"),
        dir.Sub(L"names\\한국\\노래.mp3"), dir.Sub(L"names\\😀 smile.txt"),
        dir.Sub(L"names\\Motörhead ñandú ç.flac"), dir.Sub(L"names\\普通.txt"),
        dir.Sub(L"names\\a\u00a0b •.txt")};
    ExpectEachFileItsOwnRow(top, files);
}

// Folders whose names differ only by a trailing dot or blank ("x", "x." and
// "x "): each is walked as itself, never as its neighbour.
TEST(ListRun, FoldersThatDifferOnlyByATrailingDotOrBlank) {
    TempDir dir;
    const std::wstring top = dir.Sub(L"dots");
    const std::vector<std::wstring> files{dir.Sub(L"dots\\x\\in x.txt"), dir.Sub(L"dots\\x.\\in x dot.txt"),
                                          dir.Sub(L"dots\\x \\in x blank.txt")};
    ExpectEachFileItsOwnRow(top, files);
}

TEST(ListRun, EmptyFolderAloneCompletes) {
    TempDir dir;
    const std::wstring empty = dir.Sub(L"empty");
    CreateDirectoryW(empty.c_str(), nullptr);
    App app;
    HWND dlg = app.hwnd();
    ASSERT_TRUE(DropAndStart(app, {empty}));
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_TRUE(ListRowsW(dlg).empty());
    EXPECT_EQ(g_nItems, 0);
    EXPECT_EQ(ItemTextW(dlg, IDC_LISTSTATUS), W(kListDone));
    EXPECT_TRUE(Enabled(dlg, IDC_COPY));
}

TEST(ListRun, TrailBytesThatLookLikeSeparators) {
    TempDir dir;
    // "乗" is 0x81 0x5C and "亅" is 0x81 0x7C in code page 936.
    const std::wstring folder = dir.Sub(L"目录乗");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring f1 = folder + L"\\文件乗.bin";
    const std::wstring f2 = folder + L"\\亅名字亅.bin";
    const std::wstring f3 = dir.Sub(L"外亅面.txt");
    WriteFile(f1, 2000, 1);
    WriteFile(f2, 3000, 2);
    WriteFile(f3, 4000, 3);
    App app;
    HWND dlg = app.hwnd();
    ASSERT_TRUE(DropAndStart(app, {folder, f3}));
    ASSERT_TRUE(WaitIdle(dlg));
    ExpectWalked(ListRowsW(dlg), {folder, f3}, {{f1, OracleMd5(f1)}, {f2, OracleMd5(f2)}, {f3, OracleMd5(f3)}});
}

// The link back is not entered; it is a row of its own (it cannot be read
// as a file), so the user sees it was not walked.
TEST(ListRun, LinkBackToAnAncestorIsNotFollowed) {
    const std::wstring top = EnvPath(L"QUELLIN_LINK_TREE");
    if (top.empty()) GTEST_SKIP() << "QUELLIN_LINK_TREE not set (made by the test setup)";
    App app;
    HWND dlg = app.hwnd();
    ASSERT_TRUE(DropAndStart(app, {top}));
    ASSERT_TRUE(WaitIdle(dlg, 60000));
    std::vector<std::wstring> names;
    for (const auto& row : ListRowsW(dlg)) {
        names.push_back(row.first.substr(row.first.rfind(L'\\') + 1));
        if (names.back() == L"up")
            EXPECT_EQ(row.second, W(kFailedRow));
        else
            EXPECT_EQ(row.second, OracleMd5(row.first)) << row.first;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"a.txt", L"b.txt", L"c.txt", L"up"}));
}

TEST(Stop, DuringTheWalkDuringAListAndDuringASingleFile) {
    TempDir dir;
    const std::wstring many = dir.Sub(L"many");
    CreateDirectoryW(many.c_str(), nullptr);
    for (int i = 0; i < 1500; ++i) WriteText(many + L"\\f" + std::to_wstring(i), "x");
    const std::wstring big1 = dir.Sub(L"big1.bin"), big2 = dir.Sub(L"big2.bin");
    WriteSparse(big1, 512ull << 20);
    WriteSparse(big2, 512ull << 20);
    App app;
    HWND dlg = app.hwnd();

    // During the walk of the large folder, with more entries after it: the
    // window is idle within 200 ms (a walk that goes on would take over a
    // second more); the folder and every entry not yet walked stay targets,
    // each once and in order; the run counts as stopped, and the next Start
    // checks them all.
    const std::wstring a = dir.Sub(L"a.txt"), b = dir.Sub(L"b"), c = dir.Sub(L"c.txt");
    WriteFile(a, 5);
    WriteFile(dir.Sub(L"b\\inside.txt"), 6);
    WriteFile(c, 7);
    ASSERT_TRUE(DropAndStart(app, {many, a, b, c}));
    ASSERT_TRUE(WaitUntil([&] { return _wtoi(Counter(dlg).c_str()) >= 20; }));
    const double t0 = NowMs();
    Click(dlg, IDC_STOP);
    EXPECT_FALSE(Enabled(dlg, IDC_STOP));
    ASSERT_TRUE(WaitIdle(dlg));
    const double ms = NowMs() - t0;
    std::printf("Stop during the walk: idle after %.1f ms\n", ms);
    EXPECT_LE(ms, 200 + 400) << "Stop took longer than 200 ms (and the margin for a loaded machine)";
    EXPECT_EQ(ListRowsW(dlg), (std::vector<std::pair<std::wstring, std::wstring>>{{many, L""}, {a, L""}, {b, L""}, {c, L""}}));
    EXPECT_EQ(g_nItems, 4);
    EXPECT_EQ(ItemTextW(dlg, IDC_LISTSTATUS), W(kListStopped));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), W(kListFailed));
    EXPECT_FALSE(Enabled(dlg, IDC_COPY));
    Start(dlg);
    ASSERT_TRUE(WaitIdle(dlg, 120000));
    EXPECT_EQ(ItemTextW(dlg, IDC_LISTSTATUS), W(kListDone));
    EXPECT_EQ(ListRowsW(dlg).size(), 1503u);
    EXPECT_EQ(Counter(dlg), L"1503/1503");

    // During a list run, inside the first big file: its row is marked failed.
    ASSERT_TRUE(DropAndStart(app, {big1, big2}));
    ASSERT_TRUE(WaitUntil([&] { return BarPos(GetDlgItem(dlg, IDC_PROGRESS)) > 0; }));
    Click(dlg, IDC_STOP);
    ASSERT_TRUE(WaitIdle(dlg));
    auto rows = ListRowsW(dlg);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].second, W(kFailedRow));
    EXPECT_EQ(rows[1].second, L"");
    EXPECT_EQ(ItemTextW(dlg, IDC_LISTSTATUS), W(kListStopped));
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kFileFailed));
    EXPECT_EQ(ItemTextW(dlg, IDC_STAGE), W(kStage3));
    EXPECT_EQ(Counter(dlg), L"1/2") << "the interrupted file counts as done";
    EXPECT_EQ(BarMax(GetDlgItem(dlg, IDC_TOTALPROGRESS)), 2);
    EXPECT_EQ(BarPos(GetDlgItem(dlg, IDC_TOTALPROGRESS)), 1);
    EXPECT_FALSE(Enabled(dlg, IDC_COPY));

    // During a single file.
    Drop(app, {big1});
    ASSERT_TRUE(WaitUntil([&] { return BarPos(GetDlgItem(dlg, IDC_PROGRESS)) > 0; }));
    Click(dlg, IDC_STOP);
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), W(kFailed));
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kFileFailed));
    EXPECT_FALSE(Enabled(dlg, IDC_COPY));

    // And a new run works.
    const std::wstring small = dir.Sub(L"small.bin");
    WriteFile(small, 777);
    ASSERT_TRUE(RunFile(app, small));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), OracleMd5(small));
}

TEST(Busy, DropDuringARunAndDuringStopping) {
    TempDir dir;
    const std::wstring big = dir.Sub(L"big.bin"), other = dir.Sub(L"other.txt");
    WriteSparse(big, 1ull << 30);
    WriteFile(other, 10);
    App app;
    HWND dlg = app.hwnd();
    Drop(app, {big});
    ASSERT_TRUE(WaitUntil([&] { return BarPos(GetDlgItem(dlg, IDC_PROGRESS)) > 0; }));

    Drop(app, {other});
    HWND box = WaitForOwnedDialog(dlg);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), W(kBusyDrop));
    Answer(box, IDOK);
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), big);

    // Stopping: Stop and then a drop, handled on the window thread before the
    // checking thread can carry out its last window calls and end.
    app.PostUi([dlg, other] {
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDC_STOP)));
        SendMessageA(dlg, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({other})), 0);
    });
    box = WaitForOwnedDialog(dlg);
    ASSERT_NE(box, nullptr) << "a drop while the stopped thread is still ending must be refused";
    EXPECT_EQ(MessageBoxText(box), W(kBusyDrop));
    Answer(box, IDOK);
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(ItemTextW(dlg, IDC_PATH), big);
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), W(kFailed));
}

// The wake-up that an earlier run's thread posted as its last act, handled
// while a newer run is going on, neither holds the window nor touches the
// newer run.
TEST(Busy, ALateWakeUpOfAnEarlierRunDoesNotTouchTheNewOne) {
    TempDir dir;
    const std::wstring small = dir.Sub(L"small.bin"), big = dir.Sub(L"big.bin");
    WriteFile(small, 100);
    WriteSparse(big, 4ull << 30);
    App app;
    HWND dlg = app.hwnd();
    ASSERT_TRUE(RunFile(app, small));
    OpenWithDialog(app, big);
    Start(dlg);
    ASSERT_TRUE(WaitUntil([&] { return BarPos(GetDlgItem(dlg, IDC_PROGRESS)) > 0; }));
    for (int i = 0; i < 3; ++i) {
        PostMessageA(dlg, WM_RUNDISPLAY, 0, 0);
        DWORD_PTR result = 0;
        EXPECT_NE(SendMessageTimeoutA(dlg, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result), 0)
            << "the window did not answer while the run went on";
        EXPECT_EQ(g_bWorking.load(), 1);
        EXPECT_NE(g_hCheckThread, nullptr);
        ExpectRunningButtons(dlg);
    }
    Click(dlg, IDC_STOP);
    ASSERT_TRUE(WaitEnded(app));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), W(kFailed));
}

// The calls a run makes about the system timer, recorded in order: B and E
// for timeBeginPeriod(1) and timeEndPeriod(1), O and R for opting out of
// timer-resolution throttling and returning to the system's choice.
namespace timer_calls {
std::string s_calls;
BOOL s_accept = TRUE;
MMRESULT WINAPI Begin(UINT ms) {
    s_calls += ms == 1 ? "B" : "?";
    return TIMERR_NOERROR;
}
MMRESULT WINAPI End(UINT ms) {
    s_calls += ms == 1 ? "E" : "?";
    return TIMERR_NOERROR;
}
BOOL WINAPI Set(HANDLE process, PROCESS_INFORMATION_CLASS what, LPVOID info, DWORD size) {
    const auto* state = static_cast<const PROCESS_POWER_THROTTLING_STATE*>(info);
    if (process != GetCurrentProcess() || what != ProcessPowerThrottling || size != sizeof *state ||
        state->Version != PROCESS_POWER_THROTTLING_CURRENT_VERSION || state->StateMask != 0)
        s_calls += "?";
    else if (state->ControlMask == PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION)
        s_calls += "O";  // opted out: timer requests honoured with no window shown
    else if (state->ControlMask == 0)
        s_calls += "R";  // returned to the system's choice
    else
        s_calls += "?";
    return s_accept;
}
}  // namespace timer_calls

// Every run raises the system timer's resolution once and restores it once,
// before the window shows the run as ended: a single file, a stopped list, a
// completed list; a refused Start calls nothing. Where the system has the
// opt-out from timer-resolution throttling (Windows 11), a run takes it after
// raising the resolution and gives it back before lowering it, once each;
// where the system refuses it (Windows 8 and 10 have the function but not the
// flag) nothing is undone; where the function is missing (before Windows 8)
// nothing is called.
TEST(ListRun, TimerResolutionAndThrottlingOptOutOncePerRun) {
    using namespace timer_calls;
    TempDir dir;
    const std::wstring a = dir.Sub(L"a.bin"), folder = dir.Sub(L"f");
    WriteFile(a, 3000);
    WriteFile(dir.Sub(L"f\\b.bin"), 10);
    Fake begin(g_pfnTimeBeginPeriod, &Begin);
    Fake end(g_pfnTimeEndPeriod, &End);
    Fake set(g_pfnSetProcessInformation, nullptr);  // Vista and 7
    App app;
    HWND dlg = app.hwnd();
    s_calls.clear();
    ASSERT_TRUE(RunFile(app, a));
    EXPECT_EQ(s_calls, "BE");
    Drop(app, {folder});  // a list, stopped if it is still going
    Start(dlg);
    TryClick(app, IDC_STOP);
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(s_calls, "BEBE");
    Drop(app, {a, folder});  // a list, completed
    Start(dlg);
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(ItemTextW(dlg, IDC_LISTSTATUS), W(kListDone));
    EXPECT_EQ(s_calls, "BEBEBE");
    // Refused: the file chosen with Open is gone when Start is pressed. The
    // run's thread finds nothing there, and the run ends at once.
    const std::wstring gone = dir.Sub(L"gone.bin");
    WriteFile(gone, 1);
    OpenWithDialog(app, gone);
    ASSERT_TRUE(DeleteFileW(gone.c_str()));
    PostClick(dlg, IDOK);
    HWND box = WaitForOwnedDialog(dlg);
    ASSERT_NE(box, nullptr);
    Answer(box, IDOK);
    EXPECT_EQ(s_calls, "BEBEBEBE");

    g_pfnSetProcessInformation = &Set;  // Windows 11
    s_calls.clear();
    s_accept = TRUE;
    ASSERT_TRUE(RunFile(app, a));
    Drop(app, {folder});
    Start(dlg);
    TryClick(app, IDC_STOP);
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(s_calls, "BOREBORE");
    s_calls.clear();
    s_accept = FALSE;  // Windows 8 and 10
    ASSERT_TRUE(RunFile(app, a));
    EXPECT_EQ(s_calls, "BOE");
}

// More rows than 16 bits count: the overall bar is ranged from the full
// count and ends full, and every row gets its result.
TEST(ListRun, SeventyThousandRowsFillTheOverallBar) {
    const int n = 70000;
    TempDir dir;
    const std::wstring real = dir.Sub(L"real.bin"), missing = dir.Sub(L"missing.bin");
    WriteFile(real, 50);
    App app;
    HWND dlg = app.hwnd();
    HWND list = GetDlgItem(dlg, IDC_FILELIST);
    // The rows are put in directly (a drop of 70,000 items would take Wine's
    // list long to draw); every seventh names a file, the others nothing.
    Drop(app, {real, missing});
    app.OnUi([&] {
        SendMessageA(list, WM_SETREDRAW, FALSE, 0);
        SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
        for (int i = 0; i < n; ++i) {
            LVITEMW row{};
            row.mask = LVIF_TEXT;
            row.iItem = i;
            row.pszText = const_cast<wchar_t*>(i % 7 == 0 ? real.c_str() : missing.c_str());
            SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row));
        }
        SendMessageA(list, WM_SETREDRAW, TRUE, 0);
        g_nItems = n;
    });
    Start(dlg);
    ASSERT_TRUE(WaitIdle(dlg, 280000));
    HWND total = GetDlgItem(dlg, IDC_TOTALPROGRESS);
    EXPECT_EQ(BarMax(total), n);
    EXPECT_EQ(BarPos(total), n);
    EXPECT_EQ(Counter(dlg), L"70000/70000");
    EXPECT_EQ(ItemTextW(dlg, IDC_LISTSTATUS), W(kListDone));
    EXPECT_TRUE(Enabled(dlg, IDC_COPY));
    const std::wstring digest = OracleMd5(real);
    std::vector<std::pair<std::wstring, std::wstring>> rows;
    app.OnUi([&] { rows = ListRowsW(dlg); });
    ASSERT_EQ(rows.size(), static_cast<size_t>(n));
    int wrong = 0;
    for (int i = 0; i < n; ++i) {
        const bool ok = i % 7 == 0 ? rows[i] == std::make_pair(real, digest) : rows[i] == std::make_pair(missing, W(kFailedRow));
        if (!ok && ++wrong <= 3) ADD_FAILURE() << "row " << i << ": " << rows[i].first << " " << rows[i].second;
    }
    EXPECT_EQ(wrong, 0);
}

TEST(Exit, IdleAsksNothing) {
    App app;
    PostMessageA(app.hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(app.Ended(3000));
}

TEST(Exit, WhileRunningAsksAndYesEndsQuickly) {
    TempDir dir;
    const std::wstring big = dir.Sub(L"big.bin");
    WriteSparse(big, 1ull << 30);
    App app;
    HWND dlg = app.hwnd();
    Drop(app, {big});
    ASSERT_TRUE(WaitUntil([&] { return BarPos(GetDlgItem(dlg, IDC_PROGRESS)) > 0; }));

    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    HWND box = WaitForOwnedDialog(dlg);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), W(kExitQuestion));
    EXPECT_EQ(TextW(box), W(kNotice));
    Answer(box, IDNO);
    const int before = BarPos(GetDlgItem(dlg, IDC_PROGRESS));
    Sleep(300);
    EXPECT_EQ(g_bWorking.load(), 1) << "No lets the run go on";
    EXPECT_GE(BarPos(GetDlgItem(dlg, IDC_PROGRESS)), before);

    const double t0 = ExitAnsweringYes(dlg);
    EXPECT_TRUE(app.Ended(1000)) << "exit took longer than a second";
    std::printf("exit after Yes took %.1f ms\n", NowMs() - t0);
}

// What a person sees of the buttons while a run is active, and after it
// ends: stopped single file, stopped list, completed list.
TEST(Buttons, DuringARunAndAfterEachEnd) {
    TempDir dir;
    const std::wstring big = dir.Sub(L"big.bin"), small = dir.Sub(L"small.bin");
    WriteSparse(big, 1ull << 30);
    WriteFile(small, 5000);
    App app;
    HWND dlg = app.hwnd();
    HWND bar = GetDlgItem(dlg, IDC_PROGRESS);

    Drop(app, {big});
    ASSERT_TRUE(WaitUntil([&] { return BarPos(bar) > 0; }));
    ExpectRunningButtons(dlg);
    Click(dlg, IDC_STOP);
    ASSERT_TRUE(WaitIdle(dlg));
    ExpectIdleButtons(dlg);
    EXPECT_FALSE(Enabled(dlg, IDC_COPY));

    ASSERT_TRUE(DropAndStart(app, {big, small}));
    ASSERT_TRUE(WaitUntil([&] { return BarPos(bar) > 0; }));
    ExpectRunningButtons(dlg);
    Click(dlg, IDC_STOP);
    ASSERT_TRUE(WaitIdle(dlg));
    ExpectIdleButtons(dlg);
    EXPECT_FALSE(Enabled(dlg, IDC_COPY));

    Start(dlg);  // the same list again, to its end
    ExpectRunningButtons(dlg);
    ASSERT_TRUE(WaitIdle(dlg, 120000));
    ExpectIdleButtons(dlg);
    EXPECT_TRUE(Enabled(dlg, IDC_COPY));
    EXPECT_EQ(CellTextW(dlg, 0, 1), kZeros1GiB);

    Start(dlg);  // after a completed run, Copy is taken back for the next
    ExpectRunningButtons(dlg);
    EXPECT_EQ(ItemTextW(dlg, IDC_COPY), W(kCopy));
    TryClick(app, IDC_STOP);
    ASSERT_TRUE(WaitIdle(dlg));
}

TEST(Drops, OneMissingPathGivesThePathErrorAndStaysIdle) {
    TempDir dir;
    App app;
    HWND dlg = app.hwnd();
    PostMessageA(dlg, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({dir.Sub(L"gone.bin")})), 0);
    HWND box = WaitForOwnedDialog(dlg);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), W(kPathError));
    Answer(box, IDOK);
    ASSERT_TRUE(WaitIdle(dlg));
    app.Sync();
    EXPECT_EQ(g_bWorking.load(), 0);
    ExpectIdleButtons(dlg);
    EXPECT_FALSE(Enabled(dlg, IDC_COPY));
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), L"");
    EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kReady));
}

namespace {

enum class Way { CloseBox, Escape, AltF4 };

// Leaves the window as a person does: the caption's close box (its command),
// or a key on the control that has the focus. Posted, as the exit question
// is a modal box.
void Leave(const App& app, Way way) {
    HWND dlg = app.hwnd();
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(app.uiThreadId(), &gui);
    HWND focus = gui.hwndFocus && IsChild(dlg, gui.hwndFocus) ? gui.hwndFocus : dlg;
    switch (way) {
    case Way::CloseBox:
        PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case Way::Escape:
        PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        break;
    case Way::AltF4:  // the Alt bit (29) is set in both
        PostMessageA(focus, WM_SYSKEYDOWN, VK_F4, 0x203E0001);
        PostMessageA(focus, WM_SYSKEYUP, VK_F4, 0xE03E0001);
        break;
    }
}

}  // namespace

TEST(Exit, CloseBoxEscapeAndAltF4WhenIdleAndDuringARun) {
    TempDir dir;
    const std::wstring big = dir.Sub(L"big.bin");
    WriteSparse(big, 4ull << 30);
    for (const Way way : {Way::CloseBox, Way::Escape, Way::AltF4}) {
        SCOPED_TRACE("way " + std::to_string(static_cast<int>(way)));
        {
            App idle;
            Leave(idle, way);
            EXPECT_TRUE(idle.Ended(5000)) << "idle: the window closes without a question";
        }
        App app;
        HWND dlg = app.hwnd();
        Drop(app, {big});
        ASSERT_TRUE(WaitUntil([&] { return BarPos(GetDlgItem(dlg, IDC_PROGRESS)) > 0; }));
        Leave(app, way);
        HWND box = WaitForOwnedDialog(dlg);
        ASSERT_NE(box, nullptr) << "no exit question during a run";
        EXPECT_EQ(MessageBoxText(box), W(kExitQuestion));
        Answer(box, IDNO);
        app.Sync();
        EXPECT_FALSE(app.Ended());
        EXPECT_EQ(g_bWorking.load(), 1) << "No keeps the run";
        ExpectRunningButtons(dlg);
        Leave(app, way);
        EXPECT_GT(AnswerExitQuestion(dlg), 0);
        EXPECT_TRUE(app.Ended(3000));
    }
}

namespace {

// Dark pixels on the screen in row's column 1, right of where a kind word
// ("文件", kKindFile) ends: only a digest's 32 digits reach there.
int DigestInkOnScreen(HWND dlg, int row) {
    HWND list = GetDlgItem(dlg, IDC_FILELIST);
    RECT r{};
    r.top = 1;  // column
    r.left = LVIR_BOUNDS;
    if (!SendMessageA(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&r))) return -1;
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const RECT part{r.left + 48, r.top + 2, std::min(r.left + 180, r.right - 2), r.bottom - 2};
    int ink = 0;
    for (const uint32_t px : CaptureScreen(part).px)
        if (((px >> 16) & 0xFF) + ((px >> 8) & 0xFF) + (px & 0xFF) < 300) ++ink;
    return ink;
}

// What the window showed each time the list's counter or status changed.
struct Seen {
    std::string text;  // as the control got it, in the system's code page
    std::wstring md5;
    int rows, results;
    bool copy;
};
std::vector<Seen> s_seen;
WNDPROC s_oldCount = nullptr, s_oldListStatus = nullptr, s_oldList = nullptr;

LRESULT CALLBACK ListTextSpy(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_SETTEXT && l != 0) {
        HWND dlg = GetParent(h);
        const int rows = RowCount(dlg);
        int results = 0;
        for (int i = 0; i < rows; ++i) results += CellTextW(dlg, i, 1).empty() ? 0 : 1;
        s_seen.push_back({reinterpret_cast<const char*>(l), ItemTextW(dlg, IDC_MD5), rows, results, Enabled(dlg, IDC_COPY)});
    }
    return CallWindowProcA(GetDlgCtrlID(h) == IDC_LISTCOUNT ? s_oldCount : s_oldListStatus, h, msg, w, l);
}

// A list that takes its time over every result, as on a slow machine: the
// queue of results then runs behind the checking thread.
LRESULT CALLBACK SlowList(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == LVM_SETITEMTEXTA) Sleep(2);
    return CallWindowProcA(s_oldList, h, msg, w, l);
}

}  // namespace

// During a list run of large files the list on the screen (its pixels, not
// its cells) shows a file's digest once it is known, long before the end.
TEST(ListDisplay, ADigestIsOnScreenWhileTheRunGoesOn) {
    TempDir dir;
    std::vector<std::wstring> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back(dir.Sub(L"big" + std::to_wstring(i) + L".bin"));
        WriteSparse(files.back(), 1ull << 30);
    }
    App app;
    HWND dlg = app.hwnd();
    ASSERT_TRUE(DropAndStart(app, files));
    ASSERT_TRUE(WaitUntil([&] { return CellTextW(dlg, 0, 1) == kZeros1GiB; }, 60000)) << "no digest in row 0";
    bool running = true;
    int ink = 0;
    const double t0 = NowMs();
    WaitUntil([&] {
        running = g_bWorking.load() == 1;  // before the pixels are read
        ink = DigestInkOnScreen(dlg, 0);
        return ink >= 10 || !running;
    }, 60000);
    std::printf("[ screen ] row 0's digest on screen %.0f ms after its cell had it (%d dark pixels)\n", NowMs() - t0, ink);
    SaveBmp(CaptureWindow(dlg), "list-during-run.bmp");
    EXPECT_TRUE(running && ink >= 10) << "the digest was not drawn while the run went on";
    TryClick(app, IDC_STOP);
    ASSERT_TRUE(WaitIdle(dlg, 120000));
}

// Whenever the counter or the list status changes, the rows and results it
// speaks of are already in the list; "complete" comes with every row's
// result, the hint in 1001 and Copy enabled. The list is slowed down so that
// its results run behind.
TEST(ListDisplay, CountersAndClosingTextsNeverRunAheadOfTheRows) {
    TempDir dir;
    const int n = 400;
    const std::wstring folder = dir.Sub(L"many");
    for (int i = 0; i < n; ++i) WriteText(dir.Sub(L"many\\f" + std::to_wstring(i)), std::string(i % 7, 'x'));
    App app;
    HWND dlg = app.hwnd();
    Drop(app, {folder});
    ASSERT_TRUE(WaitUntil([&] { return Counter(dlg) == L"1/1"; }));
    app.OnUi([&] {
        s_seen.clear();
        s_oldCount = Subclass(GetDlgItem(dlg, IDC_LISTCOUNT), ListTextSpy);
        s_oldListStatus = Subclass(GetDlgItem(dlg, IDC_LISTSTATUS), ListTextSpy);
        s_oldList = Subclass(GetDlgItem(dlg, IDC_FILELIST), SlowList);
    });
    Start(dlg);
    const bool idle = WaitIdle(dlg, 120000);
    std::vector<Seen> seen;
    app.OnUi([&] {
        Subclass(GetDlgItem(dlg, IDC_LISTCOUNT), s_oldCount);
        Subclass(GetDlgItem(dlg, IDC_LISTSTATUS), s_oldListStatus);
        Subclass(GetDlgItem(dlg, IDC_FILELIST), s_oldList);
        seen.swap(s_seen);
    });
    ASSERT_TRUE(idle);
    int done = 0, total = 0, ahead = 0;
    bool complete = false;
    for (const Seen& s : seen) {
        if (std::sscanf(s.text.c_str(), "%d/%d", &done, &total) == 2) {
            if (done > s.results && ++ahead <= 3) ADD_FAILURE() << s.text << " shown with " << s.results << " results";
        } else if (std::sscanf(s.text.c_str(), "%d", &done) == 1) {
            if (done > s.rows && ++ahead <= 3) ADD_FAILURE() << s.text << " shown with " << s.rows << " rows";
        } else if (s.text == kListDone) {
            complete = true;
            EXPECT_EQ(s.rows, n);
            EXPECT_EQ(s.results, n);
            EXPECT_EQ(s.md5, W(kListHint));
            EXPECT_TRUE(s.copy);
        }
    }
    EXPECT_EQ(ahead, 0);
    EXPECT_TRUE(complete);
    EXPECT_EQ(Counter(dlg), std::to_wstring(n) + L"/" + std::to_wstring(n));
}


namespace restart {

// A folder listing that breaks off part-way, as on a share that goes away:
// the search fails where it would have handed back "poison.bin".
BOOL WINAPI BreakOffAtPoison(HANDLE find, LPWIN32_FIND_DATAW data) {
    if (!FindNextFileW(find, data)) return FALSE;
    if (std::wstring(data->cFileName) != L"poison.bin") return TRUE;
    SetLastError(ERROR_NETNAME_DELETED);
    return FALSE;
}

}  // namespace restart

// Start after Start on an unchanged tree lists the same rows with the same
// results: a link back to a folder being walked and a folder whose listing
// broke off part-way stay the rows they were, and are not walked again.
// Names that start with a dot are files like any other.
TEST(ListRun, StartAfterStartListsTheSameRows) {
    const std::wstring top = EnvPath(L"QUELLIN_LINK_TREE");
    if (top.empty()) GTEST_SKIP() << "QUELLIN_LINK_TREE not set (made by the test setup)";
    TempDir dir;
    const std::wstring partial = dir.Sub(L"partial"), dots = dir.Sub(L"dots");
    for (const wchar_t* name : {L"a.bin", L"b.bin", L"c.bin", L"poison.bin", L"d.bin", L"e.bin"})
        WriteFile(dir.Sub(std::wstring(L"partial\\") + name), 100);
    for (const wchar_t* name : {L".profile", L".git\\config", L".env", L"..x"})
        WriteFile(dir.Sub(std::wstring(L"dots\\") + name), 50);
    Fake next(g_pfnFindNextFile, &restart::BreakOffAtPoison);
    App app;
    HWND dlg = app.hwnd();
    Drop(app, std::vector<std::wstring>{top, partial, dots});
    std::vector<std::pair<std::wstring, std::wstring>> first;
    for (int start = 1; start <= 3; ++start) {
        Click(dlg, IDOK);
        ASSERT_TRUE(WaitEnded(app, 60000));
        EXPECT_EQ(ItemTextW(dlg, IDC_LISTSTATUS), W(kListDone));
        const auto rows = ListRowsW(dlg);
        if (start == 1)
            first = rows;
        else
            EXPECT_TRUE(rows == first) << "Start " << start << " listed " << rows.size() << " rows, not "
                                       << first.size();
    }
    const std::wstring failed = W(kFailedRow);
    std::map<std::wstring, std::wstring> seen(first.begin(), first.end());
    EXPECT_EQ(seen.size(), first.size()) << "a row came twice";
    // The link tree: "a", "b" and "c" with a line end each.
    EXPECT_EQ(seen[top + L"\\a.txt"], L"60b725f10c9c85c70d97880dfe8191b3");
    EXPECT_EQ(seen[top + L"\\sub\\b.txt"], L"3b5d5c3712955042212316173ccf37be");
    EXPECT_EQ(seen[top + L"\\elsewhere\\c.txt"], L"2cd6ee2c70b0bde53fbe6cac3c8b8bb1");
    EXPECT_EQ(seen[top + L"\\sub\\up"], failed);
    EXPECT_EQ(seen[partial], failed);
    for (const wchar_t* name : {L".profile", L".git\\config", L".env", L"..x"}) {
        const std::wstring path = dots + L"\\" + name;
        EXPECT_EQ(seen[path], OracleMd5(path)) << Narrow(path);
    }
    // The files the broken listing handed back before it broke off.
    size_t partialFiles = 0;
    for (const auto& row : first) {
        if (row.first.rfind(partial + L"\\", 0) != 0) continue;
        ++partialFiles;
        EXPECT_NE(row.first, partial + L"\\poison.bin");
        EXPECT_EQ(row.second, OracleMd5(row.first));
    }
    EXPECT_EQ(first.size(), 4 + 1 + partialFiles + 4);
}

namespace depth {

// Where the walk's stack stands each time it asks a folder for its identity.
std::atomic<uintptr_t> s_lowest{UINTPTR_MAX}, s_highest{0};
std::atomic<int> s_calls{0};
BOOL WINAPI RecordStack(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
    ++s_calls;
    const uintptr_t here = reinterpret_cast<uintptr_t>(&info);
    if (here < s_lowest) s_lowest = here;
    if (here > s_highest) s_highest = here;
    return GetFileInformationByHandle(file, info);
}

}  // namespace depth

// A chain of 300 folders, one inside the other: the file at the bottom is
// found, and the walk's stack does not grow with the depth (a walk that
// recursed once per level would need over 400 KiB for this chain, and run
// out of stack somewhere below 1,000 levels, where paths allow over 10,000).
TEST(ListRun, AChainOfFoldersDoesNotDeepenTheStack) {
    TempDir dir;
    std::wstring chain = dir.Sub(L"chain");
    ASSERT_TRUE(CreateDirectoryW(chain.c_str(), nullptr));
    for (int level = 0; level < 300; ++level) {
        chain += L"\\d";
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + chain).c_str(), nullptr)) << level;
    }
    const std::wstring bottom = chain + L"\\bottom.bin";
    WriteFile(bottom, 10);
    Fake ex(g_pfnGetFileInformationEx, nullptr);
    Fake info(g_pfnGetFileInformation, &depth::RecordStack);
    App app;
    HWND dlg = app.hwnd();
    Drop(app, std::vector<std::wstring>{dir.Sub(L"chain"), dir.Sub(L"after.bin")});
    WriteFile(dir.Sub(L"after.bin"), 20);
    Click(dlg, IDOK);
    ASSERT_TRUE(WaitEnded(app, 120000));
    EXPECT_EQ(ItemTextW(dlg, IDC_LISTSTATUS), W(kListDone));
    const auto rows = ListRowsW(dlg);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].first, bottom);
    EXPECT_EQ(rows[0].second, OracleMd5(bottom));
    EXPECT_GE(depth::s_calls.load(), 301) << "not every folder was asked for its identity";
    const uintptr_t spread = depth::s_highest - depth::s_lowest;
    std::printf("stack spread over 300 levels: %u bytes\n", static_cast<unsigned>(spread));
    EXPECT_LT(spread, 16u * 1024) << "the walk's stack grows with the depth of the folders";
}
