// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The libusb transport against printers emulated at the usbfs interface.
//
// Runs under LD_PRELOAD=libumockdev-preload.so.0 (set by CTest). Each test
// builds its own testbed before the transport starts libusb.
#include "libusb_platform.h"
#include "umockdev_printer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tervane::usb {
namespace {

using testing::EmulatedDeviceSpec;
using testing::EmulatedPrinter;
using testing::UsbfsCall;
using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::string> callNames(const std::vector<UsbfsCall>& calls)
{
    std::vector<std::string> names;
    for (const UsbfsCall& call : calls) {
        if (call.what != "in" && call.what != "out" && call.what != "discard") {
            names.push_back(call.what);
        }
    }
    return names;
}

class LibusbBackend : public ::testing::Test {
protected:
    void TearDown() override
    {
        claimed_.reset();
        platform_.reset();  // libusb stops before the testbed goes
    }

    void start() { platform_ = makeLibusbPlatform(); }

    // The attached devices with these ids, in bus order.
    std::vector<std::shared_ptr<UsbDevice>> withIds(std::uint16_t vendor, std::uint16_t product)
    {
        std::vector<std::shared_ptr<UsbDevice>> found;
        for (auto& device : platform_->devices()) {
            if (device->description().vendorId == vendor &&
                device->description().productId == product) {
                found.push_back(device);
            }
        }
        return found;
    }

    // Claims interface 0 of the one printer on the bus.
    void openPrinter()
    {
        const auto printers = withIds(0x356C, 0x0033);
        ASSERT_EQ(printers.size(), 1u);
        ASSERT_EQ(printers[0]->interfaces().size(), 1u) << "the printer has one interface";
        ASSERT_EQ(printers[0]->claim(0, &claimed_), kIOReturnSuccess);
    }

    IOReturn write(const std::vector<std::uint8_t>& data, std::uint8_t endpoint = 0x01)
    {
        std::vector<std::uint8_t> copy = data;
        std::uint32_t size = static_cast<std::uint32_t>(copy.size());
        const IOReturn status = claimed_->bulkTransfer(endpoint, copy.data(), &size, 300);
        EXPECT_TRUE(status != kIOReturnSuccess || size == data.size());
        return status;
    }

    IOReturn read(std::vector<std::uint8_t>& out, std::uint32_t timeout = 300,
                  std::uint8_t endpoint = 0x81)
    {
        out.assign(64, 0);
        std::uint32_t size = 64;
        const IOReturn status = claimed_->bulkTransfer(endpoint, out.data(), &size, timeout);
        out.resize(size);
        return status;
    }

