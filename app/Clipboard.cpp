// Copy: the results of the last run as text on the clipboard.
#include "app/Clipboard.h"

#include <cstdlib>
#include <cstring>

#include "app/DigestDlg.h"
#include "jobs/JobState.h"

OpenClipboardFn g_pfnOpenClipboard = &::OpenClipboard;

namespace {

// Another program may hold the clipboard for a moment (clipboard history, a
// remote desktop's clipboard sync): that many tries, this far apart, before
// a copy counts as failed.
const int kOpenAttempts = 5;
const DWORD kOpenRetryMs = 20;

const char kCopyFailed[] = "复制失败，剪贴板可能正被其他程序占用，请稍后再试！";

const char kCopyQuestion[] =
    "请问您在复制时是希望文件名带路径一起复制，\r\n"
    "还是只复制对应MD5校验值加文件名？\r\n"
    "选择“是”：执行对应MD5校验值加文件名带路径一起复制。\r\n"
    "选择“否”：执行对应MD5校验值只加文件名一起复制。";

// The part after the last backslash, or the whole path without one. Trail
// bytes of double-byte characters that equal '\\' are not separators.
CString FileNameOf(const CString& path) {
    const int slash = path.ReverseFind('\\');
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

}  // namespace

int CopyTextToClipboard(const char* text, HWND owner) {
    // Open first: while another program holds the clipboard nothing is
    // allocated that could be left behind.
    if (!OpenClipboardPatiently(owner)) return 0;
    ::EmptyClipboard();
    const SIZE_T size = static_cast<SIZE_T>(::lstrlenA(text)) + 1;
    // Clipboard data must be a movable block.
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    void* dest = block ? ::GlobalLock(block) : nullptr;
    if (dest) {
        std::memcpy(dest, text, size);
        ::GlobalUnlock(block);
    }
    // The system owns the block only once it has taken it.
    if (!dest || !::SetClipboardData(CF_TEXT, block)) {
        if (block) ::GlobalFree(block);
        ::CloseClipboard();
        return 0;
    }
    // Without a locale the system takes the text for the input language's
    // code page when a program asks for it as Unicode: with an English
    // keyboard on a Chinese system, Chinese names would come out garbled.
    if (HGLOBAL locale = ::GlobalAlloc(GMEM_MOVEABLE, sizeof(LCID))) {
        if (void* p = ::GlobalLock(locale)) {
            const LCID lcid = TextLocale();
            std::memcpy(p, &lcid, sizeof lcid);
            ::GlobalUnlock(locale);
            if (!::SetClipboardData(CF_LOCALE, locale)) ::GlobalFree(locale);
        } else {
            ::GlobalFree(locale);
        }
    }
    ::CloseClipboard();
    return 1;
}

void CDigestDlg::OnButtonCopy() {
    CString text;
    if (g_bCompact) {
        UpdateData(TRUE);
        text = m_strMD5 + " " + FileNameOf(m_strPath);
        UpdateData(FALSE);
    } else {
        // Asked at every copy; only Yes keeps the paths.
        const bool withPaths = MessageBox(kCopyQuestion, "提示信息", MB_YESNO) == IDYES;
        for (int i = 0; i < g_nItems; ++i) {
            const CString path = g_pFileList->GetItemText(i, 0);
            text += g_pFileList->GetItemText(i, 1);
            text += " ";
            text += withPaths ? path : FileNameOf(path);
            text += "\r\n";
        }
    }
    // Opened for the main window: with no owner, the clipboard would be
    // emptied without one, and the system may refuse the text then.
    if (!CopyTextToClipboard(text, m_hWnd)) {
        // Nothing was copied: the caption keeps saying what it said.
        MessageBox(kCopyFailed, "提示信息", MB_OK | MB_ICONWARNING);
        return;
    }
    SetDlgItemText(IDC_COPY, "复制");
}
