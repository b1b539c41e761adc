// What a run shows in the main window, handed from the checking thread to
// the window thread without making the checking thread wait.
//
// Two kinds of updates:
//   - the state of the moment (status and stage texts, the list status and
//     counter, both bars): the checking thread only records the latest value;
//     the window thread shows it on a timer, about 40 times a second, so a
//     value that lasts less than a frame may never be drawn;
//   - results (rows of the file list and their digests or failure texts):
//     queued in order and put into the list in batches, none left out.
// A text or the overall bar is shown only once every result recorded before
// it is in the list: a counter never runs ahead of the rows it counts.
// Flush() shows everything recorded so far and returns when the window has
// caught up; Call() runs a function on the window thread and waits for it.
// Every control is changed on the window thread only.
#pragma once
#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>

#include "framework/AfxString.h"

// Sent to the main dialog by the checking thread (wParam: what to do).
#define WM_RUNDISPLAY (WM_APP + 0x52)

class CRunDisplay {
public:
    CRunDisplay();
    ~CRunDisplay();
    CRunDisplay(const CRunDisplay&) = delete;
    CRunDisplay& operator=(const CRunDisplay&) = delete;

    // ---- window thread
    // A run begins: nothing recorded yet, and the timer that shows the state starts.
    void Begin(HWND dlg, HWND list);
    // The run has ended: the timer stops (after a last Render).
    void End();
    // Shows the latest state and puts queued results into the list, for at
    // most budgetMs (0: until the queue is empty). Returns the number of
    // results still queued.
    size_t Render(DWORD budgetMs);
    // The dialog's handlers of WM_RUNDISPLAY and of the display's timer.
    LRESULT OnMessage(WPARAM what, LPARAM arg);
    void OnTimer();

    // ---- checking thread
    // Texts of IDC_STATUS, IDC_STAGE, IDC_LISTSTATUS or IDC_LISTCOUNT.
    void SetText(int id, const char* text);
    // IDC_PROGRESS (range 0..max, 16 bits) or IDC_TOTALPROGRESS (32 bits).
    void SetBarRange(int id, int max);
    void SetBarPos(int id, int pos);
    // File list results, applied in the order given.
    void InsertRow(int row, const char* path);
    void SetRowResult(int row, const char* text);
    void DeleteRowsFrom(int row);
    // Waits until the window shows everything recorded so far.
    void Flush();
    // Runs fn on the window thread and waits for it.
    void Call(const std::function<void()>& fn);

    static const UINT_PTR kTimerId = 0x5152;
    static const UINT kFrameMs = 25;

private:
    enum { kTextStatus, kTextStage, kTextListStatus, kTextListCount, kTextCount };
    enum { kBarFile, kBarTotal, kBarCount };
    enum What : WPARAM { kFlush = 1, kCall = 2 };
    struct Text {
        CString value;
        bool dirty = false;
        size_t after = 0;  // results queued before it was recorded
    };
    struct Bar {
        std::atomic<int> range{kUnset}, pos{kUnset};
        int shownRange = kUnset, shownPos = kUnset;  // window thread
    };
    // The overall bar counts results: its position waits for them like a text.
    struct CountBar {
        int range = kUnset, pos = kUnset;
        size_t rangeAfter = 0, posAfter = 0;
    };
    struct Op {
        enum Kind { kInsert, kResult, kDeleteFrom } kind;
        int row;
        CString text;
    };
    static const int kUnset = -0x7fffffff;

    static int TextSlot(int id);
    static int BarSlot(int id);
    void ShowRows(bool keepFrozen);
    void Push(Op op);

    CRITICAL_SECTION m_lock;
    HWND m_dlg = nullptr;
    HWND m_list = nullptr;
    Text m_text[kTextCount];
    // Window thread: what the text controls show, as far as this run knows.
    CString m_shown[kTextCount];
    bool m_shownKnown[kTextCount] = {};
    Bar m_bar[kBarCount];
    CountBar m_total;  // under m_lock; shown through m_bar[kBarTotal]
    std::deque<Op> m_ops;
    size_t m_queued = 0;   // results queued in this run (under m_lock)
    size_t m_applied = 0;  // results put into the list (window thread)
    // Window thread: the list is kept from redrawing while rows or results
    // go in (a redrawing list recomputes its scroll bars for every row, and
    // under Wine redraws for every result), and shown at least every
    // kShowRowsMs meanwhile; as soon as a tick brings it nothing it redraws
    // normally again.
    bool m_frozen = false;
    DWORD m_lastShown = 0;
};

// The one display of the main window.
extern CRunDisplay g_display;
