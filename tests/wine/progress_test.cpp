// What one digest leaves in the real window's progress controls: the per-file
// bar's range and last position for sizes around the scaling steps and past
// 4 GiB, the stage and status texts (the window shows the latest state a few
// dozen times a second, so a state shorter than a frame may be skipped, but a
// large file shows its reading stage, and every run ends on its final texts),
// and how many bar positions a large file sends to the window.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "res/resource.h"

using namespace harness;

namespace {

// Records, on the UI thread, what reaches the status text, the stage label
// and the per-file bar while it is installed. Window procedures get no
// context, so the recorder is a single global one.
struct Recorded {
    // (control id, text) of WM_SETTEXT, in the system's code page as the
    // control gets it
    std::vector<std::pair<int, std::string>> texts;
    std::vector<int> positions;                      // wParam of every PBM_SETPOS
    std::vector<DWORD> positionTicks;                // when each arrived
    std::vector<int> ranges;                         // upper bound of every PBM_SETRANGE
};

Recorded s_rec;
WNDPROC s_oldStatus = nullptr, s_oldStage = nullptr, s_oldBar = nullptr;

LRESULT CALLBACK TextSpy(HWND h, UINT msg, WPARAM w, LPARAM l) {
    const int id = GetDlgCtrlID(h);
    if (msg == WM_SETTEXT && l != 0) s_rec.texts.emplace_back(id, reinterpret_cast<const char*>(l));
    return CallWindowProcA(id == IDC_STATUS ? s_oldStatus : s_oldStage, h, msg, w, l);
}

LRESULT CALLBACK BarSpy(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == PBM_SETPOS) {
        s_rec.positions.push_back(static_cast<int>(w));
        s_rec.positionTicks.push_back(GetTickCount());
    } else if (msg == PBM_SETRANGE) {
        s_rec.ranges.push_back(HIWORD(l));
    }
    return CallWindowProcA(s_oldBar, h, msg, w, l);
}

// Installs the spies for its lifetime (from the UI thread, as the window
// procedures of its controls must be changed there).
class Spy {
public:
    explicit Spy(const App& app) : m_app(app) {
        m_app.OnUi([&] {
            s_rec = Recorded{};
            HWND dlg = m_app.hwnd();
            s_oldStatus = Subclass(GetDlgItem(dlg, IDC_STATUS), TextSpy);
            s_oldStage = Subclass(GetDlgItem(dlg, IDC_STAGE), TextSpy);
            s_oldBar = Subclass(GetDlgItem(dlg, IDC_PROGRESS), BarSpy);
        });
    }
    ~Spy() {
        m_app.OnUi([&] {
            HWND dlg = m_app.hwnd();
            Subclass(GetDlgItem(dlg, IDC_STATUS), s_oldStatus);
            Subclass(GetDlgItem(dlg, IDC_STAGE), s_oldStage);
            Subclass(GetDlgItem(dlg, IDC_PROGRESS), s_oldBar);
        });
    }
    // Everything recorded so far, then a fresh record.
    Recorded Take() const {
        Recorded out;
        m_app.OnUi([&] { out = std::move(s_rec); s_rec = Recorded{}; });
        return out;
    }

private:
    const App& m_app;
};

using Texts = std::vector<std::pair<int, std::string>>;

// The texts of 1006 and 1007 that a run may show, in this order; every run
// ends with the last two.
const Texts kRunTexts{
    {IDC_STATUS, kInit}, {IDC_STAGE, kStage1}, {IDC_STATUS, kReading},
    {IDC_STAGE, kStage2}, {IDC_STATUS, kFileDone}, {IDC_STAGE, kStage3},
};

// True when shown is kRunTexts with some of its first four left out.
bool ShownInOrder(const Texts& shown) {
    size_t k = 0;
    for (const auto& t : shown) {
        while (k < kRunTexts.size() && kRunTexts[k] != t) ++k;
        if (k == kRunTexts.size()) return false;
        ++k;
    }
    return shown.size() >= 2 && shown[shown.size() - 2] == kRunTexts[4] && shown.back() == kRunTexts[5];
}

// Chooses file with Open, as a person does, and forgets what Open itself
// showed; then starts the run and waits for its end.
bool RunRecorded(const App& app, const Spy& spy, const std::wstring& file, DWORD timeoutMs) {
    if (!ChooseInOpenDialog(app.hwnd(), file)) return false;
    app.Sync();
    spy.Take();
    Click(app.hwnd(), IDOK);
    return WaitIdle(app.hwnd(), timeoutMs);
}

struct SizeCase {
    unsigned long long size;
    int range;  // PBM_GETRANGE upper bound after the run
    int sends;  // most PBM_SETPOS messages the run may send
};

}  // namespace

