// State shared by the window thread and the checking thread.
#pragma once
#include <windows.h>

#include "framework/AfxString.h"
#include "jobs/RunFlag.h"

// 1: compact layout, Start checks the single path; 0: expanded layout, Start
// checks every row of the file list.
extern int g_bCompact;
// Number of entries in the file list.
extern int g_nItems;
// The file being digested, in the form it is opened in; the progress report
// sizes the bar from it. Used by the checking thread only (see g_nListed in
// jobs/TargetList.h).
extern CStringW g_strCurrentFile;
// The checking thread of the run in progress, null when none (window thread).
extern HANDLE g_hCheckThread;
extern DWORD g_dwCheckThreadId;
