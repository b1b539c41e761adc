// Start, Stop and exit, and the checking thread.
#pragma once
#include <windows.h>

#include <mmsystem.h>

// Posted by the checking thread as its last act (wParam: its thread id), so
// that the window thread closes the thread's handle.
#define WM_CHECKTHREADENDED (WM_APP + 0x51)

// Window thread only. True while a run is active or its thread has not yet
// ended (the interval between Stop and the thread's last step included).
bool IsCheckBusy();

// The checking thread. It owns and deletes param, a heap CString with the
// path that Start accepted.
DWORD WINAPI CheckThreadProc(LPVOID param);

// A run raises the system timer's resolution to 1 ms for its duration, so
// that the walk's 1 ms pause per file is 1 ms on Windows too (without it a
// sleep lasts a whole 15.6 ms tick). timeBeginPeriod/timeEndPeriod unless
// replaced (tests count the calls).
using TimePeriodFn = MMRESULT(WINAPI*)(UINT);
extern TimePeriodFn g_pfnTimeBeginPeriod;
extern TimePeriodFn g_pfnTimeEndPeriod;

// Ends the process when exit leaves a checking thread stuck in a call that
// does not return. ExitProcess unless replaced (the window tests, which run
// the dialog inside their own process, record the call instead).
using EndProcessFn = void(WINAPI*)(UINT);
extern EndProcessFn g_pfnEndProcess;
