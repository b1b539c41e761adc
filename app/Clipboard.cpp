// Copy: the results of the last run as text on the clipboard.
#include "app/Clipboard.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "app/DigestDlg.h"
#include "app/Texts.h"
#include "jobs/JobState.h"

OpenClipboardFn g_pfnOpenClipboard = &::OpenClipboard;
GlobalAllocFn g_pfnGlobalAlloc = &::GlobalAlloc;

namespace {

// Another program may hold the clipboard for a moment (clipboard history, a
// remote desktop's clipboard sync): that many tries, this far apart, before
// a copy counts as failed.
const int kOpenAttempts = 5;
const DWORD kOpenRetryMs = 20;

// The part after the last backslash, or the whole path without one.
CStringW FileNameOf(const CStringW& path) {
    const int slash = path.ReverseFind(L'\\');
    return slash < 0 ? path : path.Mid(slash + 1);
}

// A locale whose ANSI code page is the system's, the code page of the text.
LCID TextLocale() {
    const LCID system = ::GetSystemDefaultLCID();
    char acp[8] = {};
    if (::GetLocaleInfoA(system, LOCALE_IDEFAULTANSICODEPAGE, acp, sizeof acp) > 0 &&
        static_cast<UINT>(std::atoi(acp)) == ::GetACP())
        return system;
    if (::GetACP() == 936) return MAKELCID(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), SORT_DEFAULT);
    return system;
}

bool OpenClipboardPatiently(HWND owner) {
    for (int attempt = 1;; ++attempt) {
        if (g_pfnOpenClipboard(owner)) return true;
        if (attempt == kOpenAttempts) return false;
        ::Sleep(kOpenRetryMs);
    }
}

// A movable block (what clipboard data must be) holding size bytes of data;
// null when no memory is to be had.
HGLOBAL MakeBlock(const void* data, SIZE_T size) {
    HGLOBAL block = g_pfnGlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    void* dest = ::GlobalLock(block);
    if (!dest) {
        ::GlobalFree(block);
        return nullptr;
    }
    std::memcpy(dest, data, size);
    ::GlobalUnlock(block);
    return block;
}

}  // namespace

int CopyTextToClipboard(const wchar_t* text, HWND owner) {
    // Everything is made before the clipboard is touched: what it holds is
    // taken away only when the new text is ready to take its place. The
    // Unicode text holds every name exactly; the ANSI one is what programs
    // that ask for plain text get, in the system's code page.
    const SIZE_T chars = static_cast<SIZE_T>(std::wcslen(text)) + 1;
    HGLOBAL unicode = MakeBlock(text, chars * sizeof(wchar_t));
    // No best fit: a character the code page cannot write becomes "?", never
    // a look-alike ("\uff41.txt" is not "a.txt", which names another file).
    const int bytes = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, static_cast<int>(chars), nullptr, 0,
                                            nullptr, nullptr);
    std::string ansiText(static_cast<size_t>(bytes > 0 ? bytes : 1), '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, static_cast<int>(chars), &ansiText[0], bytes,
                              nullptr, nullptr);
    HGLOBAL ansi = unicode ? MakeBlock(ansiText.data(), ansiText.size()) : nullptr;
    // The code page of the ANSI text: without it the system would take it
    // for the input language's when a program asks for it as Unicode.
    const LCID lcid = TextLocale();
    HGLOBAL locale = ansi ? MakeBlock(&lcid, sizeof lcid) : nullptr;
    const auto release = [&] {
        for (HGLOBAL block : {unicode, ansi, locale})
            if (block) ::GlobalFree(block);
    };
    if (!locale || !OpenClipboardPatiently(owner)) {
        release();
        return 0;
    }
    ::EmptyClipboard();
    // The system owns a block only once it has taken it.
    if (!::SetClipboardData(CF_UNICODETEXT, unicode)) {
        release();
        ::CloseClipboard();
        return 0;
    }
    if (!::SetClipboardData(CF_TEXT, ansi)) ::GlobalFree(ansi);
    if (!::SetClipboardData(CF_LOCALE, locale)) ::GlobalFree(locale);
    ::CloseClipboard();
    return 1;
}

void CDigestDlg::OnButtonCopy() {
    CStringW text;
    if (g_bCompact) {
        UpdateData(TRUE);
        text = m_strMD5 + L" " + FileNameOf(m_strPath);
        UpdateData(FALSE);
    } else {
        // Asked at every copy; only Yes keeps the paths.
        const bool withPaths = MessageBox(texts::kCopyQuestion, texts::kNotice, MB_YESNO) == IDYES;
        for (int i = 0; i < g_nItems; ++i) {
            const CStringW path = g_pFileList->GetItemText(i, 0);
            text += g_pFileList->GetItemText(i, 1);
            text += L" ";
            text += withPaths ? path : FileNameOf(path);
            text += L"\r\n";
        }
    }
    // Opened for the main window: with no owner, the clipboard would be
    // emptied without one, and the system may refuse the text then.
    if (!CopyTextToClipboard(text, m_hWnd)) {
        // Nothing was copied: the caption keeps saying what it said.
        MessageBox(texts::kCopyFailed, texts::kNotice, MB_OK | MB_ICONWARNING);
        return;
    }
    SetDlgItemText(IDC_COPY, texts::kCopy);
}
