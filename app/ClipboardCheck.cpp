#include "app/ClipboardCheck.h"

#include <atomic>

#include "app/DigestDlg.h"
#include "app/Clock.h"
#include "app/Messages.h"
#include "app/Texts.h"
#include "jobs/JobState.h"

CClipboardCheck g_clipboardCheck;

namespace {

// Vista's clipboard listener, looked up: the headers are set for XP.
using ClipboardListenerFn = BOOL(WINAPI*)(HWND);
ClipboardListenerFn ListenerFunction(const char* name) {
    return reinterpret_cast<ClipboardListenerFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), name)));
}
const ClipboardListenerFn s_addListener = ListenerFunction("AddClipboardFormatListener");
const ClipboardListenerFn s_removeListener = ListenerFunction("RemoveClipboardFormatListener");

// Another program may hold the clipboard open for a moment: read again that
// many times, this far apart, then wait for its next change or run's end.
const int kReadAttempts = 5;
const UINT kRetryMs = 40;
// Texts up to this many characters are read at once; a longer one (50 MB of
// it would hold the window for seconds) on a thread of its own.
const size_t kReadAtOnce = 65536;
// The list's count takes at most about this long at a time; the window
// answers in between.
const double kCountSliceMs = 10;

// A cell's text as the ASCII digest it shows, or false when it shows none
// (a kind word, a failure text, nothing yet).
bool DigestText(const wchar_t* text, int length, char (&digest)[33]) {
    if (length != 32) return false;
    for (int i = 0; i < 32; ++i) {
        if (text[i] <= 0 || text[i] >= 0x80) return false;
        digest[i] = static_cast<char>(text[i]);
    }
    digest[32] = '\0';
    return true;
}

HBRUSH VerdictBrush(Verdict verdict) {
    // Made once for the life of the process.
    static const HBRUSH match = ::CreateSolidBrush(kMatchColour);
    static const HBRUSH differ = ::CreateSolidBrush(kDifferColour);
    return verdict == Verdict::kMatch ? match : differ;
}

}  // namespace

// A long text and the values read from it, on their own thread.
struct CClipboardCheck::Parsing {
    std::u16string text;
    CExpectedDigests values;
    HWND dlg = nullptr;
    LPARAM turn = 0;
    std::atomic<bool> done{false};
};

void CClipboardCheck::Attach(HWND dlg, HWND list) {
    *this = CClipboardCheck();
    m_dlg = dlg;
    m_list = list;
    if (s_addListener) s_addListener(dlg);
}

void CClipboardCheck::Detach() {
    if (!m_dlg) return;
    if (s_removeListener) s_removeListener(m_dlg);
    ::KillTimer(m_dlg, kClipboardRetryTimerId);
    m_dlg = nullptr;
    m_parsing.reset();  // its thread lets it go when done
    m_rows.clear();
}

CClipboardCheck::ReadResult CClipboardCheck::Read() {
    const DWORD sequence = ::GetClipboardSequenceNumber();
    std::u16string text;
    // This window's own Copy is no evidence; a list copied by an earlier
    // process of this program is (its window is gone).
    if (::GetClipboardOwner() != m_dlg && ::IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        if (!::OpenClipboard(m_dlg)) return ReadResult::kBusy;
        if (::GetClipboardOwner() != m_dlg) {
            if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
                if (const auto* chars = static_cast<const char16_t*>(::GlobalLock(data))) {
                    // Up to the terminator, and never past the block.
                    const size_t room = ::GlobalSize(data) / sizeof(char16_t);
                    size_t length = 0;
                    while (length < room && chars[length] != 0) ++length;
                    text.assign(chars, length);
                    ::GlobalUnlock(data);
                }
            }
        }
        // Closed before the text is worked through: others may want it.
        ::CloseClipboard();
    }
    m_readSequence = sequence;
    m_readDone = true;
    // A read in progress is worthless now.
    m_parsing.reset();
    ++m_parseTurn;
    if (text.size() > kReadAtOnce) {
        auto job = std::make_shared<Parsing>();
        job->text.swap(text);
        job->dlg = m_dlg;
        job->turn = m_parseTurn;
        auto* handed = new std::shared_ptr<Parsing>(job);
        if (HANDLE thread = ::CreateThread(nullptr, 0, &ParseThread, handed, 0, nullptr)) {
            ::CloseHandle(thread);
            // The values so far stay until the new ones are ready.
            m_parsing = job;
            return ReadResult::kRead;
        }
        delete handed;
        text.swap(job->text);
    }
    if (text.empty())
        m_expected.Clear();
    else
        m_expected.Parse(text.data(), text.size());
    return ReadResult::kRead;
}

