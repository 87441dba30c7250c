// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// USB printers emulated at the kernel's usbfs interface with umockdev.
//
// A testbed (its directory is rootDir()) holds one or more USB devices
// described by sysfs attributes and a descriptor blob. A process that runs
// with libumockdev-preload in LD_PRELOAD and UMOCKDEV_DIR set to that
// directory sees them as its USB bus: this process or another one. Every
// ioctl it makes on a device node comes here and is answered the way the
// kernel would for a printer-class interface (class 7, subclass 1,
// protocol 2) with one bulk-out and one bulk-in endpoint: URBs are
// submitted, completed and reaped; unanswered reads wait until the host
// discards them; control requests on endpoint 0 get the device's
// descriptors, strings and IEEE 1284 device ID; the interface can be bound
// to a kernel driver ("usblp") that must be disconnected before it can be
// claimed; closing the device node releases what it held; a device can
// stall its in-endpoint, take its bulk-out data slowly or vanish from the
// bus.
//
// What the device does with the bytes it receives is its owner's business:
// the handlers below see them, and queueReply() puts bytes on the bulk-in
// endpoint.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;
typedef struct _GSource GSource;
typedef struct _GObject GObject;

namespace rvtusb {

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
    // String descriptors; an empty one is absent (index 0).
    std::string manufacturer = "RVT";
    std::string productName = "RV-T4410LW";
    std::string serial;
    // The IEEE 1284 device ID the printer class request GET_DEVICE_ID
    // returns; empty: that request stalls.
    std::string deviceId;
};

// One call the code under test made on a device node, as the kernel saw it.
struct UsbfsCall {
    std::string what;                // "getdriver", "disconnect", "connect", "claim", "release",
                                     // "disconnect-claim", "clear-halt", "out", "in", "discard"
    unsigned value = 0;              // interface number or endpoint address
    std::vector<std::uint8_t> data;  // bytes written on an out-endpoint
};

// What the host does that the device's own function sees. Called on
// umockdev's thread, one at a time and without the emulation's lock held,
// so they may call back into it (queueReply()).
struct DeviceHandlers {
    // Bytes the device took from its bulk-out endpoint, one transfer.
    std::function<void(const std::string& syspath, std::vector<std::uint8_t> bytes)> bulkOut;
    // The interface was claimed (true) or released (false), by the call or
    // by closing the device node that held it.
    std::function<void(const std::string& syspath, bool claimed)> claim;
};

class UsbfsEmulation {
public:
    UsbfsEmulation();
    ~UsbfsEmulation();
    UsbfsEmulation(const UsbfsEmulation&) = delete;
    UsbfsEmulation& operator=(const UsbfsEmulation&) = delete;

    // The testbed's directory, UMOCKDEV_DIR for the processes that use it.
    std::string rootDir() const;

    // Adds a device to the testbed; returns its sysfs path. Devices added
    // before a host starts are found by enumeration, later ones by hot-plug.
    std::string addDevice(const EmulatedDeviceSpec& spec = {}, DeviceHandlers handlers = {});
    // The device drops off the bus: every further call on an open node fails
    // with ENODEV, in-flight transfers included, and a "remove" event tells
    // the udev listeners.
    void unplug(const std::string& syspath);

    void stallNextRead(const std::string& syspath);             // next in-URB ends with EPIPE
    void failNextClaim(const std::string& syspath, int error);  // next claim fails with errno
    // Bytes for the bulk-in endpoint: one transfer each, in order.
    void queueReply(const std::string& syspath, std::vector<std::uint8_t> bytes);
    // Forgets the bytes queued for the bulk-in endpoint and not yet read.
    void dropReplies(const std::string& syspath);
    // Every bulk-out transfer completes `ms` milliseconds after it was
    // submitted, its bytes handed on then: a device that reads slowly.
    void setOutDelay(const std::string& syspath, int ms);
    std::string boundDriver(const std::string& syspath) const;
    // The device node loses every permission bit (mode 0000), as a node the
    // system gives to no ordinary user; root still opens it.
    void denyAccess(const std::string& syspath);

    std::vector<UsbfsCall> calls(const std::string& syspath) const;
    void clearCalls(const std::string& syspath);

    // A host killed in the middle of a call can leave its device node open
    // in umockdev for good, and its claim with it. A claim whose node has
    // made no call for `silence` is released here as if the node had been
    // closed (libusb, while a transfer is under way, reaps many times a
    // second). Call it now and then; for hosts that may stay silent while
    // they hold the interface, do not.
    void releaseSilentClaims(std::chrono::milliseconds silence);

private:
    struct Urb {
        UMockdevIoctlData* data = nullptr;  // our reference on the URB copy
        UMockdevIoctlClient* client = nullptr;
    };
    struct Device {
        EmulatedDeviceSpec spec;
        DeviceHandlers handlers;
        std::string syspath;
        std::string devnode;
        bool stallRead = false;
        bool vanished = false;
        int claimError = 0;
        bool claimed = false;
        UMockdevIoctlClient* claimedBy = nullptr;
        std::chrono::steady_clock::time_point claimantCall;  // its last call
        int outDelayMs = 0;
        std::string driver;
        std::deque<std::vector<std::uint8_t>> replies;
        std::deque<Urb> waitingReads;
        std::deque<Urb> done;
        std::vector<UsbfsCall> calls;
    };
    struct SlowOut;
    // What the handlers are to hear once the lock is given up.
    struct Notice {
        const DeviceHandlers* handlers = nullptr;
        std::string syspath;
        std::optional<std::vector<std::uint8_t>> bulkOut;
        std::optional<bool> claim;
    };

    static int onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    static void onClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    static void onClientNotify(UMockdevIoctlClient* client, void* pspec, void* self);
    static int onSlowOutDone(void* slowOut);
    bool handle(UMockdevIoctlClient* client, Notice& notice);
    void submitControl(Device& d, UMockdevIoctlData* urbData, UMockdevIoctlClient* client);
    void clientGone(UMockdevIoctlClient* client);
    Device* byNode(const std::string& node);
    Device& bySyspath(const std::string& syspath);
    const Device& bySyspath(const std::string& syspath) const;
    void feedWaitingReads(Device& d);
    static void notify(Notice& notice);
    static void release(std::deque<Urb>& urbs);

    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;
    mutable std::mutex mutex_;
    std::map<std::string, std::unique_ptr<Device>> devices_;  // by sysfs path
    std::set<GSource*> slowOuts_;                             // bulk-out transfers under way
    std::set<GObject*> clients_;                              // open device nodes
};

// The descriptor blob of a device as sysfs shows it: device descriptor,
// then the one configuration with one interface and its endpoints.
std::vector<std::uint8_t> descriptorBlob(const EmulatedDeviceSpec& spec);

}  // namespace rvtusb
