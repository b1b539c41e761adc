#include "jobs/TargetList.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "app/RunDisplay.h"
#include "app/Texts.h"
#include "framework/AfxFile.h"
#include "jobs/FilePath.h"
#include "jobs/RunFlag.h"
#include "res/resource.h"

int g_nListed = 0;
CString g_strWork;
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

// The walk of one expansion, owned by the thread that runs it: the rows it
// made, and the folders it is in.
struct Walk {
    std::vector<CStringW>* rows;
    CRunEvents* events;
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
bool OpenFolderId(const CStringW& path, FolderId* id, HANDLE* handle) {
    *handle = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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

// A row at the end of the list.
void AddRow(const WalkPath& path) {
    if (RunGivenUp()) return;
    t_walk->events->InsertRow(g_nListed, path.shown);
    t_walk->rows->push_back(path.open);
    ++g_nListed;
}

void RemoveRowsFrom(int row) {
    if (RunGivenUp()) return;
    t_walk->events->DeleteRowsFrom(row);
    t_walk->rows->resize(static_cast<size_t>(row));
    g_nListed = row;
}

void ShowCount() {
    if (RunGivenUp()) return;
    g_strWork.Format("%d", g_nListed);
    t_walk->events->SetText(IDC_LISTCOUNT, g_strWork);
}

// path + "\\" + name; a drive's root ends in a backslash already.
CStringW Child(const CStringW& path, const CStringW& name) {
    const int last = path.GetLength() - 1;
    return (last >= 0 && path[last] == L'\\' ? path : path + L"\\") + name;
}

}  // namespace

bool IsFolderPath(const wchar_t* path) {
    // What the call needs is made first: a run given up during the call
    // touches nothing shared afterwards.
    const CStringW copy(path);
    BeginBlockingCall();
    const DWORD attrs = ::GetFileAttributesW(copy);
    if (!EndBlockingCall()) return false;
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ExpandTargetList(const std::vector<CStringW>& entries, std::vector<CStringW>* rows) {
    CRunEvents* const events = ThreadRunEvents();
    rows->clear();
    // Each entry is made full once, here; what the walk finds below it is
    // never made full again.
    std::vector<WalkPath> targets;
    targets.reserve(entries.size());
    for (const CStringW& entry : entries) targets.push_back(WalkPath{entry, ExtendedPath(entry)});
    // Stopped before anything changed: the list stays as it is.
    if (!RunGoesOn()) {
        for (const WalkPath& t : targets) rows->push_back(t.open);
        return !RunGivenUp();
    }
    g_nListed = 0;
    Walk walk{rows, events, {}};
    t_walk = &walk;
    struct Reset {
        ~Reset() { t_walk = nullptr; }
    } reset;
    events->SetText(IDC_LISTSTATUS, texts::kWalking);
    events->DeleteRowsFrom(0);

    size_t taken = 0;  // entries taken so far
    while (taken < targets.size() && RunGoesOn()) {
        const WalkPath& entry = targets[taken++];
        const bool folder = IsFolderPath(entry.open);
        if (RunGivenUp()) return false;
        if (folder) {
            if (targets.size() == 1) events->SetText(IDC_LISTCOUNT, "0");
            const int rowsBefore = g_nListed;
            CollectFolder(entry);
            if (RunGivenUp()) return false;
            if (g_bWorking.load() != 1) {
                // Stopped inside this folder: its rows so far give way to the
                // folder itself, which stays a target as a whole.
                RemoveRowsFrom(rowsBefore);
                AddRow(entry);
            }
        } else {
            AddRow(entry);
            ShowCount();
        }
    }
    if (RunGivenUp()) return false;
    if (g_bWorking.load() != 1) {
        // The entries not yet taken stay in the list, so that the next Start
        // checks everything that was dropped.
        while (taken < targets.size()) AddRow(targets[taken++]);
        ShowCount();
    }
    events->SetText(IDC_LISTSTATUS, texts::kWalked);
    return !RunGivenUp();
}

void CollectFolder(WalkPath folder) {
    Walk* const walk = t_walk;
    // A folder already on the walk's path (reached again through a link)
    // would make the walk endless: it is not entered again, and it becomes a
    // row of its own, so that the user sees it was not walked.
    FolderId id{};
    HANDLE handle = nullptr;
    BeginBlockingCall();
    const bool known = walk != nullptr && OpenFolderId(folder.open, &id, &handle);
    if (!EndBlockingCall()) {
        if (handle) ::CloseHandle(handle);
        return;
    }
    if (known) {
        for (const OpenFolder& seen : walk->path) {
            if (seen.id == id) {
                ::CloseHandle(handle);
                AddRow(folder);
                ShowCount();
                return;
            }
        }
        walk->path.push_back(OpenFolder{id, handle});
    }

    // Every entry: "*" is a plain pattern in the "\\?\" form too.
    const CStringW pattern = Child(folder.open, L"*");
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
            if (!finder.IsDots()) {
                const CStringW name = finder.GetFileName();
                const WalkPath found{Child(folder.shown, name), Child(folder.open, name)};
                if (finder.IsDirectory()) {
                    CollectFolder(found);
                } else {
                    AddRow(found);
                    ShowCount();
                    ::Sleep(1);
                }
            }
            if (!more) break;
        }
    }
    // A folder the search could not list (no access, a name the system
    // cannot take back, a path too long, a failed step) is not passed over
    // in silence: it becomes a row of its own, which the check reports as
    // failed, as it cannot be read as a file.
    if (finder.SearchFailed() && RunGoesOn() && !givenUp) {
        AddRow(folder);
        ShowCount();
    }
    finder.Close();

    if (known) {
        ::CloseHandle(walk->path.back().handle);
        walk->path.pop_back();
    }
}
