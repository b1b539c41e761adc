#include "intake/OpenFile.h"

#include <commctrl.h>
#include <commdlg.h>

#include "app/DigestDlg.h"
#include "app/Texts.h"
#include "jobs/JobState.h"
#include "jobs/RunController.h"

BOOL ChooseFile(char* path, const char* filter) {
    OPENFILENAMEA ofn{};
    // The record's early form, without the fields of later platform versions.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = AfxGetMainWnd()->m_hWnd;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    path[0] = '\0';
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_READONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    return ::GetOpenFileNameA(&ofn);
}

void CDigestDlg::OnButtonOpen() {
    char path[MAX_PATH];
    if (!ChooseFile(path, texts::kOpenFilter)) return;
    // While the dialog was open a dropped file may have started a run: the
    // panel is the run's now, and the choice is dropped.
    if (RunInProgress()) return;

    GetDlgItem(IDC_COPY).EnableWindow(FALSE);
    SetDlgItemText(IDC_PATH, path);
    SetDlgItemText(IDC_MD5, "");
    m_progress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 1));
    m_progress.SendMessage(PBM_SETPOS, 0);
    SetDlgItemText(IDC_COPY, texts::kCopy);
    SetDlgItemText(IDC_STAGE, texts::kStage0);
    SetDlgItemText(IDC_STATUS, texts::kReady);
    if (g_bCompact == 0) SetCompactMode(1);
}
