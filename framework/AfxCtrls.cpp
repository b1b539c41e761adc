#include "framework/AfxCtrls.h"

#include <string>

BOOL AfxCreateControl(CWnd& ctl, const wchar_t* className, const char* text, DWORD style, const RECT& rect,
                      CWnd* parent, UINT id) {
    ctl.m_hWnd = ::CreateWindowExW(0, className, AfxText(text), style, rect.left, rect.top, rect.right - rect.left,
                                   rect.bottom - rect.top, parent->m_hWnd,
                                   reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                   ::GetModuleHandleW(nullptr), nullptr);
    return ctl.m_hWnd != nullptr;
}

int CListCtrl::InsertColumn(int col, const char* heading, int format, int width, int subItem) const {
    const CStringW text = AfxText(heading);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_TEXT;
    column.fmt = format;
    column.pszText = const_cast<wchar_t*>(text.c_str());
    if (width != -1) { column.mask |= LVCF_WIDTH; column.cx = width; }
    if (subItem != -1) { column.mask |= LVCF_SUBITEM; column.iSubItem = subItem; }
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, col, reinterpret_cast<LPARAM>(&column)));
}

int CListCtrl::InsertItem(UINT mask, int item, const wchar_t* text, UINT state, UINT stateMask, int image,
                          LPARAM param) const {
    LVITEMW row{};
    row.mask = mask;
    row.iItem = item;
    row.pszText = const_cast<wchar_t*>(text);
    row.state = state;
    row.stateMask = stateMask;
    row.iImage = image;
    row.lParam = param;
    return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
}

BOOL CListCtrl::SetItemText(int item, int subItem, const char* text) const {
    const CStringW wide = AfxText(text);
    LVITEMW cell{};
    cell.iSubItem = subItem;
    cell.pszText = const_cast<wchar_t*>(wide.c_str());
    return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, item, reinterpret_cast<LPARAM>(&cell)));
}

CStringW CListCtrl::GetItemText(int item, int subItem) const {
    // Grow the buffer until the text fits with room to spare (a path may
    // have up to 32,767 characters).
    for (int size = 512;; size *= 2) {
        std::wstring buf(static_cast<size_t>(size), L'\0');
        LVITEMW cell{};
        cell.iSubItem = subItem;
        cell.pszText = &buf[0];
        cell.cchTextMax = size;
        const int len = static_cast<int>(SendMessage(LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&cell)));
        if (len < size - 1 || size >= (1 << 16)) return CStringW(buf.c_str(), len < size ? len : size - 1);
    }
}

DWORD_PTR CListCtrl::GetItemData(int item) const {
    LVITEMW row{};
    row.mask = LVIF_PARAM;
    row.iItem = item;
    return SendMessage(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&row)) ? static_cast<DWORD_PTR>(row.lParam) : 0;
}
