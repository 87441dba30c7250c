// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "serial_executor.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>

namespace tervane::usb {

struct SerialExecutor::State {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
};

SerialExecutor::SerialExecutor(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>())
{
    // The worker shares the state, so it may outlive the executor when the
    // executor is destroyed from one of its own tasks.
    worker_ = std::thread([state = state_] {
        std::unique_lock guard(state->lock);
        for (;;) {
            state->wake.wait(guard, [&] { return state->stopping || !state->tasks.empty(); });
            if (state->stopping) {
                return;
            }
            auto task = std::move(state->tasks.front());
            state->tasks.pop_front();
            guard.unlock();
            task();
            task = nullptr;
            guard.lock();
        }
    });
}

SerialExecutor::~SerialExecutor()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard guard(state_->lock);
        state_->stopping = true;
        dropped.swap(state_->tasks);
    }
    state_->wake.notify_all();
    dropped.clear();
    if (worker_.get_id() == std::this_thread::get_id()) {
        worker_.detach();
    } else {
        worker_.join();
    }
}

void SerialExecutor::post(std::function<void()> task)
{
    // Once the task is queued it may run and even destroy this executor:
    // only the shared state is touched after that.
    const std::shared_ptr<State> state = state_;
    {
        std::lock_guard guard(state->lock);
        if (state->stopping) {
            return;
        }
        state->tasks.push_back(std::move(task));
    }
    state->wake.notify_one();
}

void SerialExecutor::drain()
{
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    {
        std::lock_guard guard(state_->lock);
        if (state_->stopping) {
            return;
        }
        state_->tasks.push_back([done] { done->set_value(); });
    }
    state_->wake.notify_one();
    finished.wait();
}

bool SerialExecutor::isCurrent() const { return worker_.get_id() == std::this_thread::get_id(); }

}  // namespace tervane::usb
