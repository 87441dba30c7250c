// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "event_loop_queue.h"

#include <QMetaObject>

namespace tervane::ui {

EventLoopQueue::EventLoopQueue(QObject* receiver) : receiver_(receiver) {}

EventLoopQueue::~EventLoopQueue() { close(); }

void EventLoopQueue::post(std::function<void()> task)
{
    // The lock keeps close() (and so the receiver's destruction) from
    // overtaking a post under way on another thread.
    std::lock_guard guard(lock_);
    if (receiver_ == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(receiver_, std::move(task), Qt::QueuedConnection);
}

void EventLoopQueue::close()
{
    std::lock_guard guard(lock_);
    receiver_ = nullptr;
}

}  // namespace tervane::ui
