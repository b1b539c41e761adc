// The run flag shared by the window thread and the checking thread, and the
// ticket by which a run that is stuck in a call can be given up.
#pragma once
#include <atomic>

// 1 while a check may proceed, 0 otherwise. Start sets it; Stop, failures and
// the end of a run clear it. Every loop of the checking thread tests it for
// exactly 1.
extern std::atomic<int> g_bWorking;

// One per run, shared by the window thread and the run's checking thread.
// A call to the file system can take any time to return (a hung network
// share, a dead drive); while the checking thread is inside one, the window
// may give the run up and close it on its own. The thread then touches
// nothing shared any more, whenever its call returns: it only ends.
struct RunTicket {
    enum State { kRunning, kInCall, kGivenUp };
    std::atomic<int> state{kRunning};
};

// Checking thread: the ticket of the run this thread works for (none: the
// thread's runs are never given up, as in the portable tests).
void SetThreadRunTicket(RunTicket* ticket);
// Checking thread, around every call that may block for long. Between the
// two the window may give the run up; EndBlockingCall returns false when it
// did, and from then on the thread must touch nothing shared.
void BeginBlockingCall();
bool EndBlockingCall();
// Checking thread: true once the window has given this thread's run up.
bool RunGivenUp();
// The run may go on: the flag is 1 and the run was not given up.
inline bool RunGoesOn() { return g_bWorking.load() == 1 && !RunGivenUp(); }

// Window thread: gives the run up if its thread is inside a blocking call
// (true), or leaves it running when the thread is between calls (false).
bool GiveUpRun(RunTicket* ticket);
