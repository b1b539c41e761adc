#include "harness.h"

#include <cstdio>

#include "jobs/CheckJob.h"
#include "res/resource.h"

namespace harness {
namespace {

void ReportAsTestFailure(const char* file, int line, const std::string& what) { ADD_FAILURE_AT(file, line) << what; }

// Exit ends the process itself when it leaves a checking thread stuck in a
// call. In a window test that would end the test program in the middle of
// its tests with exit code 0: it ends it with a failure instead. Tests that
// expect it record the call in its place.
void WINAPI EndProcessInTest(UINT) {
    std::fprintf(stderr, "harness: exit left a checking thread stuck in a call and ended the test program\n");
    std::fflush(stderr);
    ExitProcess(4);
}

// Installed before any test runs: this file is linked into every window test.
const bool s_installed =
    (SetFailureReporter(&ReportAsTestFailure), FakeInEveryTest(g_pfnEndProcess, &EndProcessInTest), true);

}  // namespace

void ExpectIdleButtons(HWND dlg) {
    EXPECT_TRUE(Enabled(dlg, IDOK));
    EXPECT_TRUE(Enabled(dlg, IDC_OPEN));
    EXPECT_FALSE(Enabled(dlg, IDC_STOP));
}

void ExpectRunningButtons(HWND dlg) {
    EXPECT_FALSE(Enabled(dlg, IDOK));
    EXPECT_FALSE(Enabled(dlg, IDC_OPEN));
    EXPECT_FALSE(Enabled(dlg, IDC_COPY));
    EXPECT_TRUE(Enabled(dlg, IDC_STOP));
}

}  // namespace harness
