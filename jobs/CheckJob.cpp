#include "jobs/CheckJob.h"

#include <commctrl.h>
#include <mbstring.h>

#include <memory>
#include <vector>

#include "app/DigestDlg.h"
#include "app/RunDisplay.h"
#include "digest/FileDigest.h"
#include "jobs/FilePath.h"
#include "jobs/JobState.h"
#include "jobs/TargetList.h"

EndProcessFn g_pfnEndProcess = &::ExitProcess;

namespace {

// What one run shares between the window thread and its checking thread.
struct RunState {
    RunTicket ticket;
    // The row being digested; kWalking during the expansion, kSingle while
    // the single path of the compact layout is digested.
    std::atomic<int> row{kWalking};
    static const int kWalking = -2;
    static const int kSingle = -1;
};

// What the checking thread is started with.
struct RunParams {
    CString path;
    std::shared_ptr<RunState> run;
};

// Window thread: the run of the current checking thread, and the list's
// entries when it started (a run given up during the walk puts them back).
std::shared_ptr<RunState> s_run;
std::vector<CString> s_runTargets;
// Window thread: threads of runs given up, left to end on their own.
std::vector<HANDLE> s_givenUpThreads;
// Window thread: the run Stop was pressed for (compared only, never used).
const RunState* s_stoppedRun = nullptr;

// How long Stop and exit let the checking thread end by itself before they
// give its run up: a thread between reads sees the cleared flag within one
// 1 KiB read, far sooner.
const DWORD kStopWaitMs = 20;
const DWORD kExitWaitMs = 200;
// How long exit waits for the threads of runs that a Stop gave up: on a busy
// machine a thread that was only slow can still be ending.
const DWORD kGivenUpExitWaitMs = 500;
// How long they wait at most for a thread that is neither ending nor inside
// a file system call (it is between two such calls, which takes microseconds).
const DWORD kBetweenCallsWaitMs = 500;

using CancelIoFn = BOOL(WINAPI*)(HANDLE);
// CancelSynchronousIo (Windows Vista and later): asks the thread's file
// system call to return at once.
const CancelIoFn s_pfnCancelSynchronousIo = reinterpret_cast<CancelIoFn>(
    reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "CancelSynchronousIo")));

// The window thread's own handle and id of the checking thread, closed when
// the thread has ended. g_hCheckThread is the same handle as the thread sees
// it: the run's closing step clears that one.
HANDLE s_checkThread = nullptr;
DWORD s_checkThreadId = 0;
// Set by the run's closing step: the thread touches nothing any more and
// only has to return.
bool s_checkThreadDone = false;
// Retries the closing of a thread handle whose thread had not quite ended
// when its last message arrived.
const UINT_PTR kReapTimerId = 0x5153;
// Gives a stopped run up when its thread is still stuck in a call.
const UINT_PTR kGiveUpTimerId = 0x5154;

const char kPlaceholderOneFolder[] = "一个文件夹";
const char kPlaceholderSeveral[] = "多个文件夹及文件";
const char kFailed[] = "全文MD5值校验失败";
// The failure text padded with blanks to the width of a digest (32 bytes).
const char kFailedRow[] = "全文MD5值校验失败               ";

bool SameText(const CString& a, const char* b) {
    return _mbscmp(reinterpret_cast<const unsigned char*>(a.c_str()),
                   reinterpret_cast<const unsigned char*>(b)) == 0;
}

// Closes the handle of a checking thread that has ended; never waits.
bool ReapCheckThread() {
    if (s_checkThread && ::WaitForSingleObject(s_checkThread, 0) == WAIT_OBJECT_0) {
        ::CloseHandle(s_checkThread);
        s_checkThread = nullptr;
        s_checkThreadId = 0;
        s_checkThreadDone = false;
    }
    return s_checkThread == nullptr;
}

// Asks the file system call the checking thread is inside to return at
// once; only while it is inside one: a cancel that reached the thread while
// it waits for the window (a sent message) could cut that wait short.
void CancelFileSystemCall() {
    if (s_pfnCancelSynchronousIo && s_run && s_run->ticket.state.load() == RunTicket::kInCall)
        s_pfnCancelSynchronousIo(s_checkThread);
}

