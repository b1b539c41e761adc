#include "jobs/TargetList.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
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

void ReserveRows(std::vector<CStringW>* rows, size_t count) { rows->reserve(count); }

}  // namespace

ReserveRowsFn g_pfnReserveRows = &ReserveRows;

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

// A row at the end of the list; walked: the walk made it (Start takes it as
// it is next time).
void AddRow(const WalkPath& path, bool walked) {
    if (RunGivenUp()) return;
    std::vector<CStringW>& rows = *t_walk->rows;
    if (rows.size() == rows.capacity()) g_pfnReserveRows(&rows, rows.size() < 64 ? 64 : rows.size() * 2);
    rows.push_back(path.open);
    t_walk->events->InsertRow(g_nListed, path.shown, walked);
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

// A folder the walk is in: its search, and whether its identity is on the
// walk's path (then its handle is the path's last).
struct Frame {
    WalkPath folder;
    std::unique_ptr<CFileFind> finder;
    bool known = false;
    bool listed = false;  // no entry left to take
};

// Begins the walk of a folder. A folder already on the walk's path (reached
// again through a link) would make the walk endless: it is not entered
// again, and it becomes a row of its own, so that the user sees it was not
// walked. False when the run was given up meanwhile.
bool EnterFolder(Walk& walk, WalkPath folder, std::vector<Frame>* stack) {
    FolderId id{};
    HANDLE handle = nullptr;
    BeginBlockingCall();
    const bool known = OpenFolderId(folder.open, &id, &handle);
    if (!EndBlockingCall()) {
        if (handle) ::CloseHandle(handle);
        return false;
    }
    if (known) {
        for (const OpenFolder& seen : walk.path) {
            if (seen.id == id) {
                ::CloseHandle(handle);
                AddRow(folder, true);
                ShowCount();
                return true;
            }
        }
    }
    try {
        stack->push_back(Frame{std::move(folder), std::make_unique<CFileFind>(), false, false});
        if (known) walk.path.push_back(OpenFolder{id, handle});
    } catch (...) {
        if (handle) ::CloseHandle(handle);
        throw;
    }
    stack->back().known = known;
    Frame& frame = stack->back();
    // Every entry: "*" is a plain pattern in the "\\?\" form too.
    const CStringW pattern = Child(frame.folder.open, L"*");
    BeginBlockingCall();
    const BOOL found = frame.finder->FindFile(pattern);
    if (!EndBlockingCall()) return false;
    frame.listed = !found;
    return true;
}

// Ends the walk of the innermost folder. A folder the search could not list
// (no access, a name the system cannot take back, a path too long, a failed
// step) is not passed over in silence: it becomes a row of its own, which
// the check reports as failed, as it cannot be read as a file.
void LeaveFolder(Walk& walk, std::vector<Frame>* stack, bool givenUp) {
    Frame& frame = stack->back();
    if (!givenUp && frame.finder->SearchFailed() && RunGoesOn()) {
        AddRow(frame.folder, true);
        ShowCount();
    }
    frame.finder->Close();
    if (frame.known) {
        ::CloseHandle(walk.path.back().handle);
        walk.path.pop_back();
    }
    stack->pop_back();
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

bool ExpandTargetList(const std::vector<RunTarget>& entries, std::vector<CStringW>* rows, bool* outOfMemory) {
    CRunEvents* const events = ThreadRunEvents();
    rows->clear();
    *outOfMemory = false;
    // Each entry is made full once, here; what the walk finds below it is
    // never made full again.
    std::vector<WalkPath> targets;
    targets.reserve(entries.size());
    for (const RunTarget& entry : entries) targets.push_back(WalkPath{entry.path, ExtendedPath(entry.path)});
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

    size_t taken = 0;     // entries taken so far
    int rowsBefore = 0;   // rows listed before the entry being taken
    bool cut = false;     // stopped, or out of memory, inside that entry
    try {
        while (taken < targets.size() && RunGoesOn()) {
            const WalkPath& entry = targets[taken];
            const bool walked = entries[taken].walked;
            ++taken;
            rowsBefore = g_nListed;
            // A row an earlier walk made stays that row: a folder it did not
            // enter is not entered now either, and a file is a file.
            if (walked) {
                AddRow(entry, true);
                ShowCount();
                continue;
            }
            const bool folder = IsFolderPath(entry.open);
            if (RunGivenUp()) return false;
            if (folder) {
                if (targets.size() == 1) events->SetText(IDC_LISTCOUNT, "0");
                CollectFolder(entry);
                if (RunGivenUp()) return false;
                cut = g_bWorking.load() != 1;
            } else {
                AddRow(entry, false);
                ShowCount();
            }
        }
    } catch (const std::bad_alloc&) {
        // What the walk held is freed by now. The run ends as if stopped
        // here; the rows listed so far stay.
        if (!EndBlockingCall()) return false;
        *outOfMemory = true;
        cut = taken > 0;
    }
    if (RunGivenUp()) return false;
    if (cut) {
        // Cut short inside this entry: its rows so far give way to the entry
        // itself, which stays a target as a whole.
        RemoveRowsFrom(rowsBefore);
        AddRow(targets[taken - 1], entries[taken - 1].walked);
    }
    if (g_bWorking.load() != 1 || *outOfMemory) {
        // The entries not yet taken stay in the list, so that the next Start
        // checks everything that was dropped.
        while (taken < targets.size()) {
            AddRow(targets[taken], entries[taken].walked);
            ++taken;
        }
        ShowCount();
    }
    events->SetText(IDC_LISTSTATUS, texts::kWalked);
    return !RunGivenUp();
}

void CollectFolder(WalkPath folder) {
    Walk* const walk = t_walk;
    if (!walk) return;
    // The folders the walk is in, innermost last: held here rather than on
    // the thread's stack, so that no depth of folders can exhaust it.
    std::vector<Frame> stack;
    // Memory running out leaves the frames to their destructors and the
    // folders' handles to the walk's path, which the expansion closes.
    bool givenUp = !EnterFolder(*walk, std::move(folder), &stack);
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (givenUp || top.listed || !RunGoesOn()) {
            LeaveFolder(*walk, &stack, givenUp);
            continue;
        }
        BeginBlockingCall();
        const BOOL more = top.finder->FindNextFile();
        if (!EndBlockingCall()) {
            givenUp = true;
            continue;
        }
        if (!more) top.listed = true;
        if (top.finder->IsDots()) continue;
        const CStringW name = top.finder->GetFileName();
        WalkPath found{Child(top.folder.shown, name), Child(top.folder.open, name)};
        if (top.finder->IsDirectory()) {
            // Depth first: everything below it is listed where it is met.
            if (!EnterFolder(*walk, std::move(found), &stack)) givenUp = true;
        } else {
            AddRow(found, true);
            ShowCount();
            ::Sleep(1);
        }
    }
}
