#include "framework/AfxCtrls.h"

#include <string>

BOOL AfxCreateControl(CWnd& ctl, const char* className, const char* text, DWORD style, const RECT& rect,
                      CWnd* parent, UINT id) {
    ctl.m_hWnd = ::CreateWindowExA(0, className, text, style, rect.left, rect.top, rect.right - rect.left,
                                   rect.bottom - rect.top, parent->m_hWnd,
                                   reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                   ::GetModuleHandleA(nullptr), nullptr);
    return ctl.m_hWnd != nullptr;
}

int CListCtrl::InsertColumn(int col, const char* heading, int format, int width, int subItem) const {
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_TEXT;
    column.fmt = format;
    column.pszText = const_cast<char*>(heading);
    if (width != -1) { column.mask |= LVCF_WIDTH; column.cx = width; }
    if (subItem != -1) { column.mask |= LVCF_SUBITEM; column.iSubItem = subItem; }
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNA, col, reinterpret_cast<LPARAM>(&column)));
}

int CListCtrl::InsertItem(UINT mask, int item, const char* text, UINT state, UINT stateMask, int image,
                          LPARAM param) const {
    LVITEMA row{};
    row.mask = mask;
    row.iItem = item;
    row.pszText = const_cast<char*>(text);
    row.state = state;
    row.stateMask = stateMask;
    row.iImage = image;
    row.lParam = param;
    return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row)));
}

BOOL CListCtrl::SetItemText(int item, int subItem, const char* text) const {
    LVITEMA cell{};
    cell.iSubItem = subItem;
    cell.pszText = const_cast<char*>(text);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTA, item, reinterpret_cast<LPARAM>(&cell)));
}

CString CListCtrl::GetItemText(int item, int subItem) const {
    // Grow the buffer until the text fits with room to spare.
    for (int size = 512;; size *= 2) {
        std::string buf(static_cast<size_t>(size), '\0');
        LVITEMA cell{};
        cell.iSubItem = subItem;
        cell.pszText = &buf[0];
        cell.cchTextMax = size;
        const int len = static_cast<int>(SendMessage(LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&cell)));
        if (len < size - 1 || size >= (1 << 20)) return CString(buf.c_str());
    }
}
