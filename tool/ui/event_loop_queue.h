// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// A TaskQueue that runs its tasks in the Qt event loop of one QObject's
// thread, so the USB layer's hot-plug deliveries arrive on the window's
// thread like any other event.
#pragma once

#include "usb_platform.h"

#include <QObject>

#include <memory>
#include <mutex>

namespace tervane::ui {

class EventLoopQueue : public usb::TaskQueue {
public:
    // Tasks run on receiver's thread, queued behind the events already
    // waiting there. They are dropped once the queue is closed or the
    // receiver is gone.
    explicit EventLoopQueue(QObject* receiver);
    ~EventLoopQueue() override;
    EventLoopQueue(const EventLoopQueue&) = delete;
    EventLoopQueue& operator=(const EventLoopQueue&) = delete;

    // May be called from any thread.
    void post(std::function<void()> task) override;
    // After this, post() drops every task.
    void close();

private:
    std::mutex lock_;
    QObject* receiver_;
};

}  // namespace tervane::ui
