// The system timer's resolution while a run is active.
//
// The walk pauses 1 ms after every file it finds. Without a raised timer
// resolution a Sleep(1) lasts a whole tick, about 15.6 ms. A run therefore
// asks for 1 ms (timeBeginPeriod) and, on Windows 11, also opts the process
// out of timer-resolution throttling, under which the system ignores that
// request while the process has no visible window (the window hidden in the
// notification area). Both are set once when a run begins and undone once
// when it ends.
#pragma once
#include <windows.h>

#include <mmsystem.h>

void RaiseTimerResolution();
void LowerTimerResolution();

// timeBeginPeriod/timeEndPeriod unless replaced (tests count the calls).
using TimePeriodFn = MMRESULT(WINAPI*)(UINT);
extern TimePeriodFn g_pfnTimeBeginPeriod;
extern TimePeriodFn g_pfnTimeEndPeriod;

// SetProcessInformation, looked up in kernel32 at start; null where the
// system lacks it (before Windows 8). Tests replace it.
using SetProcessInformationFn = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
extern SetProcessInformationFn g_pfnSetProcessInformation;
