#include "jobs/run_flag.h"

std::atomic<int> g_bWorking{0};
