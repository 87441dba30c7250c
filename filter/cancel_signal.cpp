// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "cancel_signal.h"

#include <atomic>
#include <csignal>
#include <cstring>

namespace rvt {

namespace {

// The one process-wide variable of the filter: a signal handler can touch
// nothing else safely. Atomic, because the page worker thread reads it too;
// lock-free, so that the handler may set it.
std::atomic<sig_atomic_t> gTerminationRequested{0};
static_assert(std::atomic<sig_atomic_t>::is_always_lock_free);

extern "C" void onTerminationSignal(int) { gTerminationRequested = 1; }

}  // namespace

void installSignalHandlers()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    action.sa_handler = onTerminationSignal;
    action.sa_flags = 0;
    sigaction(SIGTERM, &action, nullptr);

    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    sigemptyset(&ignore.sa_mask);
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool terminationRequested() { return gTerminationRequested != 0; }

void resetTerminationRequest() { gTerminationRequested = 0; }

}  // namespace rvt
