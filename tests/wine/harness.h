// The window tests' driver: the framework-free core (harness_core.h) and the
// GoogleTest side of it. Failed setup steps in the core become test failures.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "harness_core.h"

namespace harness {

// Start and Open enabled, Stop disabled (GoogleTest expectations).
void ExpectIdleButtons(HWND dlg);
// A run is active: Start, Open and Copy disabled, Stop enabled.
void ExpectRunningButtons(HWND dlg);

// The rows of a list run against what the test made below the dropped
// targets, results: each row's path and its digest or failure text. Every
// one of them once and nothing else; each target's rows in its place, in
// drop order; and depth first: the rows below any one folder come as one
// block. The order within a folder is the system's search order, which is
// not predictable (under Wine it is not the order of the names).
void ExpectWalked(const std::vector<std::pair<std::wstring, std::wstring>>& rows,
                  const std::vector<std::wstring>& targets, const std::map<std::wstring, std::wstring>& results);

// Installs a Fake for the whole test program, from before its first test
// to after its last.
template <typename T, typename U>
void FakeInEveryTest(T& slot, U fake) {
    struct Installed : ::testing::Environment {
        Installed(T& s, T f) : slot(s), fake(f) {}
        void SetUp() override { held.emplace(slot, fake); }
        void TearDown() override { held.reset(); }
        T& slot;
        const T fake;
        std::optional<Fake<T>> held;
    };
    ::testing::AddGlobalTestEnvironment(new Installed(slot, fake));
}

}  // namespace harness
