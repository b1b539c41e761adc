#include "jobs/TargetList.h"

#include <windows.h>

#include <cstring>
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

HMODULE Kernel32() { return ::GetModuleHandleA("kernel32.dll"); }

}  // namespace

FileInformationExFn g_pfnGetFileInformationEx =
    reinterpret_cast<FileInformationExFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(Kernel32(), "GetFileInformationByHandleEx")));

namespace {

// FILE_ID_INFO, and its class number for GetFileInformationByHandleEx
// (Windows 8 and later; the headers offer it only to programs that require
// those).
struct FileIdInfo {
    ULONGLONG volume;
    BYTE id[16];
};
const int kFileIdInfoClass = 18;

// A folder's identity: the same folder reached through a link has the same.
// The 128-bit file id where the system gives one (on ReFS the 64-bit index
// is not unique), else the 64-bit index in its low half.
struct FolderId {
    ULONGLONG volume;
    BYTE id[16];
    bool operator==(const FolderId& o) const {
        return volume == o.volume && std::memcmp(id, o.id, sizeof id) == 0;
    }
};

// A folder on the walk's path, held open while the walk is below it: the
// system promises an identity unique only while a handle is open (some
// network redirectors hand an index out again after a close).
struct OpenFolder {
    FolderId id;
    HANDLE handle;
};

// The walk of one expansion, owned by the thread that runs it.
struct Walk {
    std::vector<OpenFolder> path;
    ~Walk() {
        for (const OpenFolder& f : path) ::CloseHandle(f.handle);
    }
};
thread_local Walk* t_walk = nullptr;

// Opens the folder and reads its identity. False when the folder has no
// identity the walk can rely on: it cannot be opened, or its file system
// reports none (some network redirectors and virtual drives give every
// folder index 0); the handle is then closed. May block (a hung share).
bool OpenFolderId(const char* path, FolderId* id, HANDLE* handle) {
    *handle = ::CreateFileW(ExtendedPathW(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (*handle == INVALID_HANDLE_VALUE) {
        *handle = nullptr;
        return false;
    }
    *id = FolderId{};
    static const BYTE kNone[16] = {};
    FileIdInfo info128{};
    if (g_pfnGetFileInformationEx &&
        g_pfnGetFileInformationEx(*handle, kFileIdInfoClass, &info128, sizeof info128) &&
        std::memcmp(info128.id, kNone, sizeof kNone) != 0) {
        id->volume = info128.volume;
        std::memcpy(id->id, info128.id, sizeof id->id);
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (g_pfnGetFileInformation(*handle, &info) && (info.nFileIndexHigh != 0 || info.nFileIndexLow != 0)) {
        id->volume = info.dwVolumeSerialNumber;
        const ULONGLONG index = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        std::memcpy(id->id, &index, sizeof index);
        return true;
    }
    ::CloseHandle(*handle);
    *handle = nullptr;
    return false;
}

// A row at the end of the list, and the thread's own copy of its path.
void AddRow(const CString& path) {
    if (RunGivenUp()) return;
    g_display.InsertRow(g_nListed, path);
    g_listedPaths.push_back(path);
    ++g_nListed;
}

void RemoveRowsFrom(int row) {
    if (RunGivenUp()) return;
    g_display.DeleteRowsFrom(row);
    g_listedPaths.resize(static_cast<size_t>(row));
    g_nListed = row;
}

void ShowCount() {
    if (RunGivenUp()) return;
    g_strWork.Format("%d", g_nListed);
    g_display.SetText(IDC_LISTCOUNT, g_strWork);
}

}  // namespace

bool IsFolderPath(const char* path) {
    BeginBlockingCall();
    const DWORD attrs = ::GetFileAttributesW(ExtendedPathW(path).c_str());
    if (!EndBlockingCall()) return false;
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void ExpandTargetList() {
    g_nListed = 0;
    g_listedPaths.clear();
    Walk walk;
    t_walk = &walk;
    struct Reset {
        ~Reset() { t_walk = nullptr; }
    } reset;
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
    if (!RunGoesOn()) return;

    g_display.DeleteRowsFrom(0);
    int next = 0;   // byte offset of the next entry in the gathered text
    int taken = 0;  // entries taken so far
    while (taken < entries && RunGoesOn()) {
        const int bar = gathered.Find('|', next);  // a real separator, never a trail byte
        if (bar < 0) break;
        g_strWork = CString(gathered.c_str() + next, bar - next);
        next = bar + 1;
        ++taken;
        const bool folder = IsFolderPath(g_strWork);
        if (RunGivenUp()) return;
        if (folder) {
            if (g_nItems == 1) g_display.SetText(IDC_LISTCOUNT, "0");
            const CString folder = g_strWork;
            const int rowsBefore = g_nListed;
            CollectFolder(folder);
            if (RunGivenUp()) return;
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
    if (RunGivenUp()) return;
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
    Walk* const walk = t_walk;
    // A folder already on the walk's path (reached again through a link)
    // would make the walk endless: it is not entered again, and it becomes a
    // row of its own, so that the user sees it was not walked.
    FolderId id{};
    HANDLE handle = nullptr;
    BeginBlockingCall();
    const bool known = walk != nullptr && OpenFolderId(path, &id, &handle);
    if (!EndBlockingCall()) {
        if (handle) ::CloseHandle(handle);
        return;
    }
    if (known) {
        for (const OpenFolder& seen : walk->path) {
            if (seen.id == id) {
                ::CloseHandle(handle);
                AddRow(path);
                ShowCount();
                return;
            }
        }
        walk->path.push_back(OpenFolder{id, handle});
    }

    CString pattern = path;
    if (pattern.ReverseFind('\\') != pattern.GetLength() - 1) pattern += "\\";  // a drive root has one already
    pattern += "*.*";

    CFileFind finder;
    BeginBlockingCall();
    const BOOL found = finder.FindFile(pattern);
    bool givenUp = !EndBlockingCall();
    if (found && !givenUp) {
        for (;;) {
            if (!RunGoesOn()) break;
            BeginBlockingCall();
            const BOOL more = finder.FindNextFile();
            if (!EndBlockingCall()) {
                givenUp = true;
                break;
            }
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
    if (finder.SearchFailed() && RunGoesOn() && !givenUp) {
        AddRow(path);
        ShowCount();
    }
    finder.Close();

    if (known) {
        ::CloseHandle(walk->path.back().handle);
        walk->path.pop_back();
    }
}
