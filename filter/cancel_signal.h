// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The termination signal. The scheduler stops a job with SIGTERM; the handler
// only records the request, and the job runs its cancel sequence at its next
// safe point (never in the middle of a command or a data chunk).
#pragma once

namespace rvt {

// SIGTERM sets the termination flag; SIGPIPE is ignored so that a backend
// that has gone away shows up as a write error instead of killing the job.
// SIGTERM is installed without SA_RESTART, so that a blocked read, write or
// sleep returns early and the job gets to its next safe point at once.
void installSignalHandlers();

// True once SIGTERM has arrived.
bool terminationRequested();

// Clears the flag (for tests that raise the signal themselves).
void resetTerminationRequest();

}  // namespace rvt
