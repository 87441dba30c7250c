// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// An RV-T4410LW emulated at the kernel's usbfs interface with umockdev.
//
// The test process runs with libumockdev-preload in LD_PRELOAD. A testbed
// holds one or more USB devices described by sysfs attributes and a
// descriptor blob; every ioctl that libusb makes on a device node comes to
// this class, which answers it the way the kernel would for a printer with
// one bulk-out and one bulk-in endpoint: URBs are submitted, completed and
// reaped, unanswered reads wait until libusb discards them on its time-out,
// the interface can be bound to a kernel driver ("usblp") that must be
// disconnected before the interface can be claimed, and a device can stall
// its in-endpoint or vanish from the bus.
//
// The printer answers the settings commands from its own state: DHCP on or
// off, address, mask and gateway; "SetIP=" and the toggle commands change the
// pending settings and "Restart?" applies them.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace tervane::testing {

struct EmulatedEndpoint {
    std::uint8_t address = 0;     // bit 7 set: in
    std::uint8_t attributes = 2;  // transfer type in bits 0..1 (2 = bulk)
    std::uint16_t maxPacketSize = 512;
    std::uint8_t interval = 0;
};

struct EmulatedDeviceSpec {
    std::uint16_t vendor = 0x356C;
    std::uint16_t product = 0x0033;
    int bus = 1;
    int address = 2;
    // Where the device hangs: the ports from the root hub, "2" or "2.3"
    // (its sysfs name is then "<bus>-2.3"); empty: the address is the port.
    // A root hub ("usb<bus>") when rootHub is set.
    std::string ports;
    bool rootHub = false;
    std::uint8_t interfaceNumber = 0;
    std::vector<EmulatedEndpoint> endpoints = {{0x01, 2, 512, 0}, {0x81, 2, 512, 0}};
    std::string kernelDriver = "usblp";  // empty: no driver bound
};

struct NetworkSettings {
    bool dhcp = false;
    std::array<std::uint8_t, 4> ip{192, 168, 1, 20};
    std::array<std::uint8_t, 4> mask{255, 255, 255, 0};
    std::array<std::uint8_t, 4> gateway{192, 168, 1, 1};
};

// One call the code under test made on a device node, as the kernel saw it.
struct UsbfsCall {
    std::string what;                // "getdriver", "disconnect", "connect", "claim", "release",
                                     // "disconnect-claim", "clear-halt", "out", "in", "discard"
    unsigned value = 0;              // interface number or endpoint address
    std::vector<std::uint8_t> data;  // bytes written on an out-endpoint
};

class EmulatedPrinter {
public:
    EmulatedPrinter();
    ~EmulatedPrinter();
    EmulatedPrinter(const EmulatedPrinter&) = delete;
    EmulatedPrinter& operator=(const EmulatedPrinter&) = delete;

    // Adds a device to the testbed; returns its sysfs path. Devices added
    // before the backend starts are found by enumeration, later ones by
    // hot-plug.
    std::string addDevice(const EmulatedDeviceSpec& spec = {});
    // The device drops off the bus: every further call on an open node fails
    // with ENODEV, in-flight transfers included, and a "remove" event tells
    // the udev listeners.
    void unplug(const std::string& syspath);

    // Scripting, per device (by sysfs path).
    void setSettings(const std::string& syspath, const NetworkSettings& s);
    NetworkSettings settings(const std::string& syspath) const;
    void setSilent(const std::string& syspath, bool silent);    // no replies at all
    void stallNextRead(const std::string& syspath);             // next in-URB ends with EPIPE
    void failNextClaim(const std::string& syspath, int error);  // next claim fails with errno
    void queueReply(const std::string& syspath, std::vector<std::uint8_t> bytes);
    std::string boundDriver(const std::string& syspath) const;
    // The device node loses every permission bit (mode 0000), as a node the
    // system gives to no ordinary user. Root still opens it unless the
    // opening thread has given up its file-access capabilities
    // (ThreadWithoutFileAccessOverride).
    void denyAccess(const std::string& syspath);

    std::vector<UsbfsCall> calls(const std::string& syspath) const;
    void clearCalls(const std::string& syspath);

private:
    struct Urb {
        UMockdevIoctlData* data = nullptr;  // our reference on the URB copy
    };
    struct Device {
        EmulatedDeviceSpec spec;
        std::string syspath;
        std::string devnode;
        NetworkSettings active;
        NetworkSettings pending;
        bool silent = false;
        bool stallRead = false;
        bool vanished = false;
        int claimError = 0;
        bool claimed = false;
        std::string driver;
        std::deque<std::vector<std::uint8_t>> replies;
        std::deque<UMockdevIoctlData*> waitingReads;
        std::deque<UMockdevIoctlData*> done;
        std::vector<UsbfsCall> calls;
    };

    static int onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    bool handle(UMockdevIoctlClient* client);
    Device* byNode(const std::string& node);
    Device& bySyspath(const std::string& syspath);
    const Device& bySyspath(const std::string& syspath) const;
    void answer(Device& d, const std::vector<std::uint8_t>& command);
    void feedWaitingReads(Device& d);
    static void release(std::deque<UMockdevIoctlData*>& urbs);

    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;
    mutable std::mutex mutex_;
    std::map<std::string, std::unique_ptr<Device>> devices_;  // by sysfs path
};

// While one lives, the calling thread runs as an ordinary user would with
// respect to file permissions: the capabilities that let root ignore them
// (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH) leave its effective set, and come
// back when it goes. Capabilities belong to a thread, so other threads are
// not affected.
class ThreadWithoutFileAccessOverride {
public:
    ThreadWithoutFileAccessOverride();
    ~ThreadWithoutFileAccessOverride();
    ThreadWithoutFileAccessOverride(const ThreadWithoutFileAccessOverride&) = delete;
    ThreadWithoutFileAccessOverride& operator=(const ThreadWithoutFileAccessOverride&) = delete;

private:
    unsigned effective_[2] = {0, 0};
};

// The descriptor blob of a device as sysfs shows it: device descriptor,
// then the one configuration with one interface and its endpoints.
std::vector<std::uint8_t> descriptorBlob(const EmulatedDeviceSpec& spec);

}  // namespace tervane::testing
