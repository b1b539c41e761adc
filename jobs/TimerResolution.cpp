#include "jobs/TimerResolution.h"

TimePeriodFn g_pfnTimeBeginPeriod = &::timeBeginPeriod;
TimePeriodFn g_pfnTimeEndPeriod = &::timeEndPeriod;

SetProcessInformationFn g_pfnSetProcessInformation = reinterpret_cast<SetProcessInformationFn>(
    reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetProcessInformation")));

namespace {

// Set by the opt-out when the system took it: only then is there anything
// to undo. Windows 8 and 10 have the function but not this flag, and refuse
// the call; they honour timeBeginPeriod whether the window shows or not.
bool s_optedOut = false;

bool SetTimerThrottling(ULONG controlMask) {
    if (!g_pfnSetProcessInformation) return false;
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = controlMask;
    state.StateMask = 0;  // the controlled mechanism off: requests are honoured
    return g_pfnSetProcessInformation(::GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state) != FALSE;
}

}  // namespace

void RaiseTimerResolution() {
    g_pfnTimeBeginPeriod(1);
    s_optedOut = SetTimerThrottling(PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION);
}

void LowerTimerResolution() {
    // Back to the system's own choice (no mechanism controlled by the process).
    if (s_optedOut) SetTimerThrottling(0);
    s_optedOut = false;
    g_pfnTimeEndPeriod(1);
}
