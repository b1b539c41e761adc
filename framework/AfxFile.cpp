#include "framework/AfxFile.h"

BOOL CFileFind::FindFile(const char* pattern) {
    Close();
    m_failed = FALSE;
    m_hFind = ::FindFirstFileA(pattern, &m_next);
    if (m_hFind == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        m_failed = error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES;
        return FALSE;
    }
    m_hasNext = true;
    const CString text(pattern);
    const int slash = text.ReverseFind('\\');
    m_root = slash >= 0 ? text.Left(slash + 1) : CString();
    return TRUE;
}

BOOL CFileFind::FindNextFile() {
    if (!m_hasNext) return FALSE;
    m_current = m_next;
    m_hasNext = ::FindNextFileA(m_hFind, &m_next) != FALSE;
    if (!m_hasNext && ::GetLastError() != ERROR_NO_MORE_FILES) m_failed = TRUE;
    return m_hasNext ? TRUE : FALSE;
}

void CFileFind::Close() {
    if (m_hFind != INVALID_HANDLE_VALUE) ::FindClose(m_hFind);
    m_hFind = INVALID_HANDLE_VALUE;
    m_hasNext = false;
}

BOOL CFileFind::IsDots() const {
    const char* n = m_current.cFileName;
    return IsDirectory() && n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'));
}

CString CFileFind::GetFilePath() const { return m_root + m_current.cFileName; }