    EmulatedPrinter bed_;  // first member: the testbed exists before libusb starts
    std::unique_ptr<UsbPlatform> platform_;
    std::unique_ptr<ClaimedInterface> claimed_;
};

// ---- enumeration -------------------------------------------------------------------

TEST_F(LibusbBackend, ListsDevicesInBusOrderWithTheirPlaceAndSendsNothing)
{
    EmulatedDeviceSpec rootHub;
    rootHub.vendor = 0x1D6B;
    rootHub.product = 0x0002;
    rootHub.address = 1;
    rootHub.rootHub = true;
    EmulatedDeviceSpec hub = rootHub;
    hub.rootHub = false;
    hub.product = 0x0003;
    hub.address = 2;
    hub.ports = "2";
    EmulatedDeviceSpec behindHub;  // bus 1, port 2, then port 3
    behindHub.address = 3;
    behindHub.ports = "2.3";
    EmulatedDeviceSpec sibling;  // bus 1, port 4: same vendor, another product
    sibling.product = 0x0034;
    sibling.address = 4;
    sibling.ports = "4";
    EmulatedDeviceSpec otherBus;  // bus 2, port 5
    otherBus.bus = 2;
    otherBus.address = 5;
    std::vector<std::string> paths;
    for (const EmulatedDeviceSpec& spec : {otherBus, behindHub, rootHub, sibling, hub}) {
        paths.push_back(bed_.addDevice(spec));
    }
    start();
    EXPECT_TRUE(static_cast<libusb::LibusbPlatform&>(*platform_).usbAvailable());

    struct Seen {
        std::uint16_t vendor, product;
        std::uint32_t location;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
    for (const auto& device : platform_->devices()) {
        const DeviceDescription d = device->description();
        seen.push_back({d.vendorId, d.productId, d.locationID});
    }
    EXPECT_EQ(seen, (std::vector<Seen>{{0x1D6B, 0x0002, 0x01000001},
                                       {0x1D6B, 0x0003, 0x01200000},
                                       {0x356C, 0x0033, 0x01230000},
                                       {0x356C, 0x0034, 0x01400000},
                                       {0x356C, 0x0033, 0x02500000}}));
    for (const std::string& path : paths) {
        EXPECT_TRUE(bed_.calls(path).empty()) << path << ": listing opens no device";
    }
}

TEST(LibusbLocation, FromBusAndPortPath)
{
    struct Case {
        const char* what;
        std::uint8_t bus;
        std::vector<std::uint8_t> ports;
        std::uint8_t address;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"one port", 1, {2}, 5, 0x01200000},
        {"behind a hub", 1, {2, 3}, 9, 0x01230000},
        {"six ports, the deepest that fits", 0x14, {1, 2, 3, 4, 5, 15}, 40, 0x1412345F},
        {"root hub: bus and address", 3, {}, 1, 0x03000001},
        {"port above 15: bus and address", 1, {16}, 7, 0x01000007},
        {"seven ports: bus and address", 2, {1, 1, 1, 1, 1, 1, 1}, 99, 0x02000063},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(libusb::locationIDOf(c.bus, c.ports, c.address), c.expected);
    }
}

TEST_F(LibusbBackend, EmptyBusListsNothing)
{
    start();
    EXPECT_TRUE(platform_->devices().empty());
}

// ---- interfaces ---------------------------------------------------------------------------

TEST_F(LibusbBackend, InterfacesFollowTheDescriptors)
{
    struct Case {
        const char* what;
        std::vector<testing::EmulatedEndpoint> endpoints;
        std::vector<EndpointDescription> expected;
    };
    const std::vector<Case> cases = {
        {"printer: bulk out, bulk in",
         {{0x01, 2, 512, 0}, {0x81, 2, 512, 0}},
         {{0x01, kUSBBulk, 512, 0}, {0x81, kUSBBulk, 512, 0}}},
        {"bulk in, interrupt in, bulk out (full speed)",
         {{0x81, 2, 64, 0}, {0x83, 3, 16, 10}, {0x02, 2, 64, 0}},
         {{0x81, kUSBBulk, 64, 0}, {0x83, kUSBInterrupt, 16, 10}, {0x02, kUSBBulk, 64, 0}}},
        {"high-bandwidth interrupt: the size without the extra-transaction bits",
         {{0x85, 3, 0x1400, 4}},
         {{0x85, kUSBInterrupt, 0x400, 4}}},
        {"no endpoints", {}, {}},
    };
    int address = 2;
    for (const Case& c : cases) {
        EmulatedDeviceSpec spec;
        spec.address = address++;
        spec.product = static_cast<std::uint16_t>(0x0100 + spec.address);
        spec.endpoints = c.endpoints;
        bed_.addDevice(spec);
    }
    start();
    address = 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto found = withIds(0x356C, static_cast<std::uint16_t>(0x0100 + address++));
        ASSERT_EQ(found.size(), 1u);
        const std::vector<InterfaceDescription> interfaces = found[0]->interfaces();
        ASSERT_EQ(interfaces.size(), 1u);
        EXPECT_EQ(interfaces[0].number, 0);
        EXPECT_EQ(interfaces[0].interfaceClass, 7);
        ASSERT_EQ(interfaces[0].endpoints.size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            const EndpointDescription& got = interfaces[0].endpoints[i];
            const EndpointDescription& want = c.expected[i];
            EXPECT_EQ(got.address, want.address) << i;
            EXPECT_EQ(got.transferType, want.transferType) << i;
            EXPECT_EQ(got.maxPacketSize, want.maxPacketSize) << i;
            EXPECT_EQ(got.interval, want.interval) << i;
        }
    }
}

// ---- transfers -------------------------------------------------------------------------

