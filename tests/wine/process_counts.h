// Counts of the test process's own resources, for leak and thread checks.
//
// Wine 8 answers GetProcessHandleCount with 0 and GetGuiResources with 0, so
// where they give nothing the counts come from what Wine does keep: the
// system's handle list (NtQuerySystemInformation, class 16) for handles, the
// GDI handle table that the process environment block points to for GDI
// objects, and the process's windows for USER objects.
#pragma once
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

namespace counts {

// Threads of this process, from a Toolhelp snapshot.
inline int Threads() {
    const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 te{};
    te.dwSize = sizeof te;
    int n = 0;
    const DWORD self = GetCurrentProcessId();
    if (Thread32First(snap, &te)) {
        do {
            if (te.th32OwnerProcessID == self) ++n;
        } while (Thread32Next(snap, &te));
    }
    CloseHandle(snap);
    return n;
}

namespace detail {

struct HandleEntry {  // SYSTEM_HANDLE_TABLE_ENTRY_INFO
    USHORT processId;
    USHORT backTraceIndex;
    UCHAR objectType;
    UCHAR attributes;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
struct HandleList {
    ULONG count;
    HandleEntry entries[1];
};
typedef LONG(NTAPI* QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);

inline long HandlesFromSystemList() {
    const auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<char> buf(1 << 20);
    for (int tries = 0; tries < 8; ++tries) {
        ULONG len = 0;
        const LONG status = query(16, buf.data(), static_cast<ULONG>(buf.size()), &len);
        if (status == static_cast<LONG>(0xC0000004L)) {  // buffer too small
            buf.resize(buf.size() * 2);
            continue;
        }
        if (status != 0) return -1;
        const auto* list = reinterpret_cast<const HandleList*>(buf.data());
        const USHORT self = static_cast<USHORT>(GetCurrentProcessId());
        long n = 0;
        for (ULONG i = 0; i < list->count; ++i)
            if (list->entries[i].processId == self) ++n;
        // The list was taken through no handle of ours, so n is the count.
        return n;
    }
    return -1;
}

// Wine's GDI handle table entry (24 bytes); a live object has a non-zero type.
struct GdiEntry {
    unsigned long long object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    unsigned long long user;
};

inline long GdiFromTable() {
#if defined(_WIN64)
    // The process environment block; its GdiSharedHandleTable field is at 0xF8 on x64.
    typedef LONG(NTAPI * QueryProcess)(HANDLE, int, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryProcess>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    struct {
        PVOID reserved1;
        const char* peb;
        PVOID reserved2[2];
        ULONG_PTR pid;
        PVOID reserved3;
    } basic{};  // PROCESS_BASIC_INFORMATION
    if (!query || query(GetCurrentProcess(), 0, &basic, sizeof basic, nullptr) != 0 || !basic.peb) return -1;
    const char* peb = basic.peb;
    const auto* table = *reinterpret_cast<GdiEntry* const*>(peb + 0xF8);
    if (!table) return -1;
    long n = 0;
    for (int i = 0; i < 16384; ++i)
        if (table[i].type) ++n;
    return n;
#else
    return -1;
#endif
}

struct WindowCount {
    DWORD pid;
    long n;
};

inline BOOL CALLBACK CountChild(HWND, LPARAM l) {
    ++reinterpret_cast<WindowCount*>(l)->n;
    return TRUE;
}

inline BOOL CALLBACK CountTop(HWND h, LPARAM l) {
    auto* c = reinterpret_cast<WindowCount*>(l);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == c->pid) {
        ++c->n;
        EnumChildWindows(h, CountChild, l);
    }
    return TRUE;
}

}  // namespace detail

// Open handles of this process.
inline long Handles() {
    DWORD n = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &n) && n != 0) return static_cast<long>(n);
    return detail::HandlesFromSystemList();
}

// GDI objects of this process.
inline long GdiObjects() {
    const DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    return n != 0 ? static_cast<long>(n) : detail::GdiFromTable();
}

// USER objects of this process, or (where they are not reported) its windows,
// top-level and child windows alike, message-only windows not included.
inline long UserObjects() {
    const DWORD n = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (n != 0) return static_cast<long>(n);
    detail::WindowCount c{GetCurrentProcessId(), 0};
    EnumWindows(detail::CountTop, reinterpret_cast<LPARAM>(&c));
    return c.n;
}

// Committed private memory of this process, in bytes.
inline size_t PagefileUsage() {
    PROCESS_MEMORY_COUNTERS pm{};
    pm.cb = sizeof pm;
    GetProcessMemoryInfo(GetCurrentProcess(), &pm, sizeof pm);
    return pm.PagefileUsage;
}

struct Snapshot {
    long handles, gdi, user;
};

inline Snapshot Take() { return Snapshot{Handles(), GdiObjects(), UserObjects()}; }

}  // namespace counts
