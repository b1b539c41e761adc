#include "app/DigestDlg.h"

#include "app/AboutDlg.h"
#include "app/ClipboardCheck.h"
#include "app/ListTips.h"
#include "app/Messages.h"
#include "app/Texts.h"
#include "app/Tray.h"
#include "jobs/JobState.h"

CListCtrl* g_pFileList = nullptr;
CProgressCtrl* g_pTotalProgress = nullptr;

BEGIN_MESSAGE_MAP(CDigestDlg)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_OPEN, OnButtonOpen)
    ON_BN_CLICKED(IDC_COPY, OnButtonCopy)
    ON_BN_CLICKED(IDC_STOP, OnButtonStop)
    ON_BN_CLICKED(IDC_TOPMOST, OnCheckTopmost)
    ON_MESSAGE(WM_TRAYNOTIFY, OnTrayNotify)
    ON_REGISTERED_MESSAGE(g_uTaskbarCreatedMsg, OnTaskbarCreated)
    ON_WM_DROPFILES()
    ON_MESSAGE(WM_RUNDISPLAY, OnRunDisplay)
    ON_WM_TIMER()
    ON_MESSAGE(WM_CLIPBOARDUPDATE, OnClipboardUpdate)
    ON_MESSAGE(WM_CTLCOLORSTATIC, OnCtlColorStatic)
    ON_NOTIFY(NM_CUSTOMDRAW, IDC_FILELIST, OnListCustomDraw)
    ON_MESSAGE(WM_DESTROY, OnDestroy)
    ON_MESSAGE(WM_CLIPBOARDCHECK, OnClipboardCheck)
END_MESSAGE_MAP()

CDigestDlg::CDigestDlg()
    : CDialog(IDD_MAIN), m_hIcon(::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

CDigestDlg::~CDigestDlg() {
    delete g_pFileList;
    g_pFileList = nullptr;
    m_pListFrame.reset();
    m_pTotalFrame.reset();
    m_pTotalLabel.reset();
    m_pListStatus.reset();
    m_pListCount.reset();
    delete g_pTotalProgress;
    g_pTotalProgress = nullptr;
    delete g_pMailLink;
    g_pMailLink = nullptr;
    delete g_pWebLink;
    g_pWebLink = nullptr;
}

void CDigestDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Text(pDX, IDC_MD5, m_strMD5);
    DDX_Text(pDX, IDC_PATH, m_strPath);
    DDX_Check(pDX, IDC_TOPMOST, m_bTopMost);
}

BOOL CDigestDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // "About" at the end of the system menu, after a separator.
    CMenu sysMenu = CMenu::View(::GetSystemMenu(m_hWnd, FALSE));
    if (sysMenu.GetSafeHmenu()) {
        const CStringW about = AfxLoadString(IDS_ABOUTBOX);
        if (!about.IsEmpty()) {
            sysMenu.AppendMenu(MF_SEPARATOR);
            sysMenu.AppendMenu(MF_STRING, IDM_ABOUTBOX, about);
        }
    }

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(LoadSmallIcon()));

    g_bWorking = 0;
    g_bCompact = 1;
    CreateListPanel();
    // Results are compared with the digests the user copies.
    g_clipboardCheck.Attach(m_hWnd, g_pFileList->m_hWnd);
    CheckRadioButton(IDC_TOPMOST, IDC_TOPMOST, IDC_TOPMOST);
    SetWindowPos(&wndTopMost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return TRUE;
}

void CDigestDlg::CreateListPanel() {
    // Placed in pixels right below the compact client area, so that only the
    // taller layout shows it.
    const DWORD child = WS_CHILD | WS_VISIBLE;

    m_pListFrame = std::make_unique<CButton>();
    m_pListFrame->Create("", child | BS_GROUPBOX, RECT{5, 180, 367, 432}, this, IDC_LISTFRAME);
    m_pTotalFrame = std::make_unique<CButton>();
    m_pTotalFrame->Create("", child | BS_GROUPBOX, RECT{13, 357, 360, 423}, this, IDC_TOTALFRAME);

    g_pFileList = new CListCtrl;
    g_pFileList->Create(child | LVS_REPORT | WS_BORDER, RECT{13, 196, 359, 358}, this, IDC_FILELIST);
    g_pFileList->SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);

    m_pTotalLabel = std::make_unique<CStatic>();
    m_pTotalLabel->Create(texts::kTotalLabel, child, RECT{22, 373, 90, 388}, this, IDC_TOTALLABEL);
    m_pListStatus = std::make_unique<CStatic>();
    m_pListStatus->Create(texts::kIdle, child, RECT{175, 373, 350, 388}, this, IDC_LISTSTATUS);
    m_pListCount = std::make_unique<CStatic>();
    m_pListCount->Create(texts::kCountStart, child, RECT{90, 373, 175, 388}, this, IDC_LISTCOUNT);

    g_pTotalProgress = new CProgressCtrl;
    g_pTotalProgress->Create(child, RECT{22, 393, 350, 413}, this, IDC_TOTALPROGRESS);

    // One font for the whole panel, made once for the life of the process.
    static CFont panelFont;
    if (!panelFont.GetSafeHandle())
        panelFont.CreateFont(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_CHARACTER_PRECIS,
                             CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, texts::kFontFace);
    m_pListFrame->SetFont(&panelFont, TRUE);
    m_pTotalFrame->SetFont(&panelFont, TRUE);
    g_pFileList->SetFont(&panelFont, TRUE);
    m_pTotalLabel->SetFont(&panelFont, TRUE);
    m_pListStatus->SetFont(&panelFont, TRUE);
    m_pListCount->SetFont(&panelFont, TRUE);
    g_pTotalProgress->SetFont(&panelFont, TRUE);

    g_pFileList->InsertColumn(0, texts::kColumnPath, LVCFMT_LEFT);
    // Asked for at index 2 with one column present, it lands at index 1.
    g_pFileList->InsertColumn(2, texts::kColumnResult, LVCFMT_LEFT);
    g_pFileList->SetColumnWidth(0, 140);
    g_pFileList->SetColumnWidth(1, 205);
    // A path cut short by the narrow column shows whole while the pointer
    // rests on it.
    AttachListTips(g_pFileList->m_hWnd, panelFont);
}

void CDigestDlg::SetCompactMode(int flag) {
    RECT rect;
    GetWindowRect(&rect);
    if (flag == 1) {
        g_bCompact = 1;
        rect.bottom -= kListPanelHeight;
    } else {
        g_bCompact = 0;
        rect.bottom += kListPanelHeight;
    }
    MoveWindow(&rect, TRUE);
}

void CDigestDlg::OnCheckTopmost() {
    UpdateData(TRUE);
    SetWindowPos(m_bTopMost == 1 ? &wndTopMost : &wndNoTopMost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    UpdateData(FALSE);
}

void CDigestDlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CDigestDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
