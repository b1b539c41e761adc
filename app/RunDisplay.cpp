#include "app/RunDisplay.h"

#include <commctrl.h>

#include <vector>

#include "app/DigestDlg.h"

CRunDisplay g_display;

namespace {

// How long the window thread spends on queued results per timer tick, and
// per chunk of a flush: the window answers input in between.
const DWORD kTickBudgetMs = 12;
const DWORD kFlushBudgetMs = 20;
// A frozen list is shown at least this often while rows and results go in.
const DWORD kShowRowsMs = 250;
// Results taken from the queue at a time.
const size_t kBatch = 64;

double NowMs() {
    static const double perMs = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / perMs;
}

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
const int kBarIds[] = {IDC_PROGRESS, IDC_TOTALPROGRESS};

}  // namespace

CRunDisplay::CRunDisplay() { ::InitializeCriticalSection(&m_lock); }
CRunDisplay::~CRunDisplay() { ::DeleteCriticalSection(&m_lock); }

int CRunDisplay::TextSlot(int id) {
    for (int i = 0; i < kTextCount; ++i)
        if (kTextIds[i] == id) return i;
    return -1;
}

int CRunDisplay::BarSlot(int id) {
    for (int i = 0; i < kBarCount; ++i)
        if (kBarIds[i] == id) return i;
    return -1;
}

void CRunDisplay::Begin(HWND dlg, HWND list) {
    {
        Lock lock(m_lock);
        for (Text& t : m_text) t.dirty = false;
        m_ops.clear();
        m_total = CountBar{};
        m_queued = 0;
    }
    m_applied = 0;
    for (bool& known : m_shownKnown) known = false;
    for (Bar& b : m_bar) {
        b.range = kUnset;
        b.pos = kUnset;
        b.shownRange = kUnset;
        b.shownPos = kUnset;
    }
    m_dlg = dlg;
    m_list = list;
    m_frozen = false;
    m_lastShown = ::GetTickCount();
    ::SetTimer(m_dlg, kTimerId, kFrameMs, nullptr);
}

void CRunDisplay::End() {
    Render(0);
    ::KillTimer(m_dlg, kTimerId);
    if (m_frozen) ShowRows(false);
}

void CRunDisplay::ShowRows(bool keepFrozen) {
    ::SendMessageA(m_list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(m_list, nullptr, TRUE);
    m_frozen = false;
    if (keepFrozen) {
        ::SendMessageA(m_list, WM_SETREDRAW, FALSE, 0);
        m_frozen = true;
    }
    m_lastShown = ::GetTickCount();
}

size_t CRunDisplay::Render(DWORD budgetMs) {
    const double start = NowMs();
    size_t left = 0;
    bool changed = false;  // anything put into the list this time
    std::vector<Op> batch;
    for (;;) {
        batch.clear();
        {
            Lock lock(m_lock);
            while (!m_ops.empty() && batch.size() < kBatch) {
                batch.push_back(std::move(m_ops.front()));
                m_ops.pop_front();
            }
            left = m_ops.size();
        }
        if (batch.empty()) break;
        m_applied += batch.size();
        changed = true;
        for (const Op& op : batch) {
            if (!m_frozen) {
                ::SendMessageA(m_list, WM_SETREDRAW, FALSE, 0);
                m_frozen = true;
            }
            switch (op.kind) {
            case Op::kInsert: {
                LVITEMA row{};
                row.mask = LVIF_TEXT;
                row.iItem = op.row;
                row.pszText = const_cast<char*>(op.text.c_str());
                ::SendMessageA(m_list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row));
                break;
            }
            case Op::kResult: {
                LVITEMA cell{};
                cell.iSubItem = 1;
                cell.pszText = const_cast<char*>(op.text.c_str());
                ::SendMessageA(m_list, LVM_SETITEMTEXTA, op.row, reinterpret_cast<LPARAM>(&cell));
                break;
            }
            case Op::kDeleteFrom: {
                if (op.row == 0) {
                    ::SendMessageA(m_list, LVM_DELETEALLITEMS, 0, 0);
                } else {
                    const int count = static_cast<int>(::SendMessageA(m_list, LVM_GETITEMCOUNT, 0, 0));
                    for (int r = count - 1; r >= op.row; --r) ::SendMessageA(m_list, LVM_DELETEITEM, r, 0);
                }
                break;
            }
            }
        }
        if (left == 0 || (budgetMs != 0 && NowMs() - start >= budgetMs)) break;
    }
    // Rows or results still going in: shown a few times a second. A tick
    // with nothing for the list lets it draw itself again.
    if (m_frozen && (!changed || ::GetTickCount() - m_lastShown >= kShowRowsMs)) ShowRows(false);

    // The latest texts and bar positions; only changes reach the controls. A
    // text or overall-bar value waits until the results queued before it are
    // in the list.
    Text texts[kTextCount];
    {
        Lock lock(m_lock);
        for (int i = 0; i < kTextCount; ++i) {
            if (!m_text[i].dirty || m_text[i].after > m_applied) continue;
            texts[i] = m_text[i];
            m_text[i].dirty = false;
        }
        if (m_total.range != kUnset && m_total.rangeAfter <= m_applied) m_bar[kBarTotal].range = m_total.range;
        if (m_total.pos != kUnset && m_total.posAfter <= m_applied) m_bar[kBarTotal].pos = m_total.pos;
    }
    for (int i = 0; i < kTextCount; ++i) {
        if (!texts[i].dirty || (m_shownKnown[i] && m_shown[i] == texts[i].value)) continue;
        ::SetDlgItemTextA(m_dlg, kTextIds[i], texts[i].value);
        m_shown[i] = texts[i].value;
        m_shownKnown[i] = true;
    }

    for (int i = 0; i < kBarCount; ++i) {
        Bar& b = m_bar[i];
        const HWND bar = ::GetDlgItem(m_dlg, kBarIds[i]);
        const int range = b.range.load();
        if (range != kUnset && range != b.shownRange) {
            if (i == kBarFile)
                ::SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, range));
            else
                ::SendMessageA(bar, PBM_SETRANGE32, 0, range);
            b.shownRange = range;
            b.shownPos = kUnset;
        }
        const int pos = b.pos.load();
        if (pos != kUnset && pos != b.shownPos) {
            ::SendMessageA(bar, PBM_SETPOS, pos, 0);
            b.shownPos = pos;
        }
    }
    return left;
}

