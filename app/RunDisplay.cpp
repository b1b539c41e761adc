#include "app/RunDisplay.h"

#include <commctrl.h>

#include <vector>

#include "app/Clock.h"
#include "app/Messages.h"
#include "framework/AfxWin.h"
#include "res/resource.h"

CRunDisplay g_display;

namespace {

// How long the window thread spends on queued events per frame: the window
// answers input in between.
const DWORD kFrameBudgetMs = 12;
// A frozen list is shown at least this often while rows and results go in.
const DWORD kShowRowsMs = 250;
// Events taken from the queue at a time.
const size_t kBatch = 64;

thread_local CRunEvents* t_events = nullptr;

class Lock {
public:
    explicit Lock(CRITICAL_SECTION& cs) : m_cs(cs) { ::EnterCriticalSection(&m_cs); }
    ~Lock() { ::LeaveCriticalSection(&m_cs); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

const int kTextIds[] = {IDC_STATUS, IDC_STAGE, IDC_LISTSTATUS, IDC_LISTCOUNT};
enum { kBarFile, kBarTotal };
const int kBarIds[] = {IDC_PROGRESS, IDC_TOTALPROGRESS};

}  // namespace

void SetThreadRunEvents(CRunEvents* events) { t_events = events; }
CRunEvents* ThreadRunEvents() { return t_events; }

// ---------------------------------------------------------------- CRunEvents

CRunEvents::CRunEvents() { ::InitializeCriticalSection(&m_lock); }
CRunEvents::~CRunEvents() { ::DeleteCriticalSection(&m_lock); }

int CRunEvents::TextSlot(int id) {
    for (int i = 0; i < kTextCount; ++i)
        if (kTextIds[i] == id) return i;
    return -1;
}

void CRunEvents::SetText(int id, const char* text) {
    const int slot = TextSlot(id);
    if (slot < 0) return;
    Lock lock(m_lock);
    m_text[slot].value = text;
    m_text[slot].dirty = true;
    m_text[slot].after = m_queued;
}

void CRunEvents::SetBarRange(int id, int max) {
    if (id == IDC_TOTALPROGRESS) {
        Lock lock(m_lock);
        m_total.range = max;
        m_total.rangeAfter = m_queued;
    } else if (id == IDC_PROGRESS) {
        m_fileRange = max;
    }
}

void CRunEvents::SetBarPos(int id, int pos) {
    if (id == IDC_TOTALPROGRESS) {
        Lock lock(m_lock);
        m_total.pos = pos;
        m_total.posAfter = m_queued;
    } else if (id == IDC_PROGRESS) {
        m_filePos = pos;
    }
}

void CRunEvents::Push(Op op) {
    Lock lock(m_lock);
    m_ops.push_back(std::move(op));
    ++m_queued;
}

void CRunEvents::InsertRow(int row, const wchar_t* path, bool walked) {
    Push(Op{Op::kInsert, row, path, walked ? kRowWalked : 0});
}
void CRunEvents::SetRowResult(int row, const char* text) { Push(Op{Op::kResult, row, AfxText(text), 0}); }
void CRunEvents::DeleteRowsFrom(int row) { Push(Op{Op::kDeleteFrom, row, CStringW(), 0}); }

void CRunEvents::Close(const RunOutcome& outcome) {
    Lock lock(m_lock);
    m_outcome = outcome;
    m_closed = true;
}

// ---------------------------------------------------------------- CRunDisplay

void CRunDisplay::Begin(HWND dlg, HWND list, std::shared_ptr<CRunEvents> events, CloseFn onClose) {
    m_dlg = dlg;
    m_list = list;
    m_events = std::move(events);
    m_onClose = onClose;
    m_applied = 0;
    for (bool& known : m_shownKnown) known = false;
    for (int i = 0; i < 2; ++i) m_shownRange[i] = m_shownPos[i] = CRunEvents::kUnset;
    m_frozen = false;
    m_lastShown = ::GetTickCount();
    ::SetTimer(m_dlg, kDisplayTimerId, kFrameMs, nullptr);
}

void CRunDisplay::End() {
    if (m_dlg) ::KillTimer(m_dlg, kDisplayTimerId);
    if (m_frozen) ShowRows(false);
    m_events.reset();
    m_onClose = nullptr;
}

void CRunDisplay::Show(DWORD budgetMs) {
    if (!m_events) return;
    if (Render(budgetMs) && m_onClose) {
        const RunOutcome outcome = m_events->m_outcome;
        m_onClose(outcome);
    }
}

void CRunDisplay::OnTimer() { Show(kFrameBudgetMs); }

LRESULT CRunDisplay::OnMessage(WPARAM, LPARAM) {
    Show(kFrameBudgetMs);
    return 0;
}

void CRunDisplay::ShowRows(bool keepFrozen) {
    ::SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(m_list, nullptr, TRUE);
    m_frozen = false;
    if (keepFrozen) {
        ::SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
        m_frozen = true;
    }
    m_lastShown = ::GetTickCount();
}

bool CRunDisplay::Render(DWORD budgetMs) {
    CRunEvents& ev = *m_events;
    const double start = NowMs();
    bool changed = false;  // anything put into the list this time
    bool closed = false;
    std::vector<CRunEvents::Op> batch;
    while (!closed) {
        batch.clear();
        size_t left = 0;
        {
            Lock lock(ev.m_lock);
            while (!ev.m_ops.empty() && batch.size() < kBatch) {
                batch.push_back(std::move(ev.m_ops.front()));
                ev.m_ops.pop_front();
            }
            left = ev.m_ops.size();
            // The closing event comes after every other: reached once the
            // queue is empty.
            closed = left == 0 && ev.m_closed;
        }
        if (batch.empty()) break;
        m_applied += batch.size();
        for (const CRunEvents::Op& op : batch) {
            changed = true;
            if (!m_frozen) {
                ::SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
                m_frozen = true;
            }
            switch (op.kind) {
            case CRunEvents::Op::kInsert: {
                LVITEMW row{};
                row.mask = LVIF_TEXT | LVIF_PARAM;
                row.iItem = op.row;
                row.lParam = op.param;
                row.pszText = const_cast<wchar_t*>(op.text.c_str());
                ::SendMessageW(m_list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row));
                break;
            }
            case CRunEvents::Op::kResult: {
                LVITEMW cell{};
                cell.iSubItem = 1;
                cell.pszText = const_cast<wchar_t*>(op.text.c_str());
                ::SendMessageW(m_list, LVM_SETITEMTEXTW, op.row, reinterpret_cast<LPARAM>(&cell));
                break;
            }
            case CRunEvents::Op::kDeleteFrom: {
                if (op.row == 0) {
                    ::SendMessageW(m_list, LVM_DELETEALLITEMS, 0, 0);
                } else {
                    const int count = static_cast<int>(::SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0));
                    for (int r = count - 1; r >= op.row; --r) ::SendMessageW(m_list, LVM_DELETEITEM, r, 0);
                }
                break;
            }
            }
        }
        if (left == 0 || (budgetMs != 0 && NowMs() - start >= budgetMs)) break;
    }
    // Rows or results still going in: shown a few times a second. A frame
    // with nothing for the list lets it draw itself again.
    if (m_frozen && (!changed || closed || ::GetTickCount() - m_lastShown >= kShowRowsMs)) ShowRows(false);

