// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Hot-plug observer on the simulated bus.
#include "device_list_observer.h"
#include "serial_executor.h"
#include "usb_test_support.h"

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

namespace tervane::usb {
namespace {

using namespace std::chrono_literals;

struct Event {
    std::string name;
    int product;  // read through the service during the call
    bool onCallbackQueue;
    int task;  // which delivery task made the call
    friend bool operator==(const Event&, const Event&) = default;
};

// The caller's queue: a serial executor that numbers the tasks posted to it.
class CountingQueue : public TaskQueue {
public:
    CountingQueue() : executor("caller") {}
    void post(std::function<void()> task) override
    {
        const int number = ++posted;
        executor.post([this, number, task = std::move(task)] {
            current = number;
            task();
        });
    }
    SerialExecutor executor;
    std::atomic<int> posted{0};
    int current = 0;  // touched on the executor only
};

// Collects handler calls.
class Recorder {
public:
    USBDeviceHandle::ObserverHandler handler()
    {
        return [this](const std::string& name, const DeviceDescription& device) {
            const int product = name == kIOFirstMatchNotification ? device.productId : -1;
            std::lock_guard guard(lock);
            events.push_back({name, product, queue.executor.isCurrent(), queue.current});
            changed.notify_all();
        };
    }

    std::vector<Event> waitFor(std::size_t count, std::chrono::milliseconds limit = 2000ms)
    {
        std::unique_lock guard(lock);
        changed.wait_for(guard, limit, [&] { return events.size() >= count; });
        return events;
    }

    std::vector<Event> settle()
    {
        std::this_thread::sleep_for(100ms);
        queue.executor.drain();
        std::lock_guard guard(lock);
        return events;
    }

    // Blocks the caller's queue until the returned promise is set.
    std::promise<void> hold()
    {
        std::promise<void> release;
        auto held = release.get_future().share();
        queue.executor.post([held] { held.wait(); });
        return release;
    }

    CountingQueue queue;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Event> events;
};

const std::string kFirst = kIOFirstMatchNotification;
const std::string kGone = kIOTerminatedNotification;

TEST(Observer, ReportsAnAttachedDeviceOnceAndItsRemoval)
{
    sim::SimulatedBus bus;
    const auto printer = bus.plug(test::printerLikeDevice());
    bus.plug(test::printerLikeDevice(0x356C, 0x0034));  // other product: not observed
    Recorder recorder;
    auto observer = USBDeviceHandle::observeDeviceList(bus, 0x356C, 0x0033, recorder.queue,
                                                       recorder.handler());
    // One task per registration at creation; only the first-match one has a service.
    EXPECT_EQ(recorder.waitFor(1), (std::vector<Event>{{kFirst, 0x0033, true, 1}}));
    EXPECT_EQ(recorder.settle().size(), 1u);
    EXPECT_EQ(recorder.queue.posted, 2);

    bus.unplug(printer);
    EXPECT_EQ(recorder.waitFor(2),
              (std::vector<Event>{{kFirst, 0x0033, true, 1}, {kGone, -1, true, 3}}));
    EXPECT_EQ(recorder.settle().size(), 2u);
    EXPECT_EQ(recorder.queue.posted, 3);
}

TEST(Observer, TwoDevicesPluggedTogetherComeInOneTask)
{
    sim::SimulatedBus bus;
    Recorder recorder;
    auto observer = USBDeviceHandle::observeDeviceList(bus, recorder.queue, recorder.handler(),
                                                       {kFirst});
    recorder.settle();  // the first (empty) walk arms the notification
    ASSERT_EQ(recorder.queue.posted, 1);

    auto release = recorder.hold();
    bus.plug(test::printerLikeDevice(0x356C, 0x0033));
    bus.plug(test::printerLikeDevice(0x356C, 0x0034));
    release.set_value();
    EXPECT_EQ(recorder.waitFor(2),
              (std::vector<Event>{{kFirst, 0x0033, true, 2}, {kFirst, 0x0034, true, 2}}));
    EXPECT_EQ(recorder.queue.posted, 2);
    EXPECT_EQ(recorder.settle().size(), 2u);
}

TEST(Observer, DroppedObserverReportsNothingMore)
{
    sim::SimulatedBus bus;
    Recorder recorder;
    auto observer = USBDeviceHandle::observeDeviceList(bus, recorder.queue, recorder.handler());
    recorder.settle();
    observer.reset();
    bus.plug(test::printerLikeDevice());
    EXPECT_TRUE(recorder.settle().empty());
    EXPECT_EQ(bus.devicesInUse(), 0u);
}

TEST(Observer, DeliveryQueuedBeforeTeardownDoesNothing)
{
    sim::SimulatedBus bus;
    bus.plug(test::printerLikeDevice());
    Recorder recorder;
    auto release = recorder.hold();
    auto observer = USBDeviceHandle::observeDeviceList(bus, recorder.queue, recorder.handler());
    observer.reset();  // the first-match task is still queued behind the held one
    release.set_value();
    EXPECT_TRUE(recorder.settle().empty());
    EXPECT_EQ(bus.devicesInUse(), 0u);
}

}  // namespace
}  // namespace tervane::usb
