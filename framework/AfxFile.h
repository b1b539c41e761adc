// CFileFind: a folder search (FindFirstFileW/FindNextFileW) with the entry
// made current by the last FindNextFile. Names come back exactly as the
// system holds them.
#pragma once
#include <windows.h>

#include "framework/AfxString.h"

// The system's FindNextFileW unless replaced (tests imitate a listing that
// breaks off part-way, as on a share that goes away).
using FindNextFileFn = BOOL(WINAPI*)(HANDLE, LPWIN32_FIND_DATAW);
extern FindNextFileFn g_pfnFindNextFile;

class CFileFind {
public:
    CFileFind() = default;
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;
    ~CFileFind() { Close(); }

    // Starts a search; TRUE when at least one entry matches. The first entry
    // becomes current with the first FindNextFile.
    BOOL FindFile(const wchar_t* pattern);
    // Makes the next entry current; FALSE when that entry is the last one
    // (it is still current and valid).
    BOOL FindNextFile();
    void Close();
    // TRUE when the search could not list the folder completely: FindFile
    // failed, or a FindNextFile failed, for a reason other than there being
    // no (more) entries.
    BOOL SearchFailed() const { return m_failed; }

    BOOL IsDots() const;
    BOOL IsDirectory() const { return (m_current.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    // The current entry's name.
    CStringW GetFileName() const { return CStringW(m_current.cFileName); }

private:
    HANDLE m_hFind = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW m_next{};
    WIN32_FIND_DATAW m_current{};
    bool m_hasNext = false;
    BOOL m_failed = FALSE;
};
