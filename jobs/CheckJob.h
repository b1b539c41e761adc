// Start, Stop and exit, and the checking thread.
#pragma once
#include <windows.h>

#include "jobs/TimerResolution.h"

// Posted by the checking thread as its last act (wParam: its thread id), so
// that the window thread closes the thread's handle.
#define WM_CHECKTHREADENDED (WM_APP + 0x51)

// Window thread only. True while a run is active or its thread has not yet
// ended (the interval between Stop and the thread's last step included).
bool IsCheckBusy();

// The checking thread. It owns and deletes param, a heap CString with the
// path that Start accepted.
DWORD WINAPI CheckThreadProc(LPVOID param);

