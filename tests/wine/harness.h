// The window tests' driver: the framework-free core (harness_core.h) and the
// GoogleTest side of it. Failed setup steps in the core become test failures.
#pragma once
#include "harness_core.h"

namespace harness {

// Start and Open enabled, Stop disabled (GoogleTest expectations).
void ExpectIdleButtons(HWND dlg);
// A run is active: Start, Open and Copy disabled, Stop enabled.
void ExpectRunningButtons(HWND dlg);

}  // namespace harness
