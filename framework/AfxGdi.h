// Owning wrappers for GDI objects, paint contexts and menus.
#pragma once
#include <windows.h>

class CWnd;

// Owns one GDI object and deletes it with itself.
class CGdiObject {
public:
    CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    ~CGdiObject() { DeleteObject(); }

    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ obj);
    BOOL DeleteObject();

protected:
    HGDIOBJ m_hObject = nullptr;
};

class CFont : public CGdiObject {
public:
    BOOL CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic,
                    BYTE underline, BYTE strikeOut, BYTE charSet, BYTE outPrecision, BYTE clipPrecision,
                    BYTE quality, BYTE pitchAndFamily, const char* faceName);
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
};

// BeginPaint in the constructor, EndPaint in the destructor.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* wnd);
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    ~CPaintDC();

    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon) const { return ::DrawIcon(m_hDC, x, y, icon); }

    PAINTSTRUCT m_ps{};

private:
    HWND m_hWnd;
    HDC m_hDC;
};

// A menu handle: owned (and destroyed) when loaded, a view otherwise.
class CMenu {
public:
    CMenu() = default;
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;
    ~CMenu() { DestroyMenu(); }

    // A non-owning view of an existing menu (such as a window's system menu).
    static CMenu View(HMENU menu) { return CMenu(menu, false); }

    BOOL LoadMenu(HINSTANCE inst, UINT id);
    BOOL DestroyMenu();
    HMENU GetSafeHmenu() const { return m_hMenu; }
    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const wchar_t* text = nullptr) const {
        return ::AppendMenuW(m_hMenu, flags, id, text);
    }
    // A view of a pop-up of this menu; it dies with its parent menu.
    CMenu GetSubMenu(int pos) const { return CMenu(::GetSubMenu(m_hMenu, pos), false); }
    BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, LPCRECT rect = nullptr) const;

private:
    CMenu(HMENU menu, bool owned) : m_hMenu(menu), m_owned(owned) {}
    HMENU m_hMenu = nullptr;
    bool m_owned = false;
};
