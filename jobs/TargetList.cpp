#include "jobs/TargetList.h"

#include <windows.h>

#include <vector>

#include "app/DigestDlg.h"
#include "app/RunDisplay.h"
#include "jobs/FilePath.h"
#include "jobs/JobState.h"

int g_nListed = 0;
CString g_strWork;
std::vector<CString> g_listedPaths;
FileInformationFn g_pfnGetFileInformation = &::GetFileInformationByHandle;

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

// False when the folder has no identity the walk can rely on: it cannot be
// opened, or its file system reports no file index (some network
// redirectors and virtual drives give every folder index 0).
bool GetFolderId(const char* path, FolderId* id) {
    const HANDLE h = ::CreateFileW(ExtendedPathW(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = g_pfnGetFileInformation(h, &info) != FALSE;
    ::CloseHandle(h);
    if (!ok) return false;
    *id = FolderId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return info.nFileIndexHigh != 0 || info.nFileIndexLow != 0;
}

// A row at the end of the list, and the thread's own copy of its path.
void AddRow(const CString& path) {
    g_display.InsertRow(g_nListed, path);
    g_listedPaths.push_back(path);
    ++g_nListed;
}

void RemoveRowsFrom(int row) {
    g_display.DeleteRowsFrom(row);
    g_listedPaths.resize(static_cast<size_t>(row));
    g_nListed = row;
}

void ShowCount() {
    g_strWork.Format("%d", g_nListed);
    g_display.SetText(IDC_LISTCOUNT, g_strWork);
}

}  // namespace

bool IsFolderPath(const char* path) {
    const DWORD attrs = ::GetFileAttributesW(ExtendedPathW(path).c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void ExpandTargetList() {
    g_nListed = 0;
    g_listedPaths.clear();
    s_walkPath.clear();
    g_display.SetText(IDC_LISTSTATUS, "正在初始化文件路径……");

    // Every entry followed by "|", which no Windows path contains; read on
    // the window thread in one go.
    CString gathered;
    const int entries = g_nItems;
    g_display.Call([&] {
        for (int i = 0; i < entries; ++i) {
            gathered += g_pFileList->GetItemText(i, 0);
            gathered += "|";
        }
    });
    // Stopped before anything changed: the list stays as it is.
    if (g_bWorking != 1) return;

    g_display.DeleteRowsFrom(0);
    int next = 0;   // byte offset of the next entry in the gathered text
    int taken = 0;  // entries taken so far
    while (taken < entries && g_bWorking == 1) {
        const int bar = gathered.Find('|', next);  // a real separator, never a trail byte
        if (bar < 0) break;
        g_strWork = CString(gathered.c_str() + next, bar - next);
        next = bar + 1;
        ++taken;
        if (IsFolderPath(g_strWork)) {
            if (g_nItems == 1) g_display.SetText(IDC_LISTCOUNT, "0");
            const CString folder = g_strWork;
            const int rowsBefore = g_nListed;
            CollectFolder(folder);
            if (g_bWorking != 1) {
                // Stopped inside this folder: its rows so far give way to the
                // folder itself, which stays a target as a whole.
                RemoveRowsFrom(rowsBefore);
                AddRow(folder);
            }
        } else {
            AddRow(g_strWork);
            ShowCount();
        }
    }
    if (g_bWorking != 1) {
        // The entries not yet taken stay in the list, so that the next Start
        // checks everything that was dropped.
        for (int bar; taken < entries && (bar = gathered.Find('|', next)) >= 0; ++taken) {
            AddRow(CString(gathered.c_str() + next, bar - next));
            next = bar + 1;
        }
        ShowCount();
    }

    g_nItems = g_nListed;
    g_display.SetText(IDC_LISTSTATUS, "初始化文件路径完毕.");
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

    CFileFind finder;
    if (finder.FindFile(pattern)) {
        for (;;) {
            if (g_bWorking != 1) break;
            const BOOL more = finder.FindNextFile();
            if (finder.IsDirectory()) {
                if (!finder.IsDots()) CollectFolder(finder.GetFilePath());
            } else {
                g_strWork = finder.GetFilePath();
                AddRow(g_strWork);
                ShowCount();
                ::Sleep(1);
            }
            if (!more) break;
        }
    }
    // A folder the search could not list (no access, a name the system
    // cannot take back, a path too long, a failed step) is not passed over
    // in silence: it becomes a row of its own, which the check reports as
    // failed, as it cannot be read as a file.
    if (finder.SearchFailed() && g_bWorking == 1) {
        AddRow(path);
        ShowCount();
    }
    finder.Close();

    if (known) s_walkPath.pop_back();
}
