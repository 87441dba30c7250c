// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// A task queue whose posted tasks wait until the test runs them, one at a
// time, on the test's own thread: notifications of the USB layer arrive
// there as they would on an application's queue.
#pragma once

#include "usb_platform.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace tervane::testing {

class TestQueue final : public usb::TaskQueue {
public:
    void post(std::function<void()> task) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        tasks_.push_back(std::move(task));
        ready_.notify_all();
    }
    // Runs the next task; false when none came within the wait.
    bool runNext(std::chrono::milliseconds wait = std::chrono::milliseconds(3000))
    {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> guard(lock_);
            if (!ready_.wait_for(guard, wait, [this] { return !tasks_.empty(); })) {
                return false;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        return true;
    }
    std::size_t pending()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return tasks_.size();
    }

private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
};

}  // namespace tervane::testing
