#include "framework/AfxFile.h"

FindNextFileFn g_pfnFindNextFile = &::FindNextFileW;

BOOL CFileFind::FindFile(const wchar_t* pattern) {
    Close();
    m_failed = FALSE;
    m_hFind = ::FindFirstFileW(pattern, &m_next);
    if (m_hFind == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        m_failed = error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES;
        return FALSE;
    }
    m_hasNext = true;
    return TRUE;
}

BOOL CFileFind::FindNextFile() {
    if (!m_hasNext) return FALSE;
    m_current = m_next;
    m_hasNext = g_pfnFindNextFile(m_hFind, &m_next) != FALSE;
    if (!m_hasNext && ::GetLastError() != ERROR_NO_MORE_FILES) m_failed = TRUE;
    return m_hasNext ? TRUE : FALSE;
}

void CFileFind::Close() {
    if (m_hFind != INVALID_HANDLE_VALUE) ::FindClose(m_hFind);
    m_hFind = INVALID_HANDLE_VALUE;
    m_hasNext = false;
}

BOOL CFileFind::IsDots() const {
    const wchar_t* n = m_current.cFileName;
    return IsDirectory() && n[0] == L'.' && (n[1] == L'\0' || (n[1] == L'.' && n[2] == L'\0'));
}
