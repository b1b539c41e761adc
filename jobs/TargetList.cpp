#include "jobs/TargetList.h"

#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "app/DigestDlg.h"
#include "jobs/JobState.h"

int g_nListed = 0;
CString g_strWork;

namespace {

// A folder's identity: the same folder reached through a link has the same.
struct FolderId {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    bool operator==(const FolderId& o) const {
        return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow;
    }
};

// Folders on the path from the walk's start to the folder being searched.
std::vector<FolderId> s_walkPath;

bool GetFolderId(const char* path, FolderId* id) {
    const HANDLE h = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = ::GetFileInformationByHandle(h, &info) != FALSE;
    ::CloseHandle(h);
    if (ok) *id = FolderId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return ok;
}

// The list is not redrawn while rows go in: a list control that redraws
// updates its scroll bars and header on every insertion, which under Wine
// costs the window thread 20 ms and more per row. The rows are shown every
// quarter second meanwhile, and at the end.
const DWORD kShowRowsMs = 250;
DWORD s_lastShown = 0;

void ShowRows(bool keepGoing) {
    g_pFileList->SendMessage(WM_SETREDRAW, TRUE);
    ::InvalidateRect(g_pFileList->m_hWnd, nullptr, TRUE);
    if (keepGoing) g_pFileList->SendMessage(WM_SETREDRAW, FALSE);
    s_lastShown = ::GetTickCount();
}

void InsertFileRow(const CString& path) {
    g_pFileList->InsertItem(LVIF_TEXT, g_nListed, path, 0, 0, 0, 0);
    ++g_nListed;
    if (::GetTickCount() - s_lastShown >= kShowRowsMs) ShowRows(true);
}

}  // namespace

bool IsFolderPath(const char* path) {
    const DWORD attrs = ::GetFileAttributesA(path);
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void ExpandTargetList() {
    CWnd* dlg = AfxGetMainWnd();
    CString gathered;
    g_nListed = 0;
    s_walkPath.clear();
    dlg->SetDlgItemText(IDC_LISTSTATUS, "正在初始化文件路径……");

    // Every entry followed by "|", which no Windows path contains.
    for (int i = 0; i < g_nItems && g_bWorking == 1; ++i) {
        gathered += g_pFileList->GetItemText(i, 0);
        gathered += "|";
    }

    g_pFileList->SendMessage(LVM_DELETEALLITEMS);
    g_pFileList->SendMessage(WM_SETREDRAW, FALSE);
    s_lastShown = ::GetTickCount();

    for (int j = 0; j < g_nItems && g_bWorking == 1; ++j) {
        const int p = gathered.Find('|');  // a real separator, never a trail byte
        if (p < 0) break;
        g_strWork = gathered.Left(p);
        gathered = gathered.Right(gathered.GetLength() - p - 1);
        if (IsFolderPath(g_strWork)) {
            if (g_nItems == 1) dlg->SetDlgItemText(IDC_LISTCOUNT, "0");
            CollectFolder(g_strWork);
        } else {
            InsertFileRow(g_strWork);
            g_strWork.Format("%d", g_nListed);
            dlg->SetDlgItemText(IDC_LISTCOUNT, g_strWork);
        }
    }

    ShowRows(false);
    g_nItems = g_nListed;
    dlg->SetDlgItemText(IDC_LISTSTATUS, "初始化文件路径完毕.");
}

void CollectFolder(CString path) {
    // A folder already on the walk's path (reached again through a link)
    // would make the walk endless: it is not entered again.
    FolderId id{};
    const bool known = GetFolderId(path, &id);
    if (known) {
        for (const FolderId& seen : s_walkPath)
            if (seen == id) return;
        s_walkPath.push_back(id);
    }

    CString pattern = path;
    if (pattern.ReverseFind('\\') != pattern.GetLength() - 1) pattern += "\\";  // a drive root has one already
    pattern += "*.*";

    CWnd* dlg = AfxGetMainWnd();
    CFileFind finder;
    if (finder.FindFile(pattern)) {
        for (;;) {
            if (g_bWorking != 1) break;
            const BOOL more = finder.FindNextFile();
            if (finder.IsDirectory()) {
                if (!finder.IsDots()) CollectFolder(finder.GetFilePath());
            } else {
                g_strWork = finder.GetFilePath();
                InsertFileRow(g_strWork);
                g_strWork.Format("%d", g_nListed);
                dlg->SetDlgItemText(IDC_LISTCOUNT, g_strWork);
                ::Sleep(1);
            }
            if (!more) break;
        }
    }
    finder.Close();

    if (known) s_walkPath.pop_back();
}
