// The window's side of a run: Start, Stop and exit (CDigestDlg::OnOK,
// OnButtonStop, OnCancel), the run's closing step, giving up a run whose
// thread is stuck in a call, and the checking threads' handles.
#pragma once
#include <windows.h>

// Window thread only, never waits. A run is in progress from Start until its
// closing step (the interval between Stop and that step included).
bool RunInProgress();
// Window thread only, never waits. The checking thread of a run that was not
// given up has not ended yet (after its run's closing step it only returns).
bool CheckThreadRunning();

// Ends the process when exit leaves a checking thread stuck in a call that
// does not return. ExitProcess unless replaced (the window tests, which run
// the dialog inside their own process, record the call instead).
using EndProcessFn = void(WINAPI*)(UINT);
extern EndProcessFn g_pfnEndProcess;

// Asks the file system call a thread is inside to return at once:
// CancelSynchronousIo where the system has it (Windows Vista and later),
// else null. Where it does not end the call (Wine does not cancel a read of
// a regular file) Stop and exit give the run up. Tests replace it.
using CancelIoFn = BOOL(WINAPI*)(HANDLE);
extern CancelIoFn g_pfnCancelSynchronousIo;
