// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// A serial executor for the tests: one worker thread running posted tasks in
// order, standing for an application's queue on a thread of its own.
#pragma once

#include "usb_platform.h"

#include <memory>
#include <string>
#include <thread>

namespace tervane::usb {

class SerialExecutor : public TaskQueue {
public:
    explicit SerialExecutor(std::string label);
    // Stops the worker: the task running now finishes, tasks still queued
    // are dropped. Safe to call from a task of this executor itself.
    ~SerialExecutor() override;
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    void post(std::function<void()> task) override;
    // Blocks until every task posted before this call has run. Must not be
    // called from a task of this executor.
    void drain();
    bool isCurrent() const;
    const std::string& label() const { return label_; }

private:
    struct State;
    std::string label_;
    std::shared_ptr<State> state_;
    std::thread worker_;
};

}  // namespace tervane::usb