// Handles the window calls the checking thread sends (its texts, its
// closing step) for up to ms, or until the thread has ended.
void WaitWithSentMessages(DWORD ms) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (!s_checkThread || s_checkThreadDone) return;
        const DWORD spent = ::GetTickCount() - start;
        if (spent >= ms) return;
        const DWORD r = ::MsgWaitForMultipleObjects(1, &s_checkThread, FALSE, ms - spent, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return;
        MSG msg;
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // delivers the sent messages
    }
}

// The window's side of the closing step, for a run whose thread is stuck in
// a file system call: what the thread would show after a Stop.
void CloseGivenUpRun(CDigestDlg* dlg, int row) {
    g_display.End();  // shows what the thread recorded before it got stuck
    LowerTimerResolution();  // the stuck thread will not
    CString text;
    if (row == RunState::kSingle || g_bCompact == 1) {
        dlg->SetDlgItemText(IDC_STATUS, "全文MD5值校验失败.");
        dlg->SetDlgItemText(IDC_STAGE, "3/3");
        dlg->SetDlgItemText(IDC_MD5, kFailed);
    } else {
        if (row >= 0) {
            // The file it was reading failed, as after any Stop inside a file.
            g_pFileList->SetItemText(row, 1, kFailedRow);
            dlg->SetDlgItemText(IDC_STATUS, "全文MD5值校验失败.");
            dlg->SetDlgItemText(IDC_STAGE, "3/3");
            dlg->GetDlgItem(IDC_TOTALPROGRESS).SendMessage(PBM_SETPOS, static_cast<WPARAM>(row + 1));
            text.Format("%d/%d", row + 1, g_nItems);
        } else {
            // Stuck in the walk: every entry stays a target, as after a Stop
            // during the walk, so that the next Start checks them all.
            g_pFileList->SendMessage(LVM_DELETEALLITEMS);
            int i = 0;
            for (const CString& entry : s_runTargets) g_pFileList->InsertItem(LVIF_TEXT, i++, entry, 0, 0, 0, 0);
            g_nItems = i;
            text.Format("%d", i);
        }
        dlg->SetDlgItemText(IDC_LISTCOUNT, text);
        dlg->SetDlgItemText(IDC_LISTSTATUS, "全部文件全文MD5校验失败.");
        dlg->SetDlgItemText(IDC_MD5, "全部文件全文MD5校验失败");
    }
    dlg->GetDlgItem(IDOK).EnableWindow(TRUE);
    dlg->GetDlgItem(IDC_STOP).EnableWindow(FALSE);
    dlg->GetDlgItem(IDC_OPEN).EnableWindow(TRUE);
}

// Gives the current run up if its thread is stuck in a file system call,
// and closes the run on the window thread. The stuck thread is left to end
// on its own and touches nothing shared when its call returns. False when
// the thread is between two calls (it will see the cleared flag at once).
bool TryGiveUpRun(CDigestDlg* dlg) {
    if (!s_run || !GiveUpRun(&s_run->ticket)) return false;
    const int row = s_run->row.load();
    s_givenUpThreads.push_back(s_checkThread);
    s_checkThread = nullptr;
    s_checkThreadId = 0;
    s_run.reset();
    g_bWorking = 0;
    g_hCheckThread = nullptr;
    CloseGivenUpRun(dlg, row);
    return true;
}

bool CheckThreadRunning() {
    return s_checkThread && !s_checkThreadDone && ::WaitForSingleObject(s_checkThread, 0) != WAIT_OBJECT_0;
}

// After the run flag was cleared: lets the checking thread end by itself for
// up to waitMs, then gives its run up if it is stuck in a call. True when no
// thread of this run is left working (it ended, or its run was given up).
bool EndOrGiveUpRun(CDigestDlg* dlg, DWORD waitMs) {
    if (!CheckThreadRunning()) return true;
    // A stuck call is asked to return first; where the system does not
    // cancel it, the run is given up below.
    CancelFileSystemCall();
    WaitWithSentMessages(waitMs);
    const DWORD start = ::GetTickCount();
    while (CheckThreadRunning()) {
        if (TryGiveUpRun(dlg)) return true;
        if (::GetTickCount() - start >= kBetweenCallsWaitMs) return false;
        WaitWithSentMessages(1);
    }
    return true;
}

