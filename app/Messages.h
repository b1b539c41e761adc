// The main window's private messages and timers, every one in this one place.
#pragma once
#include <windows.h>

// From the shell, for mouse events on the notification-area icon.
#define WM_TRAYNOTIFY (WM_USER + 150)
// From the checking thread: what it recorded is to be shown now (it posts
// this after its closing event, so that the run ends without waiting for
// the next frame).
#define WM_RUNDISPLAY (WM_APP + 0x52)
// From the clipboard check to the window (app/ClipboardCheck.cpp): values
// read on a thread of their own are ready, or the next part of the list's
// count is due; wParam says which, lParam whose turn it is.
#define WM_CLIPBOARDCHECK (WM_APP + 0x53)

// The shell's "TaskbarCreated" message (sent when it starts or restarts).
extern const UINT g_uTaskbarCreatedMsg;

// Timers of the main window.
enum : UINT_PTR {
    // Frames of the run display: what a run recorded is shown.
    kDisplayTimerId = 0x5152,
    // Closes the handles of checking threads once they have ended.
    kReapTimerId = 0x5153,
    // Gives a stopped run up while its thread is stuck in a call.
    kGiveUpTimerId = 0x5154,
    // Reads the clipboard again while another program holds it open.
    kClipboardRetryTimerId = 0x5155,
};