DWORD WINAPI CClipboardCheck::ParseThread(LPVOID handed) {
    const std::unique_ptr<std::shared_ptr<Parsing>> held(static_cast<std::shared_ptr<Parsing>*>(handed));
    Parsing& job = **held;
    job.values.Parse(job.text.data(), job.text.size());
    std::u16string().swap(job.text);
    job.done = true;
    ::PostMessageW(job.dlg, WM_CLIPBOARDCHECK, kParsed, job.turn);
    return 0;
}

void CClipboardCheck::OnMessage(WPARAM what, LPARAM turn) {
    if (!m_dlg) return;
    if (what == kParsed && m_parsing && turn == m_parseTurn && m_parsing->done) {
        m_expected = std::move(m_parsing->values);
        m_parsing.reset();
        Apply();
    } else if (what == kCountMore && turn == m_countTurn) {
        CountMore();
    }
}

void CClipboardCheck::ReadOrRetry() {
    ::KillTimer(m_dlg, kClipboardRetryTimerId);
    m_retriesLeft = kReadAttempts - 1;
    if (Read() == ReadResult::kBusy) ::SetTimer(m_dlg, kClipboardRetryTimerId, kRetryMs, &RetryTimer);
}

void CALLBACK CClipboardCheck::RetryTimer(HWND wnd, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(wnd, id);
    CClipboardCheck& self = g_clipboardCheck;
    if (self.m_dlg != wnd) return;
    if (self.Read() == ReadResult::kBusy) {
        if (--self.m_retriesLeft > 0) ::SetTimer(wnd, id, kRetryMs, &RetryTimer);
        return;
    }
    self.Apply();
}

void CClipboardCheck::OnClipboardUpdate() {
    if (!m_dlg) return;
    // Nothing changed since the last read (a reader's open and close), or
    // nothing shown to compare with: the run's end reads it then.
    if (m_readDone && ::GetClipboardSequenceNumber() == m_readSequence) return;
    if (!AnythingToCompare()) return;
    ReadOrRetry();
    Apply();
}

void CClipboardCheck::OnRunClosed(bool compact, bool completed) {
    if (!m_dlg) return;
    m_single = completed && compact;
    m_singleVerdict = Verdict::kNone;
    if (m_single) {
        m_singlePath = ItemText(IDC_PATH);
        m_singleDigest = ItemText(IDC_MD5);
    }
    m_listDone = completed && !compact;
    if (m_listDone) m_listText = ItemText(IDC_MD5);
    m_rows.clear();
    if (!m_readDone || ::GetClipboardSequenceNumber() != m_readSequence) ReadOrRetry();
    Apply();
}

CStringW CClipboardCheck::ItemText(int id) const { return CWnd(m_dlg).GetDlgItemText(id); }

bool CClipboardCheck::SingleShown() const {
    return m_single && ItemText(IDC_MD5) == m_singleDigest && ItemText(IDC_PATH) == m_singlePath;
}

bool CClipboardCheck::ListSummaryShown() const { return m_listDone && ItemText(IDC_MD5) == m_listText; }

bool CClipboardCheck::AnythingToCompare() const {
    return SingleShown() || (g_bCompact == 0 && ::SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0) > 0);
}

Verdict CClipboardCheck::SingleVerdict() const {
    char digest[33];
    if (m_expected.Empty() || !DigestText(m_singleDigest, m_singleDigest.GetLength(), digest)) return Verdict::kNone;
    return m_expected.Check(reinterpret_cast<const char16_t*>(m_singlePath.c_str()),
                            static_cast<size_t>(m_singlePath.GetLength()), digest, true);
}

