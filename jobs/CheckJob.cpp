#include "jobs/CheckJob.h"

#include <commctrl.h>
#include <mbstring.h>

#include <memory>

#include "app/DigestDlg.h"
#include "app/RunDisplay.h"
#include "digest/FileDigest.h"
#include "jobs/FilePath.h"
#include "jobs/JobState.h"
#include "jobs/TargetList.h"

TimePeriodFn g_pfnTimeBeginPeriod = &::timeBeginPeriod;
TimePeriodFn g_pfnTimeEndPeriod = &::timeEndPeriod;

namespace {

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

// Waits for the checking thread to end while still carrying out the window
// calls it sends, so that neither thread waits for the other forever.
void WaitForCheckThread() {
    while (s_checkThread) {
        const DWORD r = ::MsgWaitForMultipleObjects(1, &s_checkThread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) break;
        MSG msg;
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // delivers the sent messages
    }
    ReapCheckThread();
}

}  // namespace

bool IsCheckBusy() {
    // A thread past its closing step is only returning: let it finish
    // rather than refuse the user (it takes microseconds).
    if (s_checkThread && s_checkThreadDone) ::WaitForSingleObject(s_checkThread, 1000);
    ReapCheckThread();
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
    auto path = std::make_unique<CString>(m_strPath);
    g_display.Begin(m_hWnd, g_pFileList->m_hWnd);
    g_hCheckThread = ::CreateThread(nullptr, 0, CheckThreadProc, path.get(), 0, &g_dwCheckThreadId);
    if (g_hCheckThread) {
        path.release();
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
}

void CDigestDlg::OnCancel() {
    if (g_bWorking != 0 &&
        MessageBox("程序正在工作，您确定要退出程序吗?", "提示信息", MB_YESNO) != IDYES)
        return;
    // The checking thread must be gone before the window is: stop it and
    // wait, handling its last window calls meanwhile. It may sit in a call
    // that takes long to return (opening a file on an unreachable network
    // share): the user sees the program gone at once.
    g_bWorking = 0;
    RemoveTrayIcon();
    if (!ReapCheckThread()) ShowWindow(SW_HIDE);
    WaitForCheckThread();
    CDialog::OnCancel();
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
    } else {
        Default();
    }
}

LRESULT CDigestDlg::OnRunDisplay(WPARAM wParam, LPARAM lParam) { return g_display.OnMessage(wParam, lParam); }

DWORD WINAPI CheckThreadProc(LPVOID param) {
    const std::unique_ptr<CString> path(static_cast<CString*>(param));
    CDigestDlg* dlg = static_cast<CDigestDlg*>(AfxGetMainWnd());
    char buffer[256] = {};
    g_pfnTimeBeginPeriod(1);

    g_display.Call([dlg] { dlg->SetDlgItemText(IDC_MD5, ""); });
    ExpandTargetList();

    // What the closing step shows in edit 1001 and whether the run completed.
    CString result;
    bool completed = false;
    if (g_bCompact == 1) {
        g_strCurrentFile = *path;
        if (DigestFile(ExtendedPath(*path), reinterpret_cast<unsigned char*>(buffer), 0) == 1) {
            g_bWorking = 0;
            g_display.SetBarPos(IDC_PROGRESS, 1);
        }
        completed = g_bWorking == 1;
        if (completed) {
            result.Format("%s", buffer);
            g_display.SetText(IDC_STATUS, "全文MD5值校验完毕.");
        } else {
            // Failed, or stopped: a digest of part of the file is no result.
            result = kFailed;
            g_display.SetText(IDC_STATUS, "全文MD5值校验失败.");
        }
        g_display.SetText(IDC_STAGE, "3/3");
    } else {
        g_display.SetText(IDC_LISTSTATUS, "正在进行全部文件MD5校验……");
        g_display.SetBarRange(IDC_TOTALPROGRESS, g_nItems);
        CString counter;
        const int rows = static_cast<int>(g_listedPaths.size());
        for (int i = 0; i < g_nItems && g_bWorking == 1;) {
            g_strCurrentFile = i < rows ? g_listedPaths[static_cast<size_t>(i)] : CString();
            // The row keeps the path as listed; the file is opened as the
            // file it is, whatever its name ("nul", "com1", "aux.txt").
            const int digested = DigestFile(ExtendedPath(g_strCurrentFile), reinterpret_cast<unsigned char*>(buffer), 0);
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
            g_display.SetText(IDC_LISTSTATUS, "全部文件全文MD5校验完成.");
            result = "点击复制全部文件MD5校验值";
        } else {
            g_display.SetText(IDC_LISTSTATUS, "全部文件全文MD5校验失败.");
            result = "全部文件全文MD5校验失败";
        }
    }
    g_listedPaths.clear();
    g_listedPaths.shrink_to_fit();

    // Everything recorded reaches the window, then the run ends in one step
    // on the window thread, so that nothing can come between its texts, its
    // buttons and the flag.
    g_display.Flush();
    g_pfnTimeEndPeriod(1);
    g_display.Call([dlg, &result, completed] {
        g_display.End();
        dlg->SetDlgItemText(IDC_MD5, result);
        if (completed) {
            dlg->SetDlgItemText(IDC_COPY, "复制*");
            dlg->GetDlgItem(IDC_COPY).EnableWindow(TRUE);
        }
        dlg->GetDlgItem(IDOK).EnableWindow(TRUE);
        dlg->GetDlgItem(IDC_STOP).EnableWindow(FALSE);
        dlg->GetDlgItem(IDC_OPEN).EnableWindow(TRUE);
        g_bWorking = 0;
        g_hCheckThread = nullptr;
        s_checkThreadDone = true;
    });
    const DWORD id = ::GetCurrentThreadId();
    dlg->PostMessage(WM_CHECKTHREADENDED, id);
    return id;  // the thread's id as its exit code
}
