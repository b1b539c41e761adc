// What a run shows in the main window. The checking thread never waits for
// the window: it records into its run's CRunEvents, and the window thread
// applies what was recorded, in order, through CRunDisplay.
//
// Two kinds of records:
//   - the state of the moment (status and stage texts, the list status and
//     counter, both bars): only the latest value is kept, and the window
//     shows it on a timer, about 40 times a second, so a value that lasts
//     less than a frame may never be drawn;
//   - events (rows of the file list, their digests or failure texts, and the
//     closing event that ends the run): queued in order and applied in
//     batches, none left out.
// A text or the overall bar is shown only once every event recorded before
// it has been applied: a counter never runs ahead of the rows it counts. The
// closing event is the run's last: when the window reaches it, everything
// the run recorded is shown, and one window-side function ends the run.
#pragma once
#include <windows.h>

#include <atomic>
#include <deque>
#include <memory>

#include "framework/AfxString.h"

// How a run ended, carried by its closing event.
struct RunOutcome {
    // Every target was checked and the run was not stopped.
    bool completed = false;
    // Compact layout: the digest of the file (when completed).
    CString digest;
    // List layout: the number of rows the run left in the list; -1 when it
    // left the list alone.
    int rows = -1;
    // Compact layout: the path named no file or folder (Start's check, made
    // by the run's thread); the window says so and is left as it was.
    bool badPath = false;
    // Memory ran out: the run ended as if stopped there, and the window says so.
    bool outOfMemory = false;
};

// The list row's parameter of a row the walk made (a file it found, or a
// folder it did not enter): the next Start takes it as it is.
const LPARAM kRowWalked = 1;

// One run's records, shared by its checking thread, which writes them, and
// the window, which applies them. A run given up by the window keeps its
// own: whatever its thread might still record reaches nobody.
class CRunEvents {
public:
    CRunEvents();
    ~CRunEvents();
    CRunEvents(const CRunEvents&) = delete;
    CRunEvents& operator=(const CRunEvents&) = delete;

    // Texts of IDC_STATUS, IDC_STAGE, IDC_LISTSTATUS or IDC_LISTCOUNT.
    void SetText(int id, const char* text);
    // IDC_PROGRESS (range 0..max, 16 bits) or IDC_TOTALPROGRESS (32 bits).
    void SetBarRange(int id, int max);
    void SetBarPos(int id, int pos);
    // File list events, applied in the order given: a row with a path, and
    // a row's digest or one of the program's texts.
    // walked: the row was made by the walk, and the next Start takes it as
    // it is (the row's parameter is kRowWalked).
    void InsertRow(int row, const wchar_t* path, bool walked);
    void SetRowResult(int row, const char* text);
    void DeleteRowsFrom(int row);
    // The run's last record. It needs no memory: a run that ran out of it
    // can still end.
    void Close(const RunOutcome& outcome);

private:
    friend class CRunDisplay;
    enum { kTextStatus, kTextStage, kTextListStatus, kTextListCount, kTextCount };
    struct Text {
        CString value;
        bool dirty = false;
        size_t after = 0;  // events queued before it was recorded
    };
    // The overall bar counts results: it waits for them like a text.
    struct CountBar {
        int range = kUnset, pos = kUnset;
        size_t rangeAfter = 0, posAfter = 0;
    };
    struct Op {
        enum Kind { kInsert, kResult, kDeleteFrom } kind;
        int row;
        CStringW text;
        LPARAM param;
    };
    static const int kUnset = -0x7fffffff;
    static int TextSlot(int id);
    void Push(Op op);

    CRITICAL_SECTION m_lock;
    Text m_text[kTextCount];
    CountBar m_total;
    std::atomic<int> m_fileRange{kUnset}, m_filePos{kUnset};
    std::deque<Op> m_ops;
    size_t m_queued = 0;
    RunOutcome m_outcome;  // set with the closing event
    bool m_closed = false;  // the closing event, after every queued one
};

// Checking thread: the records of the run this thread works for, which the
// file digest's progress reports go to (null: none, as in the portable tests).
void SetThreadRunEvents(CRunEvents* events);
CRunEvents* ThreadRunEvents();

class CRunDisplay {
public:
    // The window-side step that ends a run: called once, on the window
    // thread, when the run's closing event is reached.
    using CloseFn = void (*)(const RunOutcome& outcome);

    CRunDisplay() = default;
    CRunDisplay(const CRunDisplay&) = delete;
    CRunDisplay& operator=(const CRunDisplay&) = delete;

    // ---- window thread only
    // A run begins: its records are shown from now on, on a timer.
    void Begin(HWND dlg, HWND list, std::shared_ptr<CRunEvents> events, CloseFn onClose);
    // The run has ended (its closing step calls it): the timer stops, the
    // list draws itself again, and the run's records are let go.
    void End();
    // Applies what the run recorded, for at most about budgetMs (0: all of
    // it), and ends the run when its closing event is reached.
    void Show(DWORD budgetMs);
    // The dialog's handlers of the display's timer and of WM_RUNDISPLAY.
    void OnTimer();
    LRESULT OnMessage(WPARAM, LPARAM);

    static const UINT kFrameMs = 25;

private:
    // Returns true when the closing event was reached.
    bool Render(DWORD budgetMs);
    void ShowRows(bool keepFrozen);

    HWND m_dlg = nullptr;
    HWND m_list = nullptr;
    std::shared_ptr<CRunEvents> m_events;
    CloseFn m_onClose = nullptr;
    // What the text controls and bars show, as far as this run knows.
    CString m_shown[CRunEvents::kTextCount];
    bool m_shownKnown[CRunEvents::kTextCount] = {};
    int m_shownRange[2] = {}, m_shownPos[2] = {};
    size_t m_applied = 0;  // events applied in this run
    // The list is kept from redrawing while rows or results go in (a
    // redrawing list recomputes its scroll bars for every row, and under
    // Wine redraws for every result), and shown at least every kShowRowsMs
    // meanwhile; as soon as a tick brings it nothing it redraws normally.
    bool m_frozen = false;
    DWORD m_lastShown = 0;
};

// The one display of the main window.
extern CRunDisplay g_display;
