// The About box: name, version and date lines, the icon, and two links that
// hand a mail address and a web address to the shell.
#pragma once
#include "framework/AfxCtrls.h"
#include "framework/AfxGdi.h"
#include "framework/AfxWin.h"

// Link controls of the most recent About box (null until it first opens).
// Each opening replaces (and deletes) the objects of the one before; the main
// window deletes the last ones.
extern CStatic* g_pMailLink;
extern CStatic* g_pWebLink;

// The contact addresses the links show and open.
extern const char kContactMail[];
extern const char kContactWeb[];

// How the links ask the shell to open a target; ShellExecuteW unless replaced
// (the window tests record the call instead of starting a mail program).
using ShellOpenFn = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
extern ShellOpenFn g_pfnShellOpen;

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnMailLink();
    void OnWebLink();

    DECLARE_MESSAGE_MAP()

private:
    // The underlined link font of this opening. A member, so it is deleted
    // only after DoModal has returned, when the links' windows are gone.
    CFont m_linkFont;
};