// Closes the handles of given-up threads that have ended by now; true when
// one is still stuck.
bool GivenUpThreadsRemain() {
    std::vector<HANDLE> alive;
    for (HANDLE h : s_givenUpThreads) {
        if (::WaitForSingleObject(h, 0) == WAIT_OBJECT_0)
            ::CloseHandle(h);
        else
            alive.push_back(h);
    }
    s_givenUpThreads.swap(alive);
    return !s_givenUpThreads.empty();
}

// Gives the threads of the first count given-up runs up to ms to end: a
// thread that was only slow, not stuck (a busy machine can keep it from
// running for longer than Stop waits), ends within moments.
void WaitForGivenUpThreads(size_t count, DWORD ms) {
    const DWORD start = ::GetTickCount();
    for (size_t i = 0; i < count && i < s_givenUpThreads.size(); ++i) {
        const DWORD spent = ::GetTickCount() - start;
        ::WaitForSingleObject(s_givenUpThreads[i], spent < ms ? ms - spent : 0);
    }
}

}  // namespace

bool IsCheckBusy() {
    // A thread past its closing step is only returning: let it finish
    // rather than refuse the user (it takes microseconds).
    if (s_checkThread && s_checkThreadDone) ::WaitForSingleObject(s_checkThread, 1000);
    ReapCheckThread();
    GivenUpThreadsRemain();  // closes the handles of those that have ended
    return g_bWorking != 0 || s_checkThread != nullptr;
}

void CDigestDlg::OnOK() {
    // Start is disabled while a run is active; Enter and a single dropped
    // file come here too, and must not start a second thread either.
    if (IsCheckBusy()) return;

    g_bWorking = 1;
    UpdateData(TRUE);
    // Every name as the file it is (a file "aux.txt" is no device).
    const bool accepted = m_finder.FindFile(ExtendedPath(m_strPath)) || SameText(m_strPath, kPlaceholderOneFolder) ||
                          SameText(m_strPath, kPlaceholderSeveral);
    m_finder.Close();
    if (!accepted) {
        g_bWorking = 0;
        AfxMessageBox("路径错误，文件不存在无法校验！", 0);
        UpdateData(FALSE);
        return;
    }

    GetDlgItem(IDOK).EnableWindow(FALSE);
    GetDlgItem(IDC_STOP).EnableWindow(TRUE);
    GetDlgItem(IDC_OPEN).EnableWindow(FALSE);
    GetDlgItem(IDC_COPY).EnableWindow(FALSE);
    SetDlgItemText(IDC_COPY, "复制");

    // The thread works on its own copy of the path; it never touches the
    // dialog's members.
    auto params = std::make_unique<RunParams>();
    params->path = m_strPath;
    params->run = std::make_shared<RunState>();
    s_runTargets.clear();
    for (int i = 0; i < g_nItems && g_bCompact == 0; ++i) s_runTargets.push_back(g_pFileList->GetItemText(i, 0));
    g_display.Begin(m_hWnd, g_pFileList->m_hWnd);
    g_hCheckThread = ::CreateThread(nullptr, 0, CheckThreadProc, params.get(), 0, &g_dwCheckThreadId);
    if (g_hCheckThread) {
        s_run = params->run;
        params.release();
        s_checkThread = g_hCheckThread;
        s_checkThreadId = g_dwCheckThreadId;
        s_checkThreadDone = false;
    } else {
        // No thread, no run: back to idle.
        g_display.End();
        g_bWorking = 0;
        GetDlgItem(IDOK).EnableWindow(TRUE);
        GetDlgItem(IDC_STOP).EnableWindow(FALSE);
        GetDlgItem(IDC_OPEN).EnableWindow(TRUE);
    }
    UpdateData(FALSE);
}