    // The latest texts and bar positions; only changes reach the controls. A
    // text or overall-bar value waits until the events queued before it are
    // applied.
    CRunEvents::Text texts[CRunEvents::kTextCount];
    int totalRange = CRunEvents::kUnset, totalPos = CRunEvents::kUnset;
    {
        Lock lock(ev.m_lock);
        for (int i = 0; i < CRunEvents::kTextCount; ++i) {
            if (!ev.m_text[i].dirty || ev.m_text[i].after > m_applied) continue;
            texts[i] = ev.m_text[i];
            ev.m_text[i].dirty = false;
        }
        if (ev.m_total.range != CRunEvents::kUnset && ev.m_total.rangeAfter <= m_applied) totalRange = ev.m_total.range;
        if (ev.m_total.pos != CRunEvents::kUnset && ev.m_total.posAfter <= m_applied) totalPos = ev.m_total.pos;
    }
    for (int i = 0; i < CRunEvents::kTextCount; ++i) {
        if (!texts[i].dirty || (m_shownKnown[i] && m_shown[i] == texts[i].value)) continue;
        ::SetDlgItemTextW(m_dlg, kTextIds[i], AfxText(texts[i].value));
        m_shown[i] = texts[i].value;
        m_shownKnown[i] = true;
    }

    const int ranges[2] = {ev.m_fileRange.load(), totalRange};
    const int positions[2] = {ev.m_filePos.load(), totalPos};
    for (int i = 0; i < 2; ++i) {
        const HWND bar = ::GetDlgItem(m_dlg, kBarIds[i]);
        if (ranges[i] != CRunEvents::kUnset && ranges[i] != m_shownRange[i]) {
            if (i == kBarFile)
                ::SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, ranges[i]));
            else
                ::SendMessageW(bar, PBM_SETRANGE32, 0, ranges[i]);
            m_shownRange[i] = ranges[i];
            m_shownPos[i] = CRunEvents::kUnset;
        }
        if (positions[i] != CRunEvents::kUnset && positions[i] != m_shownPos[i]) {
            ::SendMessageW(bar, PBM_SETPOS, positions[i], 0);
            m_shownPos[i] = positions[i];
        }
    }
    return closed;
}
