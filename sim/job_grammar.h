// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The order of a job as the printer expects it: lock until granted, start of
// job, job header, pages (page header, data chunks, end of page), end of job,
// unlock until released; a cancel query ends the job at any point.
#pragma once

#include "stream_parser.h"

#include <optional>
#include <string>

namespace rvtsim {

// The reply code the filter reads from a reply text: its first blank-delimited
// token, at most 4 characters, as a decimal number (0 when it has no leading
// digits). No reply at all counts as 6.
int replyCode(const std::optional<std::string>& reply);

class JobGrammar {
public:
    enum class State { BeforeLock, Locked, Started, InJob, InPage, Ended, Unlocked, Cancelled };

    // Checks `e` against the state and moves on; `reply` is what the printer
    // answered to it (exchanges only). Returns a description of the fault, or
    // an empty text when the element was in its place.
    std::string accept(const Element& e, const std::optional<std::string>& reply);
    // At the end of the stream: a fault when the job did not end properly.
    std::string finish() const;

    State state() const { return state_; }
    static const char* stateName(State s);

private:
    State state_ = State::BeforeLock;
};

}  // namespace rvtsim
