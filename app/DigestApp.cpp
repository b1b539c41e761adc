#include "app/DigestApp.h"

#include "app/DigestDlg.h"

CDigestApp theApp;

BOOL CDigestApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControls();

    CDigestDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // The dialog has ended: end the program rather than run a message loop.
    return FALSE;
}
