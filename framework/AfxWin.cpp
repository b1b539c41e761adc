#include "framework/AfxWin.h"

#include <commctrl.h>

#include <string>

#include "framework/AfxGdi.h"

namespace {
CWinApp* g_pApp = nullptr;
const UINT kAppTitleString = 0xE000;  // string resource with the application's title
// The code page the program's own texts are written in.
const UINT kTextCodePage = 936;
}  // namespace

CStringW AfxText(const char* text, int len) {
    if (!text || len <= 0) return CStringW();
    const int n = ::MultiByteToWideChar(kTextCodePage, 0, text, len, nullptr, 0);
    if (n <= 0) return CStringW();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(kTextCodePage, 0, text, len, &out[0], n);
    return CStringW(out.data(), n);
}

CStringW AfxText(const char* text) { return text ? AfxText(text, static_cast<int>(std::strlen(text))) : CStringW(); }

const CWnd CWnd::wndTopMost(HWND_TOPMOST);
const CWnd CWnd::wndNoTopMost(HWND_NOTOPMOST);

static CStringW ReadWindowText(HWND hWnd) {
    const int len = ::GetWindowTextLengthW(hWnd);
    if (len <= 0) return CStringW();
    std::wstring buf(static_cast<size_t>(len) + 1, L'\0');
    const int got = ::GetWindowTextW(hWnd, &buf[0], len + 1);
    return CStringW(buf.data(), got < 0 ? 0 : got);
}

CStringW CWnd::GetDlgItemText(int id) const { return ReadWindowText(::GetDlgItem(m_hWnd, id)); }

void CWnd::SetFont(CFont* font, BOOL redraw) const {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font ? font->GetSafeHandle() : nullptr), redraw);
}

void DDX_Text(CDataExchange* pDX, int id, CStringW& value) {
    if (pDX->m_bSaveAndValidate)
        value = pDX->m_pDlgWnd->GetDlgItemText(id);
    else
        pDX->m_pDlgWnd->SetDlgItemText(id, value);
}

void DDX_Check(CDataExchange* pDX, int id, BOOL& value) {
    const HWND dlg = pDX->m_pDlgWnd->m_hWnd;
    if (pDX->m_bSaveAndValidate)
        value = ::IsDlgButtonChecked(dlg, id) == BST_CHECKED ? 1 : 0;
    else
        ::CheckDlgButton(dlg, id, value ? BST_CHECKED : BST_UNCHECKED);
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.m_hWnd == nullptr) control.m_hWnd = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, id);
}

// ---------------------------------------------------------------- CDialog

INT_PTR CDialog::DoModal() {
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (parent == nullptr) {
        // A box without a parent belongs to the main window, if there is one.
        CWnd* main = AfxGetMainWnd();
        if (main && main != this) parent = main->m_hWnd;
    }
    return ::DialogBoxParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_templateId), parent,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx{this, saveAndValidate};
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::Default() {
    return ::CallWindowProcW(m_superProc, m_hWnd, m_current.msg, m_current.wParam, m_current.lParam);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_INITDIALOG) return FALSE;  // everything else: the dialog manager's defaults
    CDialog* self = reinterpret_cast<CDialog*>(lParam);
    self->m_hWnd = hWnd;
    ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    // From here on every message passes through WindowProc first, so handlers
    // can call Default() for the dialog manager's processing.
    self->m_superProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CDialog::SubclassProc)));
    self->m_current = {msg, wParam, lParam};
    return self->OnInitDialog();
}

LRESULT CALLBACK CDialog::SubclassProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CDialog* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
        WNDPROC super = self->m_superProc;
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(super));
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        const LRESULT r = ::CallWindowProcW(super, hWnd, msg, wParam, lParam);
        self->m_hWnd = nullptr;
        return r;
    }
    return self->WindowProc(msg, wParam, lParam);
}

LRESULT CDialog::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    const auto saved = m_current;
    m_current = {msg, wParam, lParam};
    LRESULT result = 0;
    bool handled = false;
    if (const MsgMapEntry* e = GetMessageMap()) {
        for (; e->handler; ++e) {
            if (e->message != msg) continue;
            if (msg == WM_COMMAND && (e->code != HIWORD(wParam) || e->id != LOWORD(wParam))) continue;
            if (msg == WM_NOTIFY) {
                const NMHDR* nm = reinterpret_cast<const NMHDR*>(lParam);
                if (e->code != nm->code || e->id != nm->idFrom) continue;
            }
            result = e->handler(this, wParam, lParam);
            handled = true;
            break;
        }
    }
    if (!handled && msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED &&
        (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        // Enter, Esc, the close box and the two buttons.
        if (LOWORD(wParam) == IDOK) OnOK(); else OnCancel();
        handled = true;
    }
    if (!handled) result = Default();
    m_current = saved;
    return result;
}

// ---------------------------------------------------------------- application

CWinApp::CWinApp(const char* appName) {
    g_pApp = this;
    if (appName) m_strAppName = AfxText(appName);
}

CWinApp* AfxGetApp() { return g_pApp; }
CWnd* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd : nullptr; }
HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandleW(nullptr); }

HINSTANCE AfxFindResourceHandle(LPCWSTR name, LPCWSTR type) {
    HINSTANCE inst = AfxGetInstanceHandle();
    return ::FindResourceW(inst, name, type) ? inst : nullptr;
}

void AfxEnableControlContainer() {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&icc);
}

CStringW AfxLoadString(UINT id) {
    // Resources hold UTF-16 already.
    wchar_t buf[1024] = {};
    const int len = ::LoadStringW(AfxGetInstanceHandle(), id, buf, 1024);
    return CStringW(buf, len > 0 ? len : 0);
}

static CStringW AppTitle() {
    CWinApp* app = AfxGetApp();
    if (app && !app->m_strAppName.IsEmpty()) return app->m_strAppName;
    const CStringW title = AfxLoadString(kAppTitleString);
    if (!title.IsEmpty()) return title;
    // Fall back to the program file's name without folder and extension.
    wchar_t buf[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
    CStringW name(buf);
    const int slash = name.ReverseFind(L'\\');
    if (slash >= 0) name = name.Mid(slash + 1);
    const int dot = name.ReverseFind(L'.');
    return dot > 0 ? name.Left(dot) : name;
}

int AfxMessageBox(const char* text, UINT type) {
    if ((type & MB_ICONMASK) == 0) type |= MB_ICONEXCLAMATION;
    CWnd* main = AfxGetMainWnd();
    HWND owner = main ? main->m_hWnd : nullptr;
    if (owner) {
        // Like any modal box: owned by the window the user is working in.
        HWND popup = ::GetLastActivePopup(owner);
        if (popup && ::IsWindowEnabled(popup)) owner = popup;
    }
    return ::MessageBoxW(owner, AfxText(text), AppTitle(), type);
}

int AfxWinMain() {
    CWinApp* app = AfxGetApp();
    if (app) app->InitInstance();
    return 0;
}
