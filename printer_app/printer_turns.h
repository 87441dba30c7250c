// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// One job at a time in the driver, per printer. The framework can start a
// second job of a printer while one is still printing (a streamed raster job
// beside a spooled one); both would share the printer's connection and read
// each other's replies. So a job waits here for its printer, and a job the
// framework starts a second time is refused.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace rvt::app {

class PrinterTurns {
public:
    enum class Outcome { Granted, StartedTwice, Cancelled };

    // Waits until no other job of the printer is in the driver. `cancelled`
    // is asked every so often while it waits.
    Outcome acquire(int jobId, const std::function<bool()>& cancelled);
    void release(int jobId);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int current_ = 0;        // the job in the driver, 0 for none
    std::deque<int> begun_;  // jobs that have been in the driver, newest last
};

}  // namespace rvt::app
