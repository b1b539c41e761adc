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
// The checking thread of the run in progress, null when none (window thread).
extern HANDLE g_hCheckThread;
extern DWORD g_dwCheckThreadId;
