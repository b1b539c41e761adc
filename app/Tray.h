// The notification-area icon of the main window.
#pragma once
#include <windows.h>

#include <shellapi.h>

// How the window asks the shell to add or delete its icon; Shell_NotifyIconA
// unless replaced (the window tests record the calls and pass them on).
using NotifyIconFn = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAA);
extern NotifyIconFn g_pfnNotifyIcon;