LRESULT CRunDisplay::OnMessage(WPARAM what, LPARAM arg) {
    switch (what) {
    case kFlush:
        return static_cast<LRESULT>(Render(kFlushBudgetMs));
    case kCall:
        (*reinterpret_cast<const std::function<void()>*>(arg))();
        return 0;
    default:
        return 0;
    }
}

void CRunDisplay::OnTimer() { Render(kTickBudgetMs); }

void CRunDisplay::SetText(int id, const char* text) {
    const int slot = TextSlot(id);
    if (slot < 0) return;
    Lock lock(m_lock);
    m_text[slot].value = text;
    m_text[slot].dirty = true;
    m_text[slot].after = m_queued;
}

void CRunDisplay::SetBarRange(int id, int max) {
    const int slot = BarSlot(id);
    if (slot == kBarTotal) {
        Lock lock(m_lock);
        m_total.range = max;
        m_total.rangeAfter = m_queued;
    } else if (slot >= 0) {
        m_bar[slot].range = max;
    }
}

void CRunDisplay::SetBarPos(int id, int pos) {
    const int slot = BarSlot(id);
    if (slot == kBarTotal) {
        Lock lock(m_lock);
        m_total.pos = pos;
        m_total.posAfter = m_queued;
    } else if (slot >= 0) {
        m_bar[slot].pos = pos;
    }
}

void CRunDisplay::Push(Op op) {
    Lock lock(m_lock);
    m_ops.push_back(std::move(op));
    ++m_queued;
}

void CRunDisplay::InsertRow(int row, const char* path) { Push(Op{Op::kInsert, row, path}); }
void CRunDisplay::SetRowResult(int row, const char* text) { Push(Op{Op::kResult, row, text}); }
void CRunDisplay::DeleteRowsFrom(int row) { Push(Op{Op::kDeleteFrom, row, CString()}); }

void CRunDisplay::Flush() {
    // In chunks, so that the window still answers while a long queue drains.
    while (::SendMessageA(m_dlg, WM_RUNDISPLAY, kFlush, 0) != 0) ::Sleep(1);
}

void CRunDisplay::Call(const std::function<void()>& fn) {
    ::SendMessageA(m_dlg, WM_RUNDISPLAY, kCall, reinterpret_cast<LPARAM>(&fn));
}
