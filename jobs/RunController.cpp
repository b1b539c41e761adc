#include "jobs/RunController.h"

#include <memory>
#include <vector>

#include "app/ClipboardCheck.h"
#include "app/DigestDlg.h"
#include "app/Messages.h"
#include "app/RunDisplay.h"
#include "app/Texts.h"
#include "jobs/CheckThread.h"
#include "jobs/FilePath.h"
#include "jobs/JobState.h"
#include "jobs/TimerResolution.h"

EndProcessFn g_pfnEndProcess = &::ExitProcess;
CancelIoFn g_pfnCancelSynchronousIo = reinterpret_cast<CancelIoFn>(reinterpret_cast<void (*)()>(
    ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "CancelSynchronousIo")));

namespace {

// The run in progress, null when none; its thread is g_hCheckThread.
std::shared_ptr<CheckRun> s_run;
// Threads whose runs are closed, and threads of runs given up while stuck in
// a call; each handle is closed once its thread has ended. A closed run's
// thread only returns; a given-up one may stay in its call for long.
std::vector<HANDLE> s_closedThreads;
std::vector<HANDLE> s_givenUpThreads;
// The run Stop was pressed for (compared only, never used).
const CheckRun* s_stoppedRun = nullptr;

// How long Stop and exit let the checking thread end by itself before they
// give its run up: a thread between reads sees the cleared flag within one
// 1 KiB read, far sooner.
const DWORD kStopWaitMs = 20;
const DWORD kExitWaitMs = 200;
// Exit waits for every thread against one deadline, this long after the
// user's Yes: a thread stuck in a call, or between two calls, or a closed
// run's thread that has still to return. The program ends within a second
// whatever they do.
const DWORD kExitDeadlineMs = 700;
// How long Start waits at most for the thread of a closed run, which has
// nothing left to do but return.
const DWORD kClosedWaitMs = 1000;
const UINT kReapEveryMs = 10;
// The thread of a run given up in a call returns whenever its call does
// (a slow read soon, a hung share perhaps never): looked at less often.
const UINT kReapGivenUpEveryMs = 50;

// The path box holds one of the placeholders (written there as the program's
// own text): compared character for character.
bool IsPlaceholder(const CStringW& path) {
    return path == AfxText(texts::kOneFolder) || path == AfxText(texts::kSeveral);
}

bool Ended(HANDLE thread) { return ::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

// Closes the handles of the threads that have ended; true when one is left.
bool Reap(std::vector<HANDLE>* threads) {
    std::vector<HANDLE> alive;
    for (HANDLE h : *threads) {
        if (Ended(h))
            ::CloseHandle(h);
        else
            alive.push_back(h);
    }
    threads->swap(alive);
    return !threads->empty();
}

// Milliseconds left until ms after start.
DWORD Left(DWORD start, DWORD ms) {
    const DWORD spent = ::GetTickCount() - start;
    return spent < ms ? ms - spent : 0;
}

// Gives the threads until ms after start to end.
void WaitForThreads(const std::vector<HANDLE>& threads, DWORD start, DWORD ms) {
    for (HANDLE h : threads) ::WaitForSingleObject(h, Left(start, ms));
}

// What Start changed in the window before the run's thread had looked the
// path up; put back when the path named nothing.
struct BeforeStart {
    bool copyEnabled = false;
    CStringW copyCaption;
    CStringW digest;
};
BeforeStart s_beforeStart;

// Asks the file system call the checking thread may be inside to return.
void CancelStuckCall() {
    if (g_pfnCancelSynchronousIo && g_hCheckThread) g_pfnCancelSynchronousIo(g_hCheckThread);
}

void ShowIdleButtons(const CWnd& dlg) {
    dlg.GetDlgItem(IDOK).EnableWindow(TRUE);
    dlg.GetDlgItem(IDC_STOP).EnableWindow(FALSE);
    dlg.GetDlgItem(IDC_OPEN).EnableWindow(TRUE);
}

// The run's closing step, on the window thread: reached through the run's
// closing event, after every row, result and text the run recorded (so that
// whoever sees "complete" finds everything it speaks of), or directly when
// the run cannot close itself. It sets the texts that tell how the run ended,
// Copy, the buttons and the flag, and hands the thread's handle on.
void CloseRun(const RunOutcome& outcome) {
    if (!s_run) return;
    const std::shared_ptr<CheckRun> run = std::move(s_run);  // s_run is null from here
    const CWnd& dlg = *AfxGetMainWnd();
    g_display.End();
    LowerTimerResolution();
    if (outcome.rows >= 0) g_nItems = outcome.rows;
    // Copy first: whoever reads how the run ended finds it ready.
    if (outcome.completed) {
        dlg.SetDlgItemText(IDC_COPY, texts::kCopyMarked);
        dlg.GetDlgItem(IDC_COPY).EnableWindow(TRUE);
    }
    if (outcome.badPath) {
        // Start's check found nothing at the path: the window is as it was,
        // and says so.
        dlg.GetDlgItem(IDC_COPY).EnableWindow(s_beforeStart.copyEnabled);
        dlg.SetDlgItemText(IDC_COPY, s_beforeStart.copyCaption);
        dlg.SetDlgItemText(IDC_MD5, s_beforeStart.digest);
    } else if (run->compact) {
        dlg.SetDlgItemText(IDC_MD5, outcome.completed ? outcome.digest.c_str() : texts::kFailed);
        dlg.SetDlgItemText(IDC_STATUS, outcome.completed ? texts::kFileDone : texts::kFileFailed);
        dlg.SetDlgItemText(IDC_STAGE, texts::kStage3);
    } else {
        dlg.SetDlgItemText(IDC_MD5, outcome.completed ? texts::kListHint : texts::kListFailed);
        dlg.SetDlgItemText(IDC_LISTSTATUS, outcome.completed ? texts::kListDone : texts::kListStopped);
    }
    // What the user copied, compared with what the run showed (a path that
    // named nothing showed nothing new).
    if (!outcome.badPath) g_clipboardCheck.OnRunClosed(run->compact, outcome.completed);
    // A Stop's give-up is for this run only.
    ::KillTimer(dlg.m_hWnd, kGiveUpTimerId);
    s_stoppedRun = nullptr;
    if (g_hCheckThread) {
        const bool givenUp = run->ticket.state.load() == RunTicket::kGivenUp;
        (givenUp ? s_givenUpThreads : s_closedThreads).push_back(g_hCheckThread);
        g_hCheckThread = nullptr;
    }
    g_bWorking = 0;
    ShowIdleButtons(dlg);
    if (!s_closedThreads.empty() || !s_givenUpThreads.empty())
        ::SetTimer(dlg.m_hWnd, kReapTimerId, s_closedThreads.empty() ? kReapGivenUpEveryMs : kReapEveryMs, nullptr);
    // The run is closed: a box may run its own message loop now.
    if (outcome.badPath) AfxMessageBox(texts::kPathError, 0);
    if (outcome.outOfMemory) dlg.MessageBox(texts::kOutOfMemory, texts::kNotice, MB_OK | MB_ICONWARNING);
}

// Gives the run in progress up if its thread is stuck in a file system call,
// and closes it as the thread would have after a Stop there. The thread is
// left to end on its own; it touches nothing shared when its call returns.
// False when the thread is between two calls (it sees the cleared flag at once).
bool GiveUpStuckRun() {
    if (!s_run || !GiveUpRun(&s_run->ticket)) return false;
    CheckRun& run = *s_run;
    CRunEvents& events = run.events;
    RunOutcome outcome;
    CString counter;
    const int row = run.row.load();
    if (!run.compact && row >= 0) {
        // The file it was reading failed, as after any Stop inside a file.
        outcome.rows = run.rows.load();
        events.SetRowResult(row, texts::kFailedRow);
        events.SetText(IDC_STATUS, texts::kFileFailed);
        events.SetText(IDC_STAGE, texts::kStage3);
        events.SetBarPos(IDC_TOTALPROGRESS, row + 1);
        counter.Format("%d/%d", row + 1, outcome.rows);
        events.SetText(IDC_LISTCOUNT, counter);
    } else if (!run.compact) {
        // Stuck in the walk: every entry stays a target, as after a Stop
        // during the walk, so that the next Start checks them all.
        outcome.rows = static_cast<int>(run.targets.size());
        events.DeleteRowsFrom(0);
        for (int i = 0; i < outcome.rows; ++i) {
            const RunTarget& target = run.targets[static_cast<size_t>(i)];
            events.InsertRow(i, target.path, target.walked);
        }
        counter.Format("%d", outcome.rows);
        events.SetText(IDC_LISTCOUNT, counter);
    }
    events.Close(outcome);
    g_display.Show(0);  // what the thread recorded, then the closing step
    return true;
}

}  // namespace

bool RunInProgress() { return s_run != nullptr || g_bWorking.load() != 0; }

bool CheckThreadRunning() {
    if (g_hCheckThread && !Ended(g_hCheckThread)) return true;
    for (HANDLE h : s_closedThreads)
        if (!Ended(h)) return true;
    return false;
}

void CDigestDlg::OnOK() {
    // Start is disabled while a run is in progress; Enter and a single
    // dropped file come here too, and must not start a second run either.
    if (RunInProgress()) return;

    g_bWorking = 1;
    UpdateData(TRUE);
    // Whether the path names anything is asked by the run's thread: the
    // window never waits for the file system. An empty path names nothing.
    if (m_strPath.IsEmpty() && g_bCompact == 1) {
        g_bWorking = 0;
        AfxMessageBox(texts::kPathError, 0);
        UpdateData(FALSE);
        return;
    }

    // One checking thread at a time: the thread of a closed run has only to
    // return, which takes a moment.
    WaitForThreads(s_closedThreads, ::GetTickCount(), kClosedWaitMs);
    Reap(&s_closedThreads);
    Reap(&s_givenUpThreads);

    // The run gets its targets now, and works on its own copy of them.
    auto run = std::make_shared<CheckRun>();
    run->compact = g_bCompact == 1;
    // A placeholder names no file, but is accepted as a target without asking
    // the file system.
    run->pathAccepted = IsPlaceholder(m_strPath);
    if (run->compact)
        run->targets.push_back(RunTarget{m_strPath, false});
    else
        for (int i = 0; i < g_nItems; ++i)
            run->targets.push_back(
                RunTarget{g_pFileList->GetItemText(i, 0), g_pFileList->GetItemData(i) == kRowWalked});
    run->row = run->compact ? CheckRun::kSingle : CheckRun::kWalking;
    run->window = m_hWnd;

    s_beforeStart.copyEnabled = GetDlgItem(IDC_COPY).IsWindowEnabled() != FALSE;
    s_beforeStart.copyCaption = GetDlgItemText(IDC_COPY);
    s_beforeStart.digest = m_strMD5;
    GetDlgItem(IDOK).EnableWindow(FALSE);
    GetDlgItem(IDC_STOP).EnableWindow(TRUE);
    GetDlgItem(IDC_OPEN).EnableWindow(FALSE);
    GetDlgItem(IDC_COPY).EnableWindow(FALSE);
    SetDlgItemText(IDC_COPY, texts::kCopy);
    m_strMD5 = L"";
    UpdateData(FALSE);

    s_run = run;
    RaiseTimerResolution();
    g_display.Begin(m_hWnd, g_pFileList->m_hWnd, std::shared_ptr<CRunEvents>(run, &run->events), &CloseRun);
    auto* param = new std::shared_ptr<CheckRun>(run);
    g_hCheckThread = ::CreateThread(nullptr, 0, CheckThreadProc, param, 0, &g_dwCheckThreadId);
    if (!g_hCheckThread) {
        // No thread, no run: it failed.
        delete param;
        CloseRun(RunOutcome{});
    }
}

void CDigestDlg::OnButtonStop() {
    g_bWorking = 0;
    GetDlgItem(IDC_STOP).EnableWindow(FALSE);
    // A thread stuck in a read (a hung share) must not hold the window: its
    // call is asked to return, and if that does not end the run soon, the
    // run is given up (OnTimer).
    if (!s_run) return;
    CancelStuckCall();
    s_stoppedRun = s_run.get();
    ::SetTimer(m_hWnd, kGiveUpTimerId, kStopWaitMs, nullptr);
}

void CDigestDlg::OnCancel() {
    if (g_bWorking.load() != 0 && MessageBox(texts::kExitQuestion, texts::kNotice, MB_YESNO) != IDYES) return;
    // Every checking thread must have ended, or its run be given up, before
    // the window goes. One may sit in a call that does not return (a read
    // from a hung share): the user sees the window gone at once, and the
    // program ends without waiting for that call, as it writes nothing that
    // could be lost.
    g_bWorking = 0;
    RemoveTrayIcon();
    Reap(&s_closedThreads);
    Reap(&s_givenUpThreads);
    if (s_run || !s_closedThreads.empty() || !s_givenUpThreads.empty()) ShowWindow(SW_HIDE);
    const DWORD start = ::GetTickCount();
    // A run given up now is stuck in its call: nobody waits for that.
    const std::vector<HANDLE> givenUpBefore = s_givenUpThreads;
    if (s_run) {
        CancelStuckCall();
        if (::WaitForSingleObject(g_hCheckThread, Left(start, kExitWaitMs)) != WAIT_OBJECT_0) {
            // Stuck in a call, or between two: given up once it is in one.
            while (!GiveUpStuckRun() && ::WaitForSingleObject(g_hCheckThread, 1) != WAIT_OBJECT_0 &&
                   Left(start, kExitDeadlineMs) > 0) {
            }
        }
        // Ended, its closing event not yet shown: closed here.
        CloseRun(RunOutcome{});
    }
    // The threads of closed runs only return; those of runs a Stop gave up
    // may have been only slow. Whatever is still running at the deadline is
    // left to the end of the process.
    WaitForThreads(s_closedThreads, start, kExitDeadlineMs);
    WaitForThreads(givenUpBefore, start, kExitDeadlineMs);
    const bool closedLeft = Reap(&s_closedThreads);
    const bool stuck = Reap(&s_givenUpThreads) || closedLeft;
    CDialog::OnCancel();
    if (stuck) g_pfnEndProcess(0);
}

void CDigestDlg::OnTimer(UINT_PTR id) {
    switch (id) {
    case kDisplayTimerId:
        g_display.OnTimer();
        break;
    case kReapTimerId:
        Reap(&s_givenUpThreads);
        // Each handle is closed once its thread has ended, a given-up one's
        // too (else it stayed open until the next Start).
        if (Reap(&s_closedThreads)) break;
        if (s_givenUpThreads.empty())
            ::KillTimer(m_hWnd, kReapTimerId);
        else
            ::SetTimer(m_hWnd, kReapTimerId, kReapGivenUpEveryMs, nullptr);
        break;
    case kGiveUpTimerId:
        // Only for the run that was stopped, while it is not closed and its
        // thread still works; a thread between two calls gets the next tick.
        if (!s_run || s_run.get() != s_stoppedRun || Ended(g_hCheckThread) || GiveUpStuckRun())
            ::KillTimer(m_hWnd, kGiveUpTimerId);
        else
            ::SetTimer(m_hWnd, kGiveUpTimerId, 1, nullptr);
        break;
    default:
        Default();
        break;
    }
}

LRESULT CDigestDlg::OnRunDisplay(WPARAM wParam, LPARAM lParam) { return g_display.OnMessage(wParam, lParam); }
