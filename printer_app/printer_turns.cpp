// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "printer_turns.h"

#include <algorithm>
#include <chrono>

namespace rvt::app {

namespace {
constexpr size_t kRemembered = 256;
}

PrinterTurns::Outcome PrinterTurns::acquire(int jobId, const std::function<bool()>& cancelled)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (current_ == jobId || std::find(begun_.begin(), begun_.end(), jobId) != begun_.end())
        return Outcome::StartedTwice;
    begun_.push_back(jobId);
    if (begun_.size() > kRemembered)
        begun_.pop_front();
    while (current_ != 0) {
        if (cancelled())
            return Outcome::Cancelled;
        changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
    current_ = jobId;
    return Outcome::Granted;
}

void PrinterTurns::release(int jobId)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (current_ == jobId)
            current_ = 0;
    }
    changed_.notify_all();
}

}  // namespace rvt::app
