// How long Wine itself takes to walk a deep chain of folders: the reference
// for the walk's cost at depth. A Windows console program, run under Wine by
// hand or by scripts/bench (not a test).
//
// It walks the folder depth first with FindFirstFileW/FindNextFileW on
// "\\?\" paths (as the program does, so that any depth can be reached),
// and for every folder it enters, opens the folder and asks its identity
// (as the program does to recognise a link back). Nothing else: no pause,
// no digest.
//
// Usage: chain_walker FOLDER   (a full path)
// Prints the folders and files found and the time taken.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: chain_walker FOLDER\n");
        return 2;
    }
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    long folders = 0, files = 0;
    std::vector<std::wstring> pending{std::wstring(L"\\\\?\\") + argv[1]};
    while (!pending.empty()) {
        const std::wstring folder = pending.back();
        pending.pop_back();
        ++folders;
        HANDLE h = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION info;
            GetFileInformationByHandle(h, &info);
            CloseHandle(h);
        }
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                pending.push_back(folder + L"\\" + name);
            else
                ++files;
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    QueryPerformanceCounter(&t1);
    const double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart);
    std::printf("%ld folders, %ld files in %.1f ms\n", folders, files, ms);
    std::printf("RESULT chain_walk_ms=%.1f\n", ms);
    return 0;
}
