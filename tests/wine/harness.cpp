#include "harness.h"

#include <gtest/gtest.h>

#include "res/resource.h"

namespace harness {
namespace {

void ReportAsTestFailure(const char* file, int line, const std::string& what) { ADD_FAILURE_AT(file, line) << what; }

// Installed before any test runs: this file is linked into every window test.
const bool s_reporterInstalled = (SetFailureReporter(&ReportAsTestFailure), true);

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
