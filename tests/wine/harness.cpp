#include "harness.h"

#include <cstdio>
#include <map>

#include "jobs/RunController.h"
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

bool Below(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == L'\\';
}

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

void ExpectWalked(const std::vector<std::pair<std::wstring, std::wstring>>& rows,
                  const std::vector<std::wstring>& targets, const std::map<std::wstring, std::wstring>& results) {
    std::map<std::wstring, std::wstring> seen;
    for (const auto& r : rows) EXPECT_TRUE(seen.insert(r).second) << "twice: " << r.first;
    EXPECT_EQ(seen, results);
    // Row numbers below each folder under a target.
    std::map<std::wstring, std::vector<size_t>> below;
    size_t t = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::wstring& row = rows[i].first;
        while (t < targets.size() && row != targets[t] && !Below(row, targets[t])) ++t;
        if (t == targets.size()) {
            ADD_FAILURE() << "row " << i << " (" << row << ") is not in the place of a target, in drop order";
            return;
        }
        for (size_t k = row.find(L'\\', targets[t].size()); k != std::wstring::npos; k = row.find(L'\\', k + 1))
            below[row.substr(0, k)].push_back(i);
    }
    for (const auto& folder : below)
        EXPECT_EQ(folder.second.back() - folder.second.front() + 1, folder.second.size())
            << "the rows below " << folder.first << " are not one block";
}

}  // namespace harness
