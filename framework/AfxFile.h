// CFileFind: a folder search (FindFirstFile/FindNextFile) with the entry
// made current by the last FindNextFile.
#pragma once
#include <windows.h>

#include "framework/AfxString.h"

class CFileFind {
public:
    CFileFind() = default;
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;
    ~CFileFind() { Close(); }

    // Starts a search; TRUE when at least one entry matches. The first entry
    // becomes current with the first FindNextFile.
    BOOL FindFile(const char* pattern);
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
    // The folder part of the pattern followed by the entry's name.
    CString GetFilePath() const;

private:
    HANDLE m_hFind = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA m_next{};
    WIN32_FIND_DATAA m_current{};
    bool m_hasNext = false;
    BOOL m_failed = FALSE;
    CString m_root;  // folder of the pattern, with its trailing backslash
};
