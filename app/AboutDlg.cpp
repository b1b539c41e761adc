#include "app/AboutDlg.h"

#include <shellapi.h>

#include "app/Texts.h"
#include "res/resource.h"

CStatic* g_pMailLink = nullptr;
CStatic* g_pWebLink = nullptr;

const char kContactMail[] = "dev@example.com";
const char kContactWeb[] = "http://example.com/quellin/";

ShellOpenFn g_pfnShellOpen = &::ShellExecuteW;

namespace {

// Visible, left-aligned static text that reports clicks (STN_CLICKED, which
// has the same code as BN_CLICKED).
const DWORD kLinkStyle = WS_CHILD | WS_VISIBLE | SS_NOTIFY;

// Pixels in the box's client area: on the rows of the labels 1010 and 1011,
// right behind them.
const RECT kMailLinkRect = {70, 91, 165, 106};
const RECT kWebLinkRect = {70, 113, 239, 128};

// Replaces a link object of an earlier opening (whose window has ended with
// its box) by a new one, and creates the new one's window.
void CreateLink(CStatic*& link, const char* text, const RECT& rect, CWnd* parent, UINT id) {
    delete link;
    link = new CStatic;
    link->Create(text, kLinkStyle, rect, parent, id);
}

}  // namespace

BEGIN_MESSAGE_MAP(CAboutDlg)
    ON_BN_CLICKED(IDC_MAILLINK, OnMailLink)
    ON_BN_CLICKED(IDC_WEBLINK, OnWebLink)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    CreateLink(g_pMailLink, kContactMail, kMailLinkRect, this, IDC_MAILLINK);
    CreateLink(g_pWebLink, kContactWeb, kWebLinkRect, this, IDC_WEBLINK);

    // The template's face and size, underlined.
    m_linkFont.CreateFont(12, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, GB2312_CHARSET, OUT_CHARACTER_PRECIS,
                          CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, texts::kFontFace);
    g_pMailLink->SetFont(&m_linkFont, TRUE);
    g_pWebLink->SetFont(&m_linkFont, TRUE);
    return TRUE;
}

void CAboutDlg::OnMailLink() {
    const CStringW target = CStringW(L"mailto:") + AfxText(kContactMail);
    g_pfnShellOpen(nullptr, L"open", target, nullptr, nullptr, SW_SHOW);
}

void CAboutDlg::OnWebLink() { g_pfnShellOpen(nullptr, L"open", AfxText(kContactWeb), nullptr, nullptr, SW_SHOW); }
