// Text out to the clipboard.
#pragma once
#include <windows.h>

// Puts a zero-terminated text (system code page) on the clipboard as CF_TEXT,
// with CF_LOCALE naming a locale of that code page, opening the clipboard
// for owner (may be null). Returns 1 once the system
// has the text, 0 when the clipboard cannot be opened (another program holds
// it through a few short retries), no memory is to be had, or the system
// refuses the block; nothing is left allocated then.
int CopyTextToClipboard(const char* text, HWND owner);

// OpenClipboard unless replaced (tests see every attempt).
using OpenClipboardFn = BOOL(WINAPI*)(HWND);
extern OpenClipboardFn g_pfnOpenClipboard;
