#include "jobs/RunFlag.h"

std::atomic<int> g_bWorking{0};

namespace {
thread_local RunTicket* t_ticket = nullptr;
}

void SetThreadRunTicket(RunTicket* ticket) { t_ticket = ticket; }

void BeginBlockingCall() {
    if (!t_ticket) return;
    int expected = RunTicket::kRunning;
    t_ticket->state.compare_exchange_strong(expected, RunTicket::kInCall);
}

bool EndBlockingCall() {
    if (!t_ticket) return true;
    int expected = RunTicket::kInCall;
    return t_ticket->state.compare_exchange_strong(expected, RunTicket::kRunning) ||
           expected == RunTicket::kRunning;
}

bool RunGivenUp() { return t_ticket && t_ticket->state.load() == RunTicket::kGivenUp; }

bool GiveUpRun(RunTicket* ticket) {
    int expected = RunTicket::kInCall;
    return ticket->state.compare_exchange_strong(expected, RunTicket::kGivenUp) ||
           expected == RunTicket::kGivenUp;
}
