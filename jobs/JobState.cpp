#include "jobs/JobState.h"

int g_bCompact = 1;
int g_nItems = 0;
CStringW g_strCurrentFile;
HANDLE g_hCheckThread = nullptr;
DWORD g_dwCheckThreadId = 0;