bool CClipboardCheck::RowDigest(int row, char (&digest)[33]) const {
    wchar_t cell[40] = {};
    LVITEMW item{};
    item.iSubItem = 1;
    item.pszText = cell;
    item.cchTextMax = 40;
    const int length = static_cast<int>(::SendMessageW(m_list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
    return DigestText(cell, length, digest);
}

int CClipboardCheck::RowPath(int row) const {
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = m_path.data();
    item.cchTextMax = static_cast<int>(m_path.size());
    return static_cast<int>(::SendMessageW(m_list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
}

Verdict CClipboardCheck::RowVerdict(int row) const {
    char digest[33];
    if (!RowDigest(row, digest)) return Verdict::kNone;
    const int length = RowPath(row);
    return m_expected.Check(reinterpret_cast<const char16_t*>(m_path.data()), static_cast<size_t>(length), digest,
                            false);
}

void CClipboardCheck::Apply() {
    // A single file: the status says it, the digest's background shows it.
    if (SingleShown()) {
        m_singleVerdict = SingleVerdict();
        const char* status = m_singleVerdict == Verdict::kMatch    ? texts::kClipMatch
                             : m_singleVerdict == Verdict::kDiffer ? texts::kClipDiffer
                                                                   : texts::kFileDone;
        const CStringW text = AfxText(status);
        if (ItemText(IDC_STATUS) != text) ::SetDlgItemTextW(m_dlg, IDC_STATUS, text);
        ::InvalidateRect(::GetDlgItem(m_dlg, IDC_MD5), nullptr, TRUE);
    } else {
        m_single = false;
        m_singleVerdict = Verdict::kNone;
    }
    if (g_bCompact != 0) return;
    // The list: every row is drawn with its verdict; after a completed run
    // the digest box counts them.
    ::InvalidateRect(m_list, nullptr, FALSE);
    if (!ListSummaryShown()) {
        m_listDone = false;
        m_rows.clear();
        return;
    }
    StartCount();
}

void CClipboardCheck::StartCount() {
    ++m_countTurn;  // a count in progress starts again
    m_countNext = 0;
    m_matching = m_differing = 0;
    if (m_rows.empty()) m_rows.resize(static_cast<size_t>(::SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0)));
    CountMore();
}

void CClipboardCheck::CountMore() {
    if (m_countNext < 0 || !ListSummaryShown()) return;
    const double start = NowMs();
    const int rows = m_expected.Empty() ? 0 : static_cast<int>(m_rows.size());
    for (; m_countNext < rows; ++m_countNext) {
        Row& row = m_rows[static_cast<size_t>(m_countNext)];
        if (!row.read) {
            row.read = true;
            if (RowDigest(m_countNext, row.digest)) {
                const int length = RowPath(m_countNext);
                row.path.assign(reinterpret_cast<const char16_t*>(m_path.data()), static_cast<size_t>(length));
            } else {
                row.digest[0] = '\0';
            }
        }
        if (row.digest[0]) {
            const Verdict verdict = m_expected.Check(row.path.data(), row.path.size(), row.digest, false);
            m_matching += verdict == Verdict::kMatch;
            m_differing += verdict == Verdict::kDiffer;
        }
        if ((m_countNext & 255) == 255 && NowMs() - start >= kCountSliceMs) {
            ++m_countNext;
            ::PostMessageW(m_dlg, WM_CLIPBOARDCHECK, kCountMore, m_countTurn);
            return;
        }
    }
    m_countNext = -1;
    CStringW text = AfxText(texts::kListHint);
    if (m_matching + m_differing > 0) {
        CString summary;
        summary.Format(texts::kClipSummary, m_matching, m_differing);
        text = AfxText(summary);
    }
    if (text != m_listText) {
        ::SetDlgItemTextW(m_dlg, IDC_MD5, text);
        m_listText = text;
    }
}

LRESULT CClipboardCheck::OnListCustomDraw(NMLVCUSTOMDRAW* draw) {
    if (m_expected.Empty()) return CDRF_DODEFAULT;
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        m_drawVerdict = RowVerdict(static_cast<int>(draw->nmcd.dwItemSpec));
        if (m_drawVerdict == Verdict::kNone) return CDRF_DODEFAULT;
        m_rowText = draw->clrText;
        m_rowTextBk = draw->clrTextBk;
        return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
        // The colours stay set for the row's later cells: only the digest's is coloured.
        if (draw->iSubItem == 1) {
            draw->clrText = RGB(0, 0, 0);
            draw->clrTextBk = m_drawVerdict == Verdict::kMatch ? kMatchColour : kDifferColour;
        } else {
            draw->clrText = m_rowText;
            draw->clrTextBk = m_rowTextBk;
        }
        return CDRF_NEWFONT;
    default:
        return CDRF_DODEFAULT;
    }
}

HBRUSH CClipboardCheck::OnCtlColorStatic(HDC dc, HWND control) const {
    if (m_singleVerdict == Verdict::kNone || control != ::GetDlgItem(m_dlg, IDC_MD5) || !SingleShown()) return nullptr;
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::SetBkColor(dc, m_singleVerdict == Verdict::kMatch ? kMatchColour : kDifferColour);
    return VerdictBrush(m_singleVerdict);
}

// ---------------------------------------------------------------- the dialog's handlers

LRESULT CDigestDlg::OnClipboardUpdate(WPARAM, LPARAM) {
    g_clipboardCheck.OnClipboardUpdate();
    return 0;
}

LRESULT CDigestDlg::OnCtlColorStatic(WPARAM wParam, LPARAM lParam) {
    if (HBRUSH brush = g_clipboardCheck.OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)))
        return reinterpret_cast<LRESULT>(brush);
    return Default();
}

void CDigestDlg::OnListCustomDraw(NMHDR* header, LRESULT* result) {
    *result = g_clipboardCheck.OnListCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
}

LRESULT CDigestDlg::OnClipboardCheck(WPARAM wParam, LPARAM lParam) {
    g_clipboardCheck.OnMessage(wParam, lParam);
    return 0;
}

LRESULT CDigestDlg::OnDestroy(WPARAM, LPARAM) {
    g_clipboardCheck.Detach();
    return Default();
}
