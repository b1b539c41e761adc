// The notification-area icon of the main window.
#pragma once
#include <windows.h>

#include <shellapi.h>

// How the window asks the shell to add or delete its icon; Shell_NotifyIconW
// unless replaced (the window tests record the calls and pass them on).
using NotifyIconFn = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAW);
extern NotifyIconFn g_pfnNotifyIcon;

// The 16 x 16 image of the program's icon (the small-icon size of the
// system), for the title bar and the notification area: the 32 x 32 one
// would be shrunk there. Shared: it lives as long as the program.
HICON LoadSmallIcon();
