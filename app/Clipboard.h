// Text out to the clipboard.
#pragma once
#include <windows.h>

// Puts a zero-terminated text on the clipboard as CF_UNICODETEXT, exactly,
// and as CF_TEXT in the system's ANSI code page, with CF_LOCALE naming a
// locale of that code page, opening the clipboard for owner (may be null). Returns 1 once the system has the text, 0 when no
// memory is to be had for it, the clipboard cannot be opened (another
// program holds it through a few short retries) or the system refuses the
// block; nothing is left allocated then, and the clipboard keeps what it held
// unless the system refused the text after taking the old one away.
int CopyTextToClipboard(const wchar_t* text, HWND owner);

// OpenClipboard and GlobalAlloc unless replaced (tests see every attempt,
// and make the memory run out).
using OpenClipboardFn = BOOL(WINAPI*)(HWND);
extern OpenClipboardFn g_pfnOpenClipboard;
using GlobalAllocFn = HGLOBAL(WINAPI*)(UINT, SIZE_T);
extern GlobalAllocFn g_pfnGlobalAlloc;
