// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "simulated_bus.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace tervane::usb::sim {

namespace {

// One plugged device and what the bus knows of it.
struct Slot {
    std::shared_ptr<VirtualDevice> device;
    DeviceDescription description;
    std::vector<InterfaceSpec> interfaces;
    bool attached = true;
    std::set<std::uint8_t> claimed;  // interface numbers
    std::set<std::uint8_t> halted;   // endpoint addresses
};

struct Watcher {
    UsbPlatform::HotplugHandler handler;
};

}  // namespace

struct SimulatedBus::State {
    std::mutex lock;
    std::condition_variable changed;
    double timeScale = 1.0;
    std::map<DeviceId, std::shared_ptr<Slot>> slots;  // bus order: by id
    DeviceId nextId = 1;
    std::size_t devicesInUse = 0;
    std::size_t claims = 0;
    // Watchers are called under callLock, outside lock: a watcher's end waits
    // for a call under way.
    std::mutex callLock;
    std::vector<std::shared_ptr<Watcher>> watchers;

    std::chrono::steady_clock::duration scaled(std::uint32_t milliseconds) const
    {
        return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double, std::milli>(milliseconds * timeScale));
    }

    void announce(bool arrived, const std::shared_ptr<UsbDevice>& device)
    {
        std::lock_guard calls(callLock);
        for (const auto& watcher : watchers) {
            watcher->handler(arrived, device);
        }
    }
};

namespace {

class SimClaim final : public ClaimedInterface {
public:
    SimClaim(std::shared_ptr<SimulatedBus::State> state, std::shared_ptr<Slot> slot,
             std::uint8_t number)
        : state_(std::move(state)), slot_(std::move(slot)), number_(number)
    {
    }
    ~SimClaim() override
    {
        std::lock_guard guard(state_->lock);
        slot_->claimed.erase(number_);
        --state_->claims;
    }
    SimClaim(const SimClaim&) = delete;
    SimClaim& operator=(const SimClaim&) = delete;

    IOReturn bulkTransfer(std::uint8_t endpoint, std::uint8_t* data, std::uint32_t* size,
                          std::uint32_t timeout) override
    {
        std::unique_lock guard(state_->lock);
        if (!slot_->attached) {
            *size = 0;
            return kIOReturnNoDevice;
        }
        if (slot_->halted.count(endpoint) != 0) {
            *size = 0;
            return kIOUSBPipeStalled;
        }
        if ((endpoint & 0x80) == 0) {
            const WriteOutcome outcome = slot_->device->receive(number_, endpoint,
                                                                Bytes(data, data + *size));
            slot_->halted.insert(outcome.haltEndpoints.begin(), outcome.haltEndpoints.end());
            if (outcome.status != kIOReturnSuccess) {
                *size = 0;
            }
            state_->changed.notify_all();
            if (outcome.unplug) {
                const std::shared_ptr<Slot> slot = slot_;
                guard.unlock();
                unplugSlot(slot);
            }
            return outcome.status;
        }
        const auto deadline = std::chrono::steady_clock::now() + state_->scaled(timeout);
        for (;;) {
            if (!slot_->attached) {
                *size = 0;
                return kIOReturnNoDevice;
            }
            if (slot_->halted.count(endpoint) != 0) {
                *size = 0;
                return kIOUSBPipeStalled;
            }
            if (auto reply = slot_->device->nextIn(number_, endpoint)) {
                if (reply->size() > *size) {
                    *size = 0;
                    return kIOReturnOverrun;
                }
                std::copy(reply->begin(), reply->end(), data);
                *size = static_cast<std::uint32_t>(reply->size());
                return kIOReturnSuccess;
            }
            const auto now = std::chrono::steady_clock::now();
            if (timeout != 0 && now >= deadline) {
                *size = 0;
                return kIOReturnTimeout;
            }
            // Short slices: data queued on the device directly is noticed too.
            auto until = now + std::chrono::milliseconds(5);
            if (timeout != 0) {
                until = std::min(until, deadline);
            }
            state_->changed.wait_until(guard, until);
        }
    }

private:
    void unplugSlot(const std::shared_ptr<Slot>& slot);

    std::shared_ptr<SimulatedBus::State> state_;
    std::shared_ptr<Slot> slot_;
    std::uint8_t number_;
};

class SimDevice final : public UsbDevice {
public:
    SimDevice(std::shared_ptr<SimulatedBus::State> state, std::shared_ptr<Slot> slot)
        : state_(std::move(state)), slot_(std::move(slot))
    {
        std::lock_guard guard(state_->lock);
        ++state_->devicesInUse;
    }
    ~SimDevice() override
    {
        std::lock_guard guard(state_->lock);
        --state_->devicesInUse;
    }
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    DeviceDescription description() const override { return slot_->description; }
    std::vector<InterfaceDescription> interfaces() const override { return slot_->interfaces; }

