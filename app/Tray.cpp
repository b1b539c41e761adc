// The main window and the shell: the notification-area icon with its menu,
// and the About entry of the system menu.
#include "app/Tray.h"

#include "app/AboutDlg.h"
#include "app/DigestDlg.h"
#include "app/Messages.h"
#include "app/Texts.h"

const UINT g_uTaskbarCreatedMsg = ::RegisterWindowMessageW(L"TaskbarCreated");
NotifyIconFn g_pfnNotifyIcon = &::Shell_NotifyIconW;

namespace {

// The program's one icon within the main window.
const UINT kTrayIconId = IDR_MAINFRAME;
// RT_MENU as a number, for the wide resource calls.
const WORD kMenuResourceType = 4;

// The record in its first form (a tip of 64 characters), whose size the
// platform's macro gives: 152 bytes in the 32-bit build, 168 in the 64-bit one.
NOTIFYICONDATAW TrayRecord(HWND wnd) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
    nid.hWnd = wnd;
    nid.uID = kTrayIconId;
    return nid;
}

// While the shell is busy (at log-on, say) it may refuse or time out; it is
// asked a few times before the window gives up hiding.
const int kAddTries = 3;
const DWORD kAddRetryMs = 100;

// True once the shell shows the icon: newly added, or already there (the
// shell refuses a second icon for the same window and ID, so every later
// minimise is refused while the icon stands).
bool AddTrayIcon(HWND wnd, bool mayBeThere) {
    NOTIFYICONDATAW nid = TrayRecord(wnd);
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = WM_TRAYNOTIFY;
    nid.hIcon = LoadSmallIcon();
    ::lstrcpynW(nid.szTip, AfxText(texts::kTrayTip), 64);  // the first form's tip holds 64 characters
    for (int attempt = 0;; ++attempt) {
        if (g_pfnNotifyIcon(NIM_ADD, &nid)) return true;
        if (mayBeThere && g_pfnNotifyIcon(NIM_MODIFY, &nid)) return true;
        if (attempt + 1 == kAddTries) return false;
        ::Sleep(kAddRetryMs);
    }
}

void RunAboutBox() {
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
}

// A box of the program's own is open (the About box, a question, a message,
// the Open dialog): it has disabled the main window. The tray menu then
// neither asks a second time nor opens a second box; the open one comes to
// the front instead.
bool ModalBoxOpen(HWND wnd) {
    if (::IsWindowEnabled(wnd)) return false;
    const HWND popup = ::GetLastActivePopup(wnd);
    if (popup && popup != wnd) ::SetForegroundWindow(popup);
    return true;
}

}  // namespace

void CDigestDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    (void)lParam;  // Default() passes the message on with its own parameters
    // Commands of our own have their low four bits clear; the system uses them.
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        RunAboutBox();
        return;
    }
    Default();
    if (nID == SC_MINIMIZE) {
        // Hidden only with an icon to bring it back; without one the window
        // stays minimised on the taskbar.
        m_bTrayIcon = AddTrayIcon(m_hWnd, m_bTrayIcon != FALSE);
        if (m_bTrayIcon) ShowWindow(SW_HIDE);
    }
}

LRESULT CDigestDlg::OnTrayNotify(WPARAM wParam, LPARAM lParam) {
    if (wParam != kTrayIconId) return 1;
    switch (lParam) {
    case WM_LBUTTONDOWN:
        ShowWindow(SW_SHOW);
        ShowWindow(SW_SHOWNORMAL);
        return 0;
    case WM_RBUTTONUP: {
        POINT pt{};
        ::GetCursorPos(&pt);
        CMenu menu;
        if (!menu.LoadMenu(AfxFindResourceHandle(MAKEINTRESOURCEW(IDR_TRAYMENU), MAKEINTRESOURCEW(kMenuResourceType)), IDR_TRAYMENU))
            return 0;
        const CMenu popup = menu.GetSubMenu(0);
        // Only a menu of the foreground window closes when the user clicks
        // elsewhere; the null message afterwards lets it close at once.
        ::SetForegroundWindow(m_hWnd);
        const UINT cmd = static_cast<UINT>(
            popup.TrackPopupMenu(TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTBUTTON, pt.x, pt.y, this));
        PostMessage(WM_NULL);
        switch (cmd) {
        case ID_TRAY_SHOW:
            ShowWindow(SW_SHOW);
            ShowWindow(SW_SHOWNORMAL);
            break;
        case ID_TRAY_EXIT:
            if (!ModalBoxOpen(m_hWnd)) OnCancel();
            break;
        case ID_TRAY_ABOUT:
            if (!ModalBoxOpen(m_hWnd)) RunAboutBox();
            break;
        default:  // dismissed
            break;
        }
        return 0;
    }
    default:
        return 0;
    }
}

LRESULT CDigestDlg::OnTaskbarCreated(WPARAM, LPARAM) {
    // A new shell knows no icons: put ours back, or a hidden window could no
    // longer be reached.
    if (m_bTrayIcon) AddTrayIcon(m_hWnd, false);
    return 0;
}

HICON LoadSmallIcon() {
    return static_cast<HICON>(::LoadImageW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                           ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                           LR_SHARED));
}

BOOL CDigestDlg::RemoveTrayIcon() {
    m_bTrayIcon = FALSE;
    NOTIFYICONDATAW nid = TrayRecord(m_hWnd);
    return g_pfnNotifyIcon(NIM_DELETE, &nid);
}
