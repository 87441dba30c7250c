// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "job_grammar.h"

#include <cstdio>
#include <cstdlib>

namespace rvtsim {

int replyCode(const std::optional<std::string>& reply)
{
    if (!reply)
        return 6;
    char token[5] = {};
    if (std::sscanf(reply->c_str(), "%4s", token) != 1)
        return 0;
    return std::atoi(token);
}

const char* JobGrammar::stateName(State s)
{
    switch (s) {
    case State::BeforeLock:
        return "waiting for the lock";
    case State::Locked:
        return "locked";
    case State::Started:
        return "job started";
    case State::InJob:
        return "between pages";
    case State::InPage:
        return "inside a page";
    case State::Ended:
        return "job ended";
    case State::Unlocked:
        return "unlocked";
    case State::Cancelled:
        return "cancelled";
    }
    return "?";
}

std::string JobGrammar::accept(const Element& e, const std::optional<std::string>& reply)
{
    const State before = state_;
    auto misplaced = [&] { return std::string(kindName(e.kind)) + " while " + stateName(before); };
    if (state_ == State::Cancelled || state_ == State::Unlocked)
        return std::string(kindName(e.kind)) + " after the job was " + stateName(before);

    switch (e.kind) {
    case ElementKind::Cancel:
        state_ = State::Cancelled;
        return {};
    case ElementKind::Status:
        return state_ == State::InPage ? misplaced() : std::string();
    case ElementKind::Lock:
        // Asked again once granted: queries the filter sent while the printer
        // could not be reached arrive together when it can.
        if (state_ != State::BeforeLock && state_ != State::Locked)
            return misplaced();
        if (replyCode(reply) == 2)
            state_ = State::Locked;
        return {};
    case ElementKind::StartOfJob:
        if (state_ != State::Locked)
            return misplaced();
        state_ = State::Started;
        return {};
    case ElementKind::JobHeader:
        if (state_ != State::Started)
            return misplaced();
        state_ = State::InJob;
        return {};
    case ElementKind::PageHeader:
        if (state_ != State::InJob)
            return misplaced();
        state_ = State::InPage;
        return {};
    case ElementKind::Data:
        return state_ == State::InPage ? std::string() : misplaced();
    case ElementKind::EndOfPage:
        if (state_ != State::InPage)
            return misplaced();
        state_ = State::InJob;
        return {};
    case ElementKind::EndOfJob:
        if (state_ != State::InJob)
            return misplaced();
        state_ = State::Ended;
        return {};
    case ElementKind::Unlock:
        if (state_ != State::Ended)
            return misplaced();
        if (int code = replyCode(reply); code == 3 || code == 4)
            state_ = State::Unlocked;
        return {};
    case ElementKind::Garbage:
        return {};  // reported by the parser
    }
    return {};
}

std::string JobGrammar::finish() const
{
    if (state_ == State::Unlocked || state_ == State::Cancelled)
        return {};
    return std::string("stream ended while ") + stateName(state_);
}

}  // namespace rvtsim