    IOReturn claim(std::uint8_t number, std::unique_ptr<ClaimedInterface>* claimed) override
    {
        std::lock_guard guard(state_->lock);
        if (!slot_->attached) {
            return kIOReturnNoDevice;
        }
        if (slot_->device->faults.interfaceOpen != kIOReturnSuccess) {
            return slot_->device->faults.interfaceOpen;
        }
        const bool known = std::any_of(slot_->interfaces.begin(), slot_->interfaces.end(),
                                       [&](const InterfaceSpec& i) { return i.number == number; });
        if (!known) {
            return kIOReturnNotFound;
        }
        if (!slot_->claimed.insert(number).second) {
            return kIOReturnExclusiveAccess;  // claimed by another handle
        }
        ++state_->claims;
        *claimed = std::make_unique<SimClaim>(state_, slot_, number);
        return kIOReturnSuccess;
    }

    const std::shared_ptr<Slot>& slot() const { return slot_; }

private:
    std::shared_ptr<SimulatedBus::State> state_;
    std::shared_ptr<Slot> slot_;
};

// Takes the device off the bus; every transfer waiting on it ends.
void takeOff(const std::shared_ptr<SimulatedBus::State>& state, const std::shared_ptr<Slot>& slot)
{
    {
        std::lock_guard guard(state->lock);
        if (!slot->attached) {
            return;
        }
        slot->attached = false;
        std::erase_if(state->slots, [&](const auto& entry) { return entry.second == slot; });
        state->changed.notify_all();
    }
    state->announce(false, std::make_shared<SimDevice>(state, slot));
}

void SimClaim::unplugSlot(const std::shared_ptr<Slot>& slot) { takeOff(state_, slot); }

class SimWatch final : public HotplugWatch {
public:
    SimWatch(std::shared_ptr<SimulatedBus::State> state, std::shared_ptr<Watcher> watcher)
        : state_(std::move(state)), watcher_(std::move(watcher))
    {
    }
    ~SimWatch() override
    {
        std::lock_guard calls(state_->callLock);
        std::erase(state_->watchers, watcher_);
    }
    SimWatch(const SimWatch&) = delete;
    SimWatch& operator=(const SimWatch&) = delete;

private:
    std::shared_ptr<SimulatedBus::State> state_;
    std::shared_ptr<Watcher> watcher_;
};

}  // namespace

SimulatedBus::SimulatedBus() : state_(std::make_shared<State>()) {}

SimulatedBus::~SimulatedBus() = default;

SimulatedBus::DeviceId SimulatedBus::plug(std::shared_ptr<VirtualDevice> device)
{
    auto slot = std::make_shared<Slot>();
    DeviceId id = 0;
    {
        std::lock_guard guard(state_->lock);
        id = state_->nextId++;
        slot->description.vendorId = device->vendorId();
        slot->description.productId = device->productId();
        slot->description.locationID = locationOf(id);
        slot->interfaces = device->interfaces();
        slot->device = std::move(device);
        state_->slots[id] = slot;
    }
    state_->announce(true, std::make_shared<SimDevice>(state_, slot));
    return id;
}

void SimulatedBus::unplug(DeviceId device)
{
    std::shared_ptr<Slot> slot;
    {
        std::lock_guard guard(state_->lock);
        auto found = state_->slots.find(device);
        if (found == state_->slots.end()) {
            return;
        }
        slot = found->second;
    }
    takeOff(state_, slot);
}

std::uint32_t SimulatedBus::locationOf(DeviceId device)
{
    return 0x01100000u + (static_cast<std::uint32_t>(device) << 16);
}

void SimulatedBus::setTimeScale(double scale)
{
    std::lock_guard guard(state_->lock);
    state_->timeScale = scale;
}

std::size_t SimulatedBus::devicesInUse() const
{
    std::lock_guard guard(state_->lock);
    return state_->devicesInUse;
}

std::size_t SimulatedBus::claimsHeld() const
{
    std::lock_guard guard(state_->lock);
    return state_->claims;
}

std::vector<std::shared_ptr<UsbDevice>> SimulatedBus::devices()
{
    std::vector<std::shared_ptr<Slot>> attached;
    {
        std::lock_guard guard(state_->lock);
        for (const auto& [id, slot] : state_->slots) {
            attached.push_back(slot);
        }
    }
    std::vector<std::shared_ptr<UsbDevice>> found;
    for (auto& slot : attached) {
        found.push_back(std::make_shared<SimDevice>(state_, std::move(slot)));
    }
    return found;
}

IOReturn SimulatedBus::watch(HotplugHandler handler, std::unique_ptr<HotplugWatch>* watch)
{
    auto watcher = std::make_shared<Watcher>(Watcher{std::move(handler)});
    {
        std::lock_guard calls(state_->callLock);
        state_->watchers.push_back(watcher);
    }
    *watch = std::make_unique<SimWatch>(state_, std::move(watcher));
    return kIOReturnSuccess;
}

}  // namespace tervane::usb::sim
