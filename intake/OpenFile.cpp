#include "intake/OpenFile.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "app/DigestDlg.h"
#include "app/Texts.h"
#include "jobs/JobState.h"
#include "jobs/RunController.h"

namespace {
// Room for the longest path the system knows (32,767 characters).
const DWORD kPathRoom = 32768;
}  // namespace

BOOL ChooseFile(wchar_t* path, DWORD size, const wchar_t* filter) {
    OPENFILENAMEW ofn{};
    // The record's early form, without the fields of later platform versions.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.hwndOwner = AfxGetMainWnd()->m_hWnd;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    path[0] = L'\0';
    ofn.lpstrFile = path;
    ofn.nMaxFile = size;
    ofn.Flags = OFN_READONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    return ::GetOpenFileNameW(&ofn);
}

void CDigestDlg::OnButtonOpen() {
    std::vector<wchar_t> path(kPathRoom);
    // The whole list of texts, its zero bytes and the final extra zero included.
    const CStringW filter = AfxText(texts::kOpenFilter, static_cast<int>(sizeof texts::kOpenFilter));
    if (!ChooseFile(path.data(), kPathRoom, filter)) return;
    // While the dialog was open a dropped file may have started a run: the
    // panel is the run's now, and the choice is dropped.
    if (RunInProgress()) return;

    GetDlgItem(IDC_COPY).EnableWindow(FALSE);
    SetDlgItemText(IDC_PATH, path.data());
    SetDlgItemText(IDC_MD5, "");
    m_progress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 1));
    m_progress.SendMessage(PBM_SETPOS, 0);
    SetDlgItemText(IDC_COPY, texts::kCopy);
    SetDlgItemText(IDC_STAGE, texts::kStage0);
    SetDlgItemText(IDC_STATUS, texts::kReady);
    if (g_bCompact == 0) SetCompactMode(1);
}