TEST(ProgressWindow, RangeAndPositionAroundTheScalingSteps) {
    const SizeCase cases[] = {
        // No chunk: the one report (1, 1) lies past the range 0 … 0 and
        // moves nothing: the bar shows position 0.
        {0, 0, 1},
        {1024, 1, 2},   // exactly one KiB: 1 (and 0 if a frame falls before it)
        {1025, 1, 2},   // one byte more: the second chunk lies past the range
        {10238976, 9999, -1},  // 9999 KiB: the largest unscaled range
        {10240000, 1000, -1},  // 10000 KiB: first division by ten
    };
    TempDir dir;
    App app;
    HWND dlg = app.hwnd();
    HWND bar = GetDlgItem(dlg, IDC_PROGRESS);
    Spy spy(app);
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes");
        const std::wstring file = dir.Sub(L"f" + std::to_wstring(c.size) + L".bin");
        WriteSparse(file, c.size);
        EXPECT_TRUE(RunRecorded(app, spy, file, 240000));
        EXPECT_EQ(ItemTextW(dlg, IDC_MD5), OracleMd5(file));
        EXPECT_EQ(BarMax(bar), c.range);
        EXPECT_EQ(BarPos(bar), c.range) << "a finished file leaves the bar full";
        EXPECT_EQ(ItemTextW(dlg, IDC_STATUS), W(kFileDone));
        EXPECT_EQ(ItemTextW(dlg, IDC_STAGE), W(kStage3));

        const Recorded rec = spy.Take();
        EXPECT_TRUE(ShownInOrder(rec.texts));
        EXPECT_EQ(rec.ranges, std::vector<int>{c.range});
        ASSERT_FALSE(rec.positions.empty());
        if (c.sends >= 0) {
            EXPECT_LE(rec.positions.size(), static_cast<size_t>(c.sends));
        }
        EXPECT_EQ(rec.positions.back(), c.range) << "the bar is sent to its end";
        for (size_t i = 1; i < rec.positions.size(); ++i)
            EXPECT_GT(rec.positions[i], rec.positions[i - 1]) << "only changed positions are sent";
    }
}

TEST(ProgressWindow, FileOver4GiBIsRangedFromItsFullSize) {
    TempDir dir;
    const std::wstring file = dir.Sub(L"five-gib.bin");
    WriteSparse(file, 5ull << 30);  // 5,242,880 KiB: shift 3
    App app;
    HWND dlg = app.hwnd();
    HWND bar = GetDlgItem(dlg, IDC_PROGRESS);
    Spy spy(app);
    ASSERT_TRUE(ChooseInOpenDialog(dlg, file));
    app.Sync();
    spy.Take();
    Click(dlg, IDOK);
    // The range comes from the full size before the first read; once the bar
    // moves within it, reading the other gigabytes shows nothing new.
    ASSERT_TRUE(WaitUntil([&] { return BarMax(bar) == 5242 && BarPos(bar) > 0; }, 60000))
        << "range " << BarMax(bar) << ", position " << BarPos(bar);
    Click(dlg, IDC_STOP);
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(BarMax(bar), 5242);
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), W(kFailed));
    const Recorded rec = spy.Take();
    EXPECT_EQ(rec.ranges, std::vector<int>{5242});
    const auto shown = [&](const std::pair<int, std::string>& t) {
        return std::find(rec.texts.begin(), rec.texts.end(), t) != rec.texts.end();
    };
    EXPECT_TRUE(shown({IDC_STATUS, kReading}) && shown({IDC_STAGE, kStage2})) << "a file read for seconds shows its reading stage";
}

TEST(ProgressWindow, OneGiBSendsAFewHundredPositionsAtMost) {
    TempDir dir;
    const std::wstring file = dir.Sub(L"one-gib.bin");
    WriteSparse(file, 1ull << 30);  // 1,048,576 KiB: range 0 … 1048
    App app;
    HWND dlg = app.hwnd();
    Spy spy(app);
    const DWORD t0 = GetTickCount();
    EXPECT_TRUE(RunRecorded(app, spy, file, 240000));
    const DWORD ms = GetTickCount() - t0;
    EXPECT_EQ(ItemTextW(dlg, IDC_MD5), kZeros1GiB);
    HWND bar = GetDlgItem(dlg, IDC_PROGRESS);
    EXPECT_EQ(BarMax(bar), 1048);
    EXPECT_EQ(BarPos(bar), 1048);

    const Recorded rec = spy.Take();
    const size_t n = rec.positions.size();
    std::printf("[ progress ] 1 GiB: %zu PBM_SETPOS messages in %lu ms\n", n, static_cast<unsigned long>(ms));
    ASSERT_GE(n, 2u);
    EXPECT_EQ(rec.positions.back(), 1048);
    for (size_t i = 1; i < n; ++i) EXPECT_GT(rec.positions[i], rec.positions[i - 1]);
    // At most about 60 a second while the bar moves, plus the final
    // position (with a little room for the clock's granularity).
    const DWORD span = rec.positionTicks.back() - rec.positionTicks.front();
    EXPECT_LE(n, span / 17 + 4) << "positions sent faster than about 60 a second";
}