TEST_F(LibusbBackend, SettingsExchangeOverTheBulkPipes)
{
    const std::string printer = bed_.addDevice();
    testing::NetworkSettings settings;
    settings.dhcp = true;
    settings.ip = {10, 0, 0, 59};
    settings.mask = {255, 0, 0, 0};
    settings.gateway = {10, 0, 0, 1};
    bed_.setSettings(printer, settings);
    start();
    openPrinter();

    std::vector<std::uint8_t> reply;
    ASSERT_EQ(write(bytes("CheckDHCPToggle?")), kIOReturnSuccess);
    ASSERT_EQ(read(reply, 3000), kIOReturnSuccess);
    EXPECT_EQ(reply, bytes("DHCPToggle=On;"));

    ASSERT_EQ(write(bytes("CheckIP?")), kIOReturnSuccess);
    ASSERT_EQ(read(reply, 3000), kIOReturnSuccess);
    ASSERT_EQ(reply.size(), 18u);
    EXPECT_EQ(std::vector<std::uint8_t>(reply.begin() + 6, reply.end()),
              (std::vector<std::uint8_t>{10, 0, 0, 59, 255, 0, 0, 0, 10, 0, 0, 1}));

    // Static address: mode change, address (with a ';' octet inside), restart.
    ASSERT_EQ(write(bytes("SetDHCPToggle=Off;")), kIOReturnSuccess);
    ASSERT_EQ(read(reply, 3000), kIOReturnSuccess);
    EXPECT_EQ(reply, bytes("SetDHCPToggleOK;"));
    std::vector<std::uint8_t> setIP = bytes("SetIP=");
    setIP.insert(setIP.end(), {192, 168, 1, 59, 255, 255, 255, 0, 192, 168, 1, 1, ';'});
    ASSERT_EQ(write(setIP), kIOReturnSuccess);
    ASSERT_EQ(write(bytes("Restart?")), kIOReturnSuccess);

    const testing::NetworkSettings now = bed_.settings(printer);
    EXPECT_FALSE(now.dhcp);
    EXPECT_EQ(now.ip, (std::array<std::uint8_t, 4>{192, 168, 1, 59}));
    EXPECT_EQ(now.gateway, (std::array<std::uint8_t, 4>{192, 168, 1, 1}));

    // What went out is exactly what was written, one transfer per command.
    std::vector<std::vector<std::uint8_t>> sent;
    for (const UsbfsCall& call : bed_.calls(printer)) {
        if (call.what == "out") {
            EXPECT_EQ(call.value, 0x01u);
            sent.push_back(call.data);
        }
    }
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[1], bytes("CheckIP?"));
    EXPECT_EQ(sent[3], setIP);
}

TEST_F(LibusbBackend, TransferFailuresBecomeStatuses)
{
    struct Case {
        const char* what;
        std::function<void(EmulatedPrinter&, const std::string&)> arrange;
        std::uint8_t endpoint;
        IOReturn expected;
    };
    const std::vector<Case> cases = {
        {"reply longer than the buffer",
         [](EmulatedPrinter& bed, const std::string& p) {
             bed.queueReply(p, std::vector<std::uint8_t>(100, 'x'));
         },
         0x81, kIOReturnOverrun},
        {"stalled in-endpoint",
         [](EmulatedPrinter& bed, const std::string& p) { bed.stallNextRead(p); }, 0x81,
         kIOUSBPipeStalled},
        {"an endpoint the interface lacks", [](EmulatedPrinter&, const std::string&) {}, 0x83,
         kIOReturnIOError},
    };
    const std::string printer = bed_.addDevice();
    start();
    openPrinter();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange(bed_, printer);
        std::vector<std::uint8_t> reply;
        EXPECT_EQ(read(reply, 300, c.endpoint), c.expected);
    }
}

TEST_F(LibusbBackend, ReadWithoutReplyTimesOut)
{
    const std::string printer = bed_.addDevice();
    bed_.setSilent(printer, true);
    start();
    openPrinter();
    ASSERT_EQ(write(bytes("CheckIP?")), kIOReturnSuccess);
    std::vector<std::uint8_t> reply;
    const auto begin = Clock::now();
    EXPECT_EQ(read(reply, 400), kIOReturnTimeout);
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
    EXPECT_GE(waited, 390);
    EXPECT_LT(waited, 2500) << "the time-out was not applied";
    EXPECT_TRUE(reply.empty());
    // The timed-out read was taken back from the device.
    int discards = 0;
    for (const UsbfsCall& call : bed_.calls(printer)) {
        discards += call.what == "discard" && call.value == 0x81;
    }
    EXPECT_EQ(discards, 1);

    // The interface is still usable once the printer answers again.
    bed_.setSilent(printer, false);
    ASSERT_EQ(write(bytes("CheckDHCPToggle?")), kIOReturnSuccess);
    EXPECT_EQ(read(reply), kIOReturnSuccess);
    EXPECT_EQ(reply, bytes("DHCPToggle=Off;"));
}