void CDigestDlg::OnButtonStop() {
    g_bWorking = 0;
    GetDlgItem(IDC_STOP).EnableWindow(FALSE);
    // A thread stuck in a read (a hung share) must not hold the window: its
    // read is cancelled, and if that does not end the run soon, the run is
    // given up (OnTimer).
    if (!CheckThreadRunning()) return;
    CancelFileSystemCall();
    s_stoppedRun = s_run.get();
    ::SetTimer(m_hWnd, kGiveUpTimerId, kStopWaitMs, nullptr);
}

void CDigestDlg::OnCancel() {
    if (g_bWorking != 0 &&
        MessageBox("程序正在工作，您确定要退出程序吗?", "提示信息", MB_YESNO) != IDYES)
        return;
    // The checking thread must be gone or given up before the window is:
    // stop it and wait a moment, handling its last window calls meanwhile.
    // It may sit in a call that does not return (a read from a hung share):
    // the user sees the window gone at once, and the program ends without
    // waiting for that call, as it writes nothing that could be lost.
    g_bWorking = 0;
    RemoveTrayIcon();
    if (!ReapCheckThread() || GivenUpThreadsRemain()) ShowWindow(SW_HIDE);
    const size_t givenUpBefore = s_givenUpThreads.size();
    const bool done = EndOrGiveUpRun(this, kExitWaitMs);
    ReapCheckThread();
    // Runs given up by an earlier Stop get their moment too; one given up
    // just now was stuck for the whole wait already.
    WaitForGivenUpThreads(givenUpBefore, kGivenUpExitWaitMs);
    const bool stuck = !done || GivenUpThreadsRemain();
    CDialog::OnCancel();
    if (stuck) g_pfnEndProcess(0);
}

LRESULT CDigestDlg::OnCheckThreadEnded(WPARAM threadId, LPARAM) {
    // Only the thread this message was posted for, and only once it has
    // ended: a late message must not hold the window while a newer run goes on.
    if (!s_checkThread || threadId != s_checkThreadId) return 0;
    if (!ReapCheckThread()) ::SetTimer(m_hWnd, kReapTimerId, 10, nullptr);
    return 0;
}

void CDigestDlg::OnTimer(UINT_PTR id) {
    if (id == CRunDisplay::kTimerId) {
        g_display.OnTimer();
    } else if (id == kReapTimerId) {
        if (ReapCheckThread()) ::KillTimer(m_hWnd, kReapTimerId);
    } else if (id == kGiveUpTimerId) {
        // Only for the run that was stopped, while its thread still works;
        // a thread between two calls is given the next tick.
        if (s_run.get() != s_stoppedRun || !CheckThreadRunning() || TryGiveUpRun(this))
            ::KillTimer(m_hWnd, kGiveUpTimerId);
        else
            ::SetTimer(m_hWnd, kGiveUpTimerId, 1, nullptr);
    } else {
        Default();
    }
}

LRESULT CDigestDlg::OnRunDisplay(WPARAM wParam, LPARAM lParam) { return g_display.OnMessage(wParam, lParam); }

