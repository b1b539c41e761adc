#include "framework/AfxGdi.h"

#include "framework/AfxWin.h"

BOOL CGdiObject::Attach(HGDIOBJ obj) {
    DeleteObject();
    m_hObject = obj;
    return obj != nullptr;
}

BOOL CGdiObject::DeleteObject() {
    if (!m_hObject) return FALSE;
    const BOOL ok = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return ok;
}

BOOL CFont::CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic,
                       BYTE underline, BYTE strikeOut, BYTE charSet, BYTE outPrecision, BYTE clipPrecision,
                       BYTE quality, BYTE pitchAndFamily, const char* faceName) {
    return Attach(::CreateFontW(height, width, escapement, orientation, weight, italic, underline, strikeOut,
                                charSet, outPrecision, clipPrecision, quality, pitchAndFamily, AfxText(faceName)));
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd), m_hDC(::BeginPaint(m_hWnd, &m_ps)) {}
CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }

BOOL CMenu::LoadMenu(HINSTANCE inst, UINT id) {
    DestroyMenu();
    m_hMenu = ::LoadMenuW(inst, MAKEINTRESOURCEW(id));
    m_owned = true;
    return m_hMenu != nullptr;
}

BOOL CMenu::DestroyMenu() {
    BOOL ok = FALSE;
    if (m_hMenu && m_owned) ok = ::DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
    m_owned = false;
    return ok;
}

BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, LPCRECT rect) const {
    return ::TrackPopupMenu(m_hMenu, flags, x, y, 0, owner ? owner->m_hWnd : nullptr, rect);
}
