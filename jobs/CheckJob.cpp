#include "jobs/CheckJob.h"

#include <commctrl.h>
#include <mbstring.h>

#include <memory>

#include "app/DigestDlg.h"
#include "digest/file_digest.h"
#include "jobs/JobState.h"
#include "jobs/TargetList.h"

namespace {

// The window thread's own handle of the checking thread, closed when the
// thread has ended. g_hCheckThread is the same handle as the thread sees it:
// the thread clears that one at its end.
HANDLE s_checkThread = nullptr;

const char kPlaceholderOneFolder[] = "一个文件夹";
const char kPlaceholderSeveral[] = "多个文件夹及文件";
const char kFailed[] = "全文MD5值校验失败";
// The failure text padded with blanks to the width of a digest (32 bytes).
const char kFailedRow[] = "全文MD5值校验失败               ";

bool SameText(const CString& a, const char* b) {
    return _mbscmp(reinterpret_cast<const unsigned char*>(a.c_str()),
                   reinterpret_cast<const unsigned char*>(b)) == 0;
}

// Closes the handle of a checking thread that has ended.
void ReapCheckThread() {
    if (s_checkThread && ::WaitForSingleObject(s_checkThread, 0) == WAIT_OBJECT_0) {
        ::CloseHandle(s_checkThread);
        s_checkThread = nullptr;
    }
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
    ReapCheckThread();
    return g_bWorking != 0 || s_checkThread != nullptr;
}

void CDigestDlg::OnOK() {
    // Start is disabled while a run is active; Enter and a single dropped
    // file come here too, and must not start a second thread either.
    if (IsCheckBusy()) return;

    g_bWorking = 1;
    UpdateData(TRUE);
    const bool accepted = m_finder.FindFile(m_strPath) || SameText(m_strPath, kPlaceholderOneFolder) ||
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
    g_hCheckThread = ::CreateThread(nullptr, 0, CheckThreadProc, path.get(), 0, &g_dwCheckThreadId);
    if (g_hCheckThread) {
        path.release();
        s_checkThread = g_hCheckThread;
    } else {
        // No thread, no run: back to idle.
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
    // wait, handling its last window calls meanwhile.
    g_bWorking = 0;
    WaitForCheckThread();
    RemoveTrayIcon();
    CDialog::OnCancel();
}

void CDigestDlg::OnCheckThreadEnded() { WaitForCheckThread(); }

DWORD WINAPI CheckThreadProc(LPVOID param) {
    const std::unique_ptr<CString> path(static_cast<CString*>(param));
    CDigestDlg* dlg = static_cast<CDigestDlg*>(AfxGetMainWnd());
    const CWnd& bar = dlg->m_progress;
    char buffer[256] = {};

    dlg->SetDlgItemText(IDC_MD5, "");
    ExpandTargetList();

    if (g_bCompact == 1) {
        g_strCurrentFile = *path;
        if (DigestFile(*path, reinterpret_cast<unsigned char*>(buffer), 0) == 1) {
            g_bWorking = 0;
            bar.SendMessage(PBM_SETPOS, 1);
            dlg->SetDlgItemText(IDC_MD5, kFailed);
        } else {
            CString digest;
            digest.Format("%s", buffer);
            dlg->SetDlgItemText(IDC_MD5, digest);
        }
        if (g_bWorking == 0) {
            // Failed, or stopped: a digest of part of the file is no result.
            dlg->SetDlgItemText(IDC_MD5, kFailed);
            dlg->SetDlgItemText(IDC_STATUS, "全文MD5值校验失败.");
        } else {
            dlg->SetDlgItemText(IDC_COPY, "复制*");
            dlg->SetDlgItemText(IDC_STATUS, "全文MD5值校验完毕.");
            dlg->GetDlgItem(IDC_COPY).EnableWindow(TRUE);
        }
        dlg->SetDlgItemText(IDC_STAGE, "3/3");
    } else {
        dlg->SetDlgItemText(IDC_LISTSTATUS, "正在进行全部文件MD5校验……");
        g_pTotalProgress->SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, g_nItems & 0xFFFF));
        CString counter;
        for (int i = 0; i < g_nItems && g_bWorking == 1;) {
            g_strCurrentFile = g_pFileList->GetItemText(i, 0);
            const int result = DigestFile(g_strCurrentFile, reinterpret_cast<unsigned char*>(buffer), 0);
            const char* status;
            if (result == 1) {
                bar.SendMessage(PBM_SETPOS, 1);
                g_pFileList->SetItemText(i, 1, kFailedRow);
                status = "全文MD5值校验失败.";
            } else if (g_bWorking != 1) {
                // Stopped inside this file: what was read is not its digest.
                g_pFileList->SetItemText(i, 1, kFailedRow);
                status = "全文MD5值校验失败.";
            } else {
                g_strCurrentFile.Format("%s", buffer);
                g_pFileList->SetItemText(i, 1, g_strCurrentFile);
                status = "全文MD5值校验完毕.";
            }
            dlg->SetDlgItemText(IDC_STATUS, status);
            dlg->SetDlgItemText(IDC_STAGE, "3/3");
            ++i;
            g_pTotalProgress->SendMessage(PBM_SETPOS, i);
            counter.Format("%d/%d", i, g_nItems);
            dlg->SetDlgItemText(IDC_LISTCOUNT, counter);
        }
        if (g_bWorking == 0) {
            dlg->SetDlgItemText(IDC_LISTSTATUS, "全部文件全文MD5校验失败.");
            dlg->SetDlgItemText(IDC_MD5, "全部文件全文MD5校验失败");
        } else {
            dlg->SetDlgItemText(IDC_COPY, "复制*");
            dlg->SetDlgItemText(IDC_LISTSTATUS, "全部文件全文MD5校验完成.");
            dlg->SetDlgItemText(IDC_MD5, "点击复制全部文件MD5校验值");
            dlg->GetDlgItem(IDC_COPY).EnableWindow(TRUE);
        }
    }

    dlg->GetDlgItem(IDOK).EnableWindow(TRUE);
    dlg->GetDlgItem(IDC_STOP).EnableWindow(FALSE);
    dlg->GetDlgItem(IDC_OPEN).EnableWindow(TRUE);
    g_bWorking = 0;
    g_hCheckThread = nullptr;
    dlg->PostMessage(WM_CHECKTHREADENDED);
    return ::GetCurrentThreadId();  // the thread's id as its exit code
}
