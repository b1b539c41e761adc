// Tips for the file list: a cell whose text its column cuts short shows the
// whole text in a tip while the pointer rests on it (a path in the narrow
// path column, say). The list's own label tips (LVS_EX_LABELTIP) are not
// drawn by every list control, so the list gets a tip control of its own.
#pragma once
#include <windows.h>

// Gives the list its tips, in the given font; the tip control ends with the list.
void AttachListTips(HWND list, HFONT font);

// The text a tip over the cell (row, column) shows: the cell's whole text
// when its column is too narrow for it, else nothing (no tip).
bool CutCellText(HWND list, int row, int column, wchar_t* text, int size);
