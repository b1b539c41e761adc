// Control wrappers: buttons, statics, progress bars and report-view lists.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include "framework/AfxWin.h"

// Creates a child control of the given window class, with one of the
// program's own texts; shared by the wrappers.
BOOL AfxCreateControl(CWnd& ctl, const wchar_t* className, const char* text, DWORD style, const RECT& rect,
                      CWnd* parent, UINT id);

class CButton : public CWnd {
public:
    BOOL Create(const char* caption, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return AfxCreateControl(*this, L"BUTTON", caption, style, rect, parent, id);
    }
};

class CStatic : public CWnd {
public:
    BOOL Create(const char* text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return AfxCreateControl(*this, L"STATIC", text, style, rect, parent, id);
    }
};

class CProgressCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return AfxCreateControl(*this, PROGRESS_CLASSW, "", style, rect, parent, id);
    }
};

class CListCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return AfxCreateControl(*this, WC_LISTVIEWW, "", style, rect, parent, id);
    }
    DWORD SetExtendedStyle(DWORD exStyle) const {
        return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, exStyle));
    }
    int InsertColumn(int col, const char* heading, int format = LVCFMT_LEFT, int width = -1,
                     int subItem = -1) const;
    BOOL SetColumnWidth(int col, int cx) const {
        return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNWIDTH, col, MAKELPARAM(cx, 0)));
    }
    // A row whose text is a name (a path), as it is.
    int InsertItem(UINT mask, int item, const wchar_t* text, UINT state, UINT stateMask, int image,
                   LPARAM param) const;
    // A cell with one of the program's own texts.
    BOOL SetItemText(int item, int subItem, const char* text) const;
    // The text of a cell; a row that does not exist reads as empty text.
    CStringW GetItemText(int item, int subItem) const;
    // A row's parameter (0 for a row that does not exist).
    DWORD_PTR GetItemData(int item) const;
};
