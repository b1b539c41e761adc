#include "jobs/RunFlag.h"

std::atomic<int> g_bWorking{0};
