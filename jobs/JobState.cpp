#include "jobs/JobState.h"

int g_bCompact = 1;
int g_nItems = 0;
HANDLE g_hCheckThread = nullptr;
DWORD g_dwCheckThreadId = 0;
