#include "app/ListTips.h"

#include <commctrl.h>
#include <windowsx.h>

#include <vector>

namespace {

// Room the list leaves around a cell's text (it draws text a few pixels in
// from both edges of the cell).
const int kCellMargin = 12;
// The longest line a tip shows before it wraps (at blanks).
const int kTipWidth = 600;

// The list's tip control and the cell the pointer is over; the list's
// application word (GWLP_USERDATA) holds it from AttachListTips until the
// list ends (cheaper to read for every message than a window property).
struct Tips {
    HWND tip = nullptr;
    WNDPROC listProc = nullptr;
    int row = -1, column = -1;
    std::vector<wchar_t> text = std::vector<wchar_t>(32768);
};

TOOLINFOW Tool(HWND list, const Tips& tips) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = list;
    tool.uId = static_cast<UINT_PTR>(tips.row) * 16 + static_cast<UINT_PTR>(tips.column) + 1;
    return tool;
}

// The pointer has moved onto another cell (or off every cell): the tip
// follows, as a tool of that cell's own, so that it asks for its text anew.
void FollowPointer(HWND list, Tips& tips, LPARAM where) {
    LVHITTESTINFO hit{};
    hit.pt = POINT{GET_X_LPARAM(where), GET_Y_LPARAM(where)};
    const bool onCell = ::SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) >= 0 &&
                        (hit.flags & LVHT_ONITEM) != 0;
    const int row = onCell ? hit.iItem : -1, column = onCell ? hit.iSubItem : -1;
    if (row == tips.row && column == tips.column) return;
    if (tips.row >= 0) {
        TOOLINFOW old = Tool(list, tips);
        ::SendMessageW(tips.tip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&old));
    }
    tips.row = row;
    tips.column = column;
    if (row < 0) return;
    TOOLINFOW tool = Tool(list, tips);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    RECT cell{};
    cell.top = column;
    cell.left = LVIR_LABEL;
    ::SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
    tool.rect = cell;
    ::SendMessageW(tips.tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT CALLBACK ListProc(HWND list, UINT msg, WPARAM wParam, LPARAM lParam) {
    Tips* tips = reinterpret_cast<Tips*>(::GetWindowLongPtrW(list, GWLP_USERDATA));
    const WNDPROC listProc = tips->listProc;
    switch (msg) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP: {
        if (msg == WM_MOUSEMOVE) FollowPointer(list, *tips, lParam);
        MSG relayed{list, msg, wParam, lParam, 0, {}};
        ::SendMessageW(tips->tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
        break;
    }
    case WM_NOTIFY: {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
        if (info->hdr.hwndFrom != tips->tip || info->hdr.code != TTN_GETDISPINFOW) break;
        info->lpszText = nullptr;
        info->szText[0] = L'\0';
        if (CutCellText(list, tips->row, tips->column, tips->text.data(), static_cast<int>(tips->text.size())))
            info->lpszText = tips->text.data();
        return 0;
    }
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listProc));
        ::SetWindowLongPtrW(list, GWLP_USERDATA, 0);
        ::DestroyWindow(tips->tip);
        delete tips;
        break;
    default:
        break;
    }
    return ::CallWindowProcW(listProc, list, msg, wParam, lParam);
}

}  // namespace

bool CutCellText(HWND list, int row, int column, wchar_t* text, int size) {
    if (row < 0 || column < 0 || size <= 0) return false;
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.pszText = text;
    cell.cchTextMax = size;
    text[0] = L'\0';
    if (::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell)) <= 0)
        return false;
    const int needed = static_cast<int>(::SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text)));
    const int room = static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    return needed + kCellMargin > room;
}

void AttachListTips(HWND list, HFONT font) {
    auto* tips = new Tips;
    // Owned by no window: a tip (always top-most) owned by the main window
    // would keep it from being made top-most itself. The list destroys it.
    tips->tip = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (!tips->tip) {
        delete tips;
        return;
    }
    ::SendMessageW(tips->tip, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ::SendMessageW(tips->tip, TTM_SETMAXTIPWIDTH, 0, kTipWidth);
    ::SetWindowLongPtrW(list, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(tips));
    tips->listProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListProc)));
}