TEST_F(LibusbBackend, VanishedDeviceReportsNoDevice)
{
    const std::string printer = bed_.addDevice();
    bed_.setSilent(printer, true);
    start();
    const auto printers = withIds(0x356C, 0x0033);
    openPrinter();
    ASSERT_EQ(write(bytes("CheckIP?")), kIOReturnSuccess);

    // Unplugged while a read waits: the read ends with "no device" long
    // before its time-out.
    auto pending = std::async(std::launch::async, [this] {
        std::vector<std::uint8_t> reply;
        const auto begin = Clock::now();
        const IOReturn status = read(reply, 5000);
        return std::make_pair(status, Clock::now() - begin);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    bed_.unplug(printer);
    const auto [status, waited] = pending.get();
    EXPECT_EQ(status, kIOReturnNoDevice);
    EXPECT_LT(waited, std::chrono::milliseconds(4000));

    std::vector<std::uint8_t> reply;
    EXPECT_EQ(write(bytes("CheckIP?")), kIOReturnNoDevice);
    EXPECT_EQ(read(reply), kIOReturnNoDevice);
    // Giving back the interface of a device that is gone is quiet.
    claimed_.reset();
    EXPECT_TRUE(withIds(0x356C, 0x0033).empty());
    // Claiming it again fails the same way.
    std::unique_ptr<ClaimedInterface> again;
    EXPECT_EQ(printers[0]->claim(0, &again), kIOReturnNoDevice);
    EXPECT_EQ(again, nullptr);
}

// ---- kernel driver ---------------------------------------------------------------------

TEST_F(LibusbBackend, KernelDriverIsDetachedWhileClaimedAndGivenBackOnEveryPath)
{
    using Names = std::vector<std::string>;
    struct Case {
        const char* what;
        std::string driver;  // bound when the test starts
        int claimError;      // errno of the claim, 0 = granted
        IOReturn claimStatus;
        Names onClaim;
        Names onRelease;
    };
    const std::vector<Case> cases = {
        {"usblp bound",
         "usblp",
         0,
         kIOReturnSuccess,
         {"getdriver", "getdriver", "disconnect", "claim"},
         {"release", "connect"}},
        {"no driver bound", "", 0, kIOReturnSuccess, {"getdriver", "claim"}, {"release"}},
        {"claim refused after the detach",
         "usblp",
         EBUSY,
         kIOReturnExclusiveAccess,
         {"getdriver", "getdriver", "disconnect", "claim", "connect"},
         {}},
    };
    int address = 2;
    std::vector<std::string> paths;
    for (const Case& c : cases) {
        EmulatedDeviceSpec spec;
        spec.address = address;
        spec.product = static_cast<std::uint16_t>(0x0200 + address);
        spec.kernelDriver = c.driver;
        paths.push_back(bed_.addDevice(spec));
        ++address;
    }
    start();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::string& path = paths[i];
        SCOPED_TRACE(c.what);
        const auto found = withIds(0x356C, static_cast<std::uint16_t>(0x0202 + i));
        ASSERT_EQ(found.size(), 1u);
        if (c.claimError != 0) {
            bed_.failNextClaim(path, c.claimError);
        }
        bed_.clearCalls(path);
        std::unique_ptr<ClaimedInterface> claimed;
        EXPECT_EQ(found[0]->claim(0, &claimed), c.claimStatus);
        EXPECT_EQ(callNames(bed_.calls(path)), c.onClaim);
        EXPECT_EQ(claimed != nullptr, c.claimStatus == kIOReturnSuccess);
        if (claimed) {
            EXPECT_EQ(bed_.boundDriver(path), "") << "the interface is ours while claimed";
        }
        bed_.clearCalls(path);
        claimed.reset();
        EXPECT_EQ(callNames(bed_.calls(path)), c.onRelease);
        EXPECT_EQ(bed_.boundDriver(path), c.driver) << "the driver is back as it was";
    }
}

// ---- hot-plug ---------------------------------------------------------------------------

TEST_F(LibusbBackend, HotPlugReportsArrivalsAndDepartures)
{
    bed_.addDevice();
    start();
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<bool, std::uint16_t>> seen;  // arrived, product id
    std::unique_ptr<HotplugWatch> watch;
    ASSERT_EQ(platform_->watch(
                  [&](bool arrived, const std::shared_ptr<UsbDevice>& device) {
                      std::lock_guard guard(lock);
                      seen.emplace_back(arrived, device->description().productId);
                      changed.notify_all();
                  },
                  &watch),
              kIOReturnSuccess);
    const auto waitFor = [&](std::size_t count) {
        std::unique_lock guard(lock);
        changed.wait_for(guard, std::chrono::seconds(3), [&] { return seen.size() >= count; });
        return seen;
    };
    EmulatedDeviceSpec second;
    second.product = 0x0034;
    second.address = 3;
    const std::string secondPath = bed_.addDevice(second);
    EXPECT_EQ(waitFor(1), (std::vector<std::pair<bool, std::uint16_t>>{{true, 0x0034}}))
        << "only the arrival: the printer already there is not reported";
    bed_.unplug(secondPath);
    EXPECT_EQ(waitFor(2),
              (std::vector<std::pair<bool, std::uint16_t>>{{true, 0x0034}, {false, 0x0034}}));

    // Once the watch is gone nothing more is reported.
    watch.reset();
    EmulatedDeviceSpec late;
    late.address = 7;
    bed_.addDevice(late);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::lock_guard guard(lock);
    EXPECT_EQ(seen.size(), 2u);
}

}  // namespace
}  // namespace tervane::usb
