// The run flag shared by the window thread and the checking thread.
#pragma once
#include <atomic>

// 1 while a check may proceed, 0 otherwise. Start sets it; Stop, failures and
// the end of a run clear it. Every loop of the checking thread tests it for
// exactly 1.
extern std::atomic<int> g_bWorking;
