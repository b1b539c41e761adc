// A thin application-framework layer over Win32: application object, window
// wrapper, modal dialogs with data exchange and message maps, message box.
//
// Every window is a Unicode window. The program's own texts (const char*)
// are code page 936 bytes, whatever the system's ANSI code page: each is
// converted by AfxText on its way to the system, and nowhere else. Names of
// files (CStringW, const wchar_t*) go to the system as they are.
//
// Window handles belong to the window tree (children die with their parent),
// so a CWnd never destroys its window; objects that own a handle of another
// kind (fonts, menus, searches, paint contexts) free it in their destructor
// and cannot be copied.
#pragma once
#include <windows.h>

#include <shellapi.h>

#include "framework/AfxString.h"

class CFont;
class CMenu;

// One of the program's own texts (code page 936) as UTF-16; with len, the
// first len bytes, zero bytes included (a list of zero-terminated texts).
CStringW AfxText(const char* text);
CStringW AfxText(const char* text, int len);

class CWnd {
public:
    CWnd() = default;
    explicit CWnd(HWND hWnd) : m_hWnd(hWnd) {}
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // A view of the child control with the given ID (no ownership).
    CWnd GetDlgItem(int id) const { return CWnd(::GetDlgItem(m_hWnd, id)); }
    void SetDlgItemText(int id, const char* text) const { ::SetDlgItemTextW(m_hWnd, id, AfxText(text)); }
    void SetDlgItemText(int id, const wchar_t* text) const { ::SetDlgItemTextW(m_hWnd, id, text); }
    CStringW GetDlgItemText(int id) const;
    void SetWindowText(const char* text) const { ::SetWindowTextW(m_hWnd, AfxText(text)); }
    BOOL EnableWindow(BOOL enable = TRUE) const { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, msg, wParam, lParam);
    }
    void GetWindowRect(LPRECT rect) const { ::GetWindowRect(m_hWnd, rect); }
    void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
    void MoveWindow(LPCRECT rect, BOOL repaint = TRUE) const {
        ::MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left,
                     rect->bottom - rect->top, repaint);
    }
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags) const {
        return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
    }
    BOOL ShowWindow(int cmd) const { return ::ShowWindow(m_hWnd, cmd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void CheckRadioButton(int first, int last, int check) const { ::CheckRadioButton(m_hWnd, first, last, check); }
    void SetFont(CFont* font, BOOL redraw = TRUE) const;
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK) const {
        return ::MessageBoxW(m_hWnd, AfxText(text), caption ? AfxText(caption).c_str() : nullptr, type);
    }
    BOOL PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageW(m_hWnd, msg, wParam, lParam);
    }

    // Stand-ins for the special insert-after handles of SetWindowPos.
    static const CWnd wndTopMost;
    static const CWnd wndNoTopMost;

    HWND m_hWnd = nullptr;
};

// Direction and target of one data exchange between controls and members.
struct CDataExchange {
    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;  // TRUE: controls -> members
};

void DDX_Text(CDataExchange* pDX, int id, CStringW& value);
void DDX_Check(CDataExchange* pDX, int id, BOOL& value);
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

class CDialog;

// One row of a dialog's message map: the message (and for WM_COMMAND and
// WM_NOTIFY the notification code and control ID) and the handler thunk.
struct MsgMapEntry {
    UINT message;
    UINT code;  // WM_COMMAND and WM_NOTIFY
    UINT id;
    LRESULT (*handler)(CDialog* dlg, WPARAM wParam, LPARAM lParam);
};

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr)
        : m_templateId(templateId), m_pParentWnd(parent) {}

    // Runs the dialog modally; returns the code given to EndDialog, or -1.
    INT_PTR DoModal();
    void EndDialog(int result) const { ::EndDialog(m_hWnd, result); }
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

protected:
    virtual void DoDataExchange(CDataExchange*) {}
    virtual const MsgMapEntry* GetMessageMap() const { return nullptr; }
    // Default processing of the message being handled.
    LRESULT Default();

private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    CWnd* m_pParentWnd;
    WNDPROC m_superProc = nullptr;
    struct { UINT msg; WPARAM wParam; LPARAM lParam; } m_current{};
};

// Message maps: inside the class, DECLARE_MESSAGE_MAP(); in the source,
//   BEGIN_MESSAGE_MAP(CMyDlg)
//       ON_BN_CLICKED(IDC_GO, OnGo)
//       ON_WM_PAINT()
//   END_MESSAGE_MAP()
#define DECLARE_MESSAGE_MAP() \
protected:                    \
    const MsgMapEntry* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass)                            \
    const MsgMapEntry* theClass::GetMessageMap() const {      \
        using ThisClass = theClass;                            \
        static const MsgMapEntry entries[] = {
#define END_MESSAGE_MAP()    \
    {0, 0, 0, nullptr}       \
    }                        \
    ;                        \
    return entries;          \
    }

#define AFX_THUNK(body) \
    [](CDialog* dlg_, WPARAM wParam_, LPARAM lParam_) -> LRESULT { \
        ThisClass* self_ = static_cast<ThisClass*>(dlg_);          \
        (void)self_; (void)wParam_; (void)lParam_;                 \
        body                                                       \
    }
#define ON_BN_CLICKED(id, fn) {WM_COMMAND, BN_CLICKED, (id), AFX_THUNK(self_->fn(); return 0;)},
#define ON_MESSAGE(msg, fn) {(msg), 0, 0, AFX_THUNK(return self_->fn(wParam_, lParam_);)},
// A message number from RegisterWindowMessage, held in a variable that is set
// before the map is first used.
#define ON_REGISTERED_MESSAGE(msgVar, fn) {(msgVar), 0, 0, AFX_THUNK(return self_->fn(wParam_, lParam_);)},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, AFX_THUNK(self_->OnPaint(); return 0;)},
#define ON_WM_QUERYDRAGICON() {WM_QUERYDRAGICON, 0, 0, AFX_THUNK(return (LRESULT)self_->OnQueryDragIcon();)},
#define ON_WM_SYSCOMMAND() {WM_SYSCOMMAND, 0, 0, AFX_THUNK(self_->OnSysCommand((UINT)wParam_, lParam_); return 0;)},
#define ON_WM_TIMER() {WM_TIMER, 0, 0, AFX_THUNK(self_->OnTimer((UINT_PTR)wParam_); return 0;)},
#define ON_WM_DROPFILES() {WM_DROPFILES, 0, 0, AFX_THUNK(self_->OnDropFiles((HDROP)wParam_); return 0;)},
// A notification (WM_NOTIFY) with the given code from the control with the given ID.
#define ON_NOTIFY(code, id, fn) \
    {WM_NOTIFY, (UINT)(code), (id), AFX_THUNK(LRESULT r_ = 0; self_->fn((NMHDR*)lParam_, &r_); return r_;)},

class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp() = default;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return FALSE; }

    CWnd* m_pMainWnd = nullptr;
    CStringW m_strAppName;  // message-box caption
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxFindResourceHandle(LPCWSTR name, LPCWSTR type);
// Registers the common control classes the dialog templates contain.
void AfxEnableControlContainer();
// The 3-D look is the system's own; kept for the start-up sequence.
inline BOOL Enable3dControls() { return TRUE; }
// A message box owned by the main window, the application's title as its
// caption, and the warning icon unless type names another icon.
int AfxMessageBox(const char* text, UINT type = MB_OK);
// A string resource of the program (empty when there is none).
CStringW AfxLoadString(UINT id);
// Process entry: runs the application object's InitInstance.
int AfxWinMain();
