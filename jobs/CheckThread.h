// The checking thread: one per run, started by Start with the run's targets.
// It reaches the window only through the run's records (app/RunDisplay.h),
// which the window applies in order; it never waits for the window.
#pragma once
#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "app/RunDisplay.h"
#include "framework/AfxString.h"
#include "jobs/RunFlag.h"
#include "jobs/TargetList.h"

// One run, shared by the window's side (jobs/RunController.cpp) and the
// run's checking thread.
struct CheckRun {
    // What Start accepted, fixed for the run: in the compact layout the one
    // path; in the list layout the list's rows as they stood (column 0, and
    // whether the walk made the row).
    bool compact = true;
    std::vector<RunTarget> targets;
    // Start accepted the path without asking the file system whether it
    // names anything (a placeholder): the thread does not ask either.
    bool pathAccepted = false;
    // The main window, told (posted to) when the run's closing event is recorded.
    HWND window = nullptr;

    // Written by the thread, read by the window when it gives the run up:
    // the row being digested (kSingle for the single path, kWalking during
    // the walk), and the number of rows the walk left in the list.
    static const int kWalking = -2;
    static const int kSingle = -1;
    std::atomic<int> row{kWalking};
    std::atomic<int> rows{-1};

    RunTicket ticket;
    CRunEvents events;
};

// Thread entry. param is a std::shared_ptr<CheckRun> made with new, which
// the thread deletes.
DWORD WINAPI CheckThreadProc(LPVOID param);
