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

// The checking thread. It owns and deletes param, the run's parameters made
// by Start (the path it accepted and the run's shared state).
DWORD WINAPI CheckThreadProc(LPVOID param);

// Ends the process when exit leaves a checking thread stuck in a call that
// does not return. ExitProcess unless replaced (the window tests, which run
// the dialog inside their own process, record the call instead).
using EndProcessFn = void(WINAPI*)(UINT);
extern EndProcessFn g_pfnEndProcess;
