// The window tests' driver: the framework-free core (harness_core.h) and the
// GoogleTest side of it. Failed setup steps in the core become test failures.
#pragma once
#include <gtest/gtest.h>

#include <optional>

#include "harness_core.h"

namespace harness {

// Start and Open enabled, Stop disabled (GoogleTest expectations).
void ExpectIdleButtons(HWND dlg);
// A run is active: Start, Open and Copy disabled, Stop enabled.
void ExpectRunningButtons(HWND dlg);

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
