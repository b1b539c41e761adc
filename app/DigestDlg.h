// The main dialog: compact single-file panel plus the list panel that the
// expanded layout uncovers.
#pragma once
#include <memory>

#include "framework/AfxCtrls.h"
#include "framework/AfxFile.h"
#include "framework/AfxGdi.h"
#include "framework/AfxWin.h"
#include "res/resource.h"

// Run-time controls that other parts of the program reach without the
// dialog object. The dialog owns them.
extern CListCtrl* g_pFileList;
extern CProgressCtrl* g_pTotalProgress;

// How much taller the expanded layout is than the compact one, in pixels.
constexpr int kListPanelHeight = 252;

class CDigestDlg : public CDialog {
public:
    CDigestDlg();
    ~CDigestDlg() override;

    // 1: compact layout (single path), 0: expanded layout (the list). Callers
    // only ever ask for the other layout than the current one.
    void SetCompactMode(int flag);

    // Start (button 1, Enter, a single dropped file): jobs/RunController.cpp.
    void OnOK() override;
    // Exit (button 2, Esc, close box, tray menu): jobs/RunController.cpp.
    void OnCancel() override;
    // Takes the notification-area icon away, if there is one: app/Tray.cpp.
    BOOL RemoveTrayIcon();

    CProgressCtrl m_progress;
    CStringW m_strMD5;
    CStringW m_strPath;
    BOOL m_bTopMost = 0;
    HICON m_hIcon;
    // The window went to the notification area: the icon is to be there until exit.
    BOOL m_bTrayIcon = FALSE;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT nID, LPARAM lParam);            // app/Tray.cpp
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnButtonOpen();                                   // intake/OpenFile.cpp
    void OnButtonCopy();                                   // app/Clipboard.cpp
    void OnButtonStop();                                   // jobs/RunController.cpp
    void OnCheckTopmost();
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);    // app/Tray.cpp
    LRESULT OnTaskbarCreated(WPARAM wParam, LPARAM lParam); // app/Tray.cpp
    void OnDropFiles(HDROP hDropInfo);                     // intake/DropFiles.cpp
    void OnTimer(UINT_PTR id);                             // jobs/RunController.cpp
    LRESULT OnRunDisplay(WPARAM wParam, LPARAM lParam);    // jobs/RunController.cpp
    LRESULT OnClipboardUpdate(WPARAM wParam, LPARAM lParam); // app/ClipboardCheck.cpp
    LRESULT OnCtlColorStatic(WPARAM wParam, LPARAM lParam); // app/ClipboardCheck.cpp
    void OnListCustomDraw(NMHDR* header, LRESULT* result); // app/ClipboardCheck.cpp
    LRESULT OnDestroy(WPARAM wParam, LPARAM lParam);       // app/ClipboardCheck.cpp
    LRESULT OnClipboardCheck(WPARAM wParam, LPARAM lParam); // app/ClipboardCheck.cpp

    DECLARE_MESSAGE_MAP()

private:
    void CreateListPanel();

    std::unique_ptr<CButton> m_pListFrame;    // 1101
    std::unique_ptr<CButton> m_pTotalFrame;   // 1102
    std::unique_ptr<CStatic> m_pTotalLabel;   // 1103
    std::unique_ptr<CStatic> m_pListStatus;   // 1104
    std::unique_ptr<CStatic> m_pListCount;    // 1105
};
