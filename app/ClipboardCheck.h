// Is it the right file? The results in the window compared with the digests
// the user copied from elsewhere (a download page, a checksum file, an earlier
// Copy of this program): the clipboard's Unicode text is read when a run ends
// and whenever the clipboard changes while the window is open, and every
// result that a value names is drawn as matching (green) or differing (red),
// with words that say so. While the clipboard holds no MD5 value the window
// shows exactly what it shows without this.
//
// Which values the text holds and what they name is CExpectedDigests'
// business (digest/ExpectedDigests.h); this side reads the clipboard, asks,
// and draws. Window thread only, apart from the reading of a long text, which
// runs on a thread of its own, and the count of a long list, which the window
// thread does in parts: the window keeps answering meanwhile.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "digest/ExpectedDigests.h"
#include "framework/AfxString.h"

// From Vista on; the headers are set for an earlier system.
#ifndef WM_CLIPBOARDUPDATE
#define WM_CLIPBOARDUPDATE 0x031D
#endif

// Backgrounds of a digest that is the one expected and of one that differs:
// light enough for black text.
constexpr COLORREF kMatchColour = RGB(198, 239, 206);
constexpr COLORREF kDifferColour = RGB(255, 199, 206);

class CClipboardCheck {
public:
    // The main dialog is up (its list made): clipboard changes reach it from now on.
    void Attach(HWND dlg, HWND list);
    // The main dialog goes.
    void Detach();
    // WM_CLIPBOARDUPDATE.
    void OnClipboardUpdate();
    // The run's closing step has set the texts that tell how the run ended.
    void OnRunClosed(bool compact, bool completed);
    // NM_CUSTOMDRAW from the file list.
    LRESULT OnListCustomDraw(NMLVCUSTOMDRAW* draw);
    // WM_CTLCOLORSTATIC: the brush for the digest box with a verdict, null
    // for every other case (drawn as usual).
    HBRUSH OnCtlColorStatic(HDC dc, HWND control) const;
    // WM_CLIPBOARDCHECK.
    void OnMessage(WPARAM what, LPARAM turn);

private:
    enum class ReadResult { kRead, kBusy };
    enum : WPARAM { kParsed = 1, kCountMore = 2 };
    struct Parsing;
    // Reads what the clipboard holds into m_expected: nothing when it holds
    // no text or text of this window's own Copy; a long text is read on a
    // thread of its own, which tells the window when it is done. kBusy:
    // another program has it open, m_expected is left as it was.
    ReadResult Read();
    static DWORD WINAPI ParseThread(LPVOID job);
    // The list's count after a completed run, some rows at a time.
    void StartCount();
    void CountMore();
    // Reads, and if another program holds the clipboard, tries again on a
    // short timer a few times.
    void ReadOrRetry();
    static void CALLBACK RetryTimer(HWND, UINT, UINT_PTR, DWORD);
    // Shows the verdicts of what the window shows now.
    void Apply();
    // The closing texts of a completed run, unchanged since (no new target,
    // no new run).
    bool SingleShown() const;
    bool ListSummaryShown() const;
    // Whether the window shows anything a value could be compared with.
    bool AnythingToCompare() const;
    Verdict SingleVerdict() const;
    Verdict RowVerdict(int row) const;
    // The row's digest as its cell shows it, or false when it shows none.
    bool RowDigest(int row, char (&digest)[33]) const;
    int RowPath(int row) const;  // into m_path; its length
    CStringW ItemText(int id) const;

    HWND m_dlg = nullptr;
    HWND m_list = nullptr;
    CExpectedDigests m_expected;
    // The text being read on its own thread, and its turn: a later read
    // makes an earlier one's values worthless.
    std::shared_ptr<Parsing> m_parsing;
    LPARAM m_parseTurn = 0;
    // The clipboard's sequence number at the last complete read.
    DWORD m_readSequence = 0;
    bool m_readDone = false;
    int m_retriesLeft = 0;
    // A completed single file: its path and digest as the closing step showed them.
    bool m_single = false;
    CStringW m_singlePath, m_singleDigest;
    Verdict m_singleVerdict = Verdict::kNone;
    // A completed list run, and what its digest box shows now. While it
    // shows that, the rows are those the run left (a drop or a run empties
    // the box first): what the count read of them is kept for the next count.
    bool m_listDone = false;
    CStringW m_listText;
    struct Row {
        std::u16string path;
        char digest[33];
        bool read;
    };
    std::vector<Row> m_rows;
    // The count in progress, and its turn.
    int m_countNext = -1;
    int m_matching = 0, m_differing = 0;
    LPARAM m_countTurn = 0;
    // The row being drawn and its verdict; the list's own text colours.
    Verdict m_drawVerdict = Verdict::kNone;
    COLORREF m_rowText = CLR_DEFAULT, m_rowTextBk = CLR_DEFAULT;
    mutable std::vector<wchar_t> m_path = std::vector<wchar_t>(32768);
};

// The one check of the main window.
extern CClipboardCheck g_clipboardCheck;