DWORD WINAPI CheckThreadProc(LPVOID param) {
    const std::unique_ptr<RunParams> params(static_cast<RunParams*>(param));
    const CString* const path = &params->path;
    RunState& run = *params->run;
    SetThreadRunTicket(&run.ticket);
    CDigestDlg* dlg = static_cast<CDigestDlg*>(AfxGetMainWnd());
    char buffer[256] = {};
    RaiseTimerResolution();

    g_display.Call([dlg] { dlg->SetDlgItemText(IDC_MD5, ""); });
    ExpandTargetList();
    // Given up while stuck in the walk: the window has closed the run.
    if (RunGivenUp()) return 0;

    // What the closing step shows and whether the run completed. The texts
    // that tell the run's outcome are drawn in that step, together with the
    // results, the buttons and the flag: never ahead of them.
    CString result;
    const char* closingStatus = nullptr;      // IDC_STATUS (single file)
    const char* closingListStatus = nullptr;  // IDC_LISTSTATUS (list)
    bool completed = false;
    if (g_bCompact == 1) {
        g_strCurrentFile = *path;
        run.row = RunState::kSingle;
        const int digested = DigestFile(ExtendedPath(*path), reinterpret_cast<unsigned char*>(buffer), 0);
        if (RunGivenUp()) return 0;
        if (digested == 1) {
            g_bWorking = 0;
            g_display.SetBarPos(IDC_PROGRESS, 1);
        }
        completed = g_bWorking == 1;
        if (completed) {
            result.Format("%s", buffer);
            closingStatus = "全文MD5值校验完毕.";
        } else {
            // Failed, or stopped: a digest of part of the file is no result.
            result = kFailed;
            closingStatus = "全文MD5值校验失败.";
        }
    } else {
        g_display.SetText(IDC_LISTSTATUS, "正在进行全部文件MD5校验……");
        g_display.SetBarRange(IDC_TOTALPROGRESS, g_nItems);
        CString counter;
        const int rows = static_cast<int>(g_listedPaths.size());
        for (int i = 0; i < g_nItems && g_bWorking == 1;) {
            g_strCurrentFile = i < rows ? g_listedPaths[static_cast<size_t>(i)] : CString();
            // The row keeps the path as listed; the file is opened as the
            // file it is, whatever its name ("nul", "com1", "aux.txt").
            run.row = i;
            const int digested = DigestFile(ExtendedPath(g_strCurrentFile), reinterpret_cast<unsigned char*>(buffer), 0);
            if (RunGivenUp()) return 0;
            const char* status;
            if (digested == 1) {
                g_display.SetBarPos(IDC_PROGRESS, 1);
                g_display.SetRowResult(i, kFailedRow);
                status = "全文MD5值校验失败.";
            } else if (g_bWorking != 1) {
                // Stopped inside this file: what was read is not its digest.
                g_display.SetRowResult(i, kFailedRow);
                status = "全文MD5值校验失败.";
            } else {
                g_strCurrentFile.Format("%s", buffer);
                g_display.SetRowResult(i, g_strCurrentFile);
                status = "全文MD5值校验完毕.";
            }
            g_display.SetText(IDC_STATUS, status);
            g_display.SetText(IDC_STAGE, "3/3");
            ++i;
            g_display.SetBarPos(IDC_TOTALPROGRESS, i);
            counter.Format("%d/%d", i, g_nItems);
            g_display.SetText(IDC_LISTCOUNT, counter);
        }
        completed = g_bWorking == 1;
        if (completed) {
            closingListStatus = "全部文件全文MD5校验完成.";
            result = "点击复制全部文件MD5校验值";
        } else {
            closingListStatus = "全部文件全文MD5校验失败.";
            result = "全部文件全文MD5校验失败";
        }
    }
    g_listedPaths.clear();
    g_listedPaths.shrink_to_fit();

    // Everything recorded reaches the window, then the run ends in one step
    // on the window thread, so that nothing can come between its texts, its
    // buttons and the flag.
    g_display.Flush();
    LowerTimerResolution();
    g_display.Call([dlg, &result, closingStatus, closingListStatus, completed] {
        g_display.End();
        dlg->SetDlgItemText(IDC_MD5, result);
        if (completed) {
            dlg->SetDlgItemText(IDC_COPY, "复制*");
            dlg->GetDlgItem(IDC_COPY).EnableWindow(TRUE);
        }
        dlg->GetDlgItem(IDOK).EnableWindow(TRUE);
        dlg->GetDlgItem(IDC_STOP).EnableWindow(FALSE);
        dlg->GetDlgItem(IDC_OPEN).EnableWindow(TRUE);
        if (closingStatus) {
            dlg->SetDlgItemText(IDC_STATUS, closingStatus);
            dlg->SetDlgItemText(IDC_STAGE, "3/3");
        }
        if (closingListStatus) dlg->SetDlgItemText(IDC_LISTSTATUS, closingListStatus);
        g_bWorking = 0;
        g_hCheckThread = nullptr;
        s_checkThreadDone = true;
    });
    const DWORD id = ::GetCurrentThreadId();
    dlg->PostMessage(WM_CHECKTHREADENDED, id);
    return id;  // the thread's id as its exit code
}
