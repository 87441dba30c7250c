// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The libusb backend against a printer emulated at the usbfs interface.
//
// Runs under LD_PRELOAD=libumockdev-preload.so.0 (set by CTest). Each test
// builds its own testbed before the backend starts libusb.
#include "libusb_platform.h"
#include "test_queue.h"
#include "umockdev_printer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace tervane::usb {
namespace {

using testing::EmulatedDeviceSpec;
using testing::EmulatedPrinter;
using testing::TestQueue;
using testing::UsbfsCall;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kVendor = 0x356C;
constexpr std::int64_t kProduct = 0x0033;

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

MatchingDictionary deviceMatching(std::optional<std::int64_t> vendor,
                                  std::optional<std::int64_t> product)
{
    MatchingDictionary matching = IOServiceMatching(kIOUSBHostDeviceClassName);
    if (vendor) {
        matching[kUSBVendorID] = *vendor;
    }
    if (product) {
        matching[kUSBProductID] = *product;
    }
    return matching;
}

class LibusbBackend : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (interface_ != nullptr) {
            (*interface_)->Release(interface_);
        }
        if (device_ != nullptr) {
            (*device_)->Release(device_);
        }
        platform_.reset();  // libusb stops before the testbed goes
    }

    void start() { platform_ = makeLibusbPlatform(); }

    std::vector<io_service_t> services(const MatchingDictionary& matching)
    {
        io_iterator_t iterator = IO_OBJECT_NULL;
        EXPECT_EQ(platform_->getMatchingServices(matching, &iterator), kIOReturnSuccess);
        std::vector<io_service_t> found;
        while (io_service_t service = platform_->iteratorNext(iterator)) {
            found.push_back(service);
        }
        platform_->objectRelease(iterator);
        return found;
    }

    template <class Ref>
    Ref query(io_service_t service, CFUUIDRef pluginType, CFUUIDRef interfaceType)
    {
        IOCFPlugInInterfaceRef plugIn = nullptr;
        std::int32_t score = -1;
        EXPECT_EQ(platform_->createPlugInInterfaceForService(
                      service, *pluginType, *kIOCFPlugInInterfaceID(), &plugIn, &score),
                  kIOReturnSuccess);
        if (plugIn == nullptr) {
            return nullptr;
        }
        void* object = nullptr;
        EXPECT_EQ((*plugIn)->QueryInterface(plugIn, *interfaceType, &object), 0);
        (*plugIn)->Release(plugIn);
        return static_cast<Ref>(object);
    }

    IOUSBDeviceRef deviceFor(io_service_t service)
    {
        return query<IOUSBDeviceRef>(service, kIOUSBDeviceUserClientTypeID(),
                                     kIOUSBDeviceInterfaceID650());
    }

    // The printer's device object and its interface object (not opened).
    void findPrinter()
    {
        const std::vector<io_service_t> found = services(deviceMatching(kVendor, kProduct));
        ASSERT_EQ(found.size(), 1u);
        device_ = deviceFor(found[0]);
        platform_->objectRelease(found[0]);
        ASSERT_NE(device_, nullptr);

        IOUSBFindInterfaceRequest any{kIOUSBFindInterfaceDontCare, kIOUSBFindInterfaceDontCare,
                                      kIOUSBFindInterfaceDontCare, kIOUSBFindInterfaceDontCare};
        io_iterator_t interfaces = IO_OBJECT_NULL;
        ASSERT_EQ((*device_)->CreateInterfaceIterator(device_, &any, &interfaces),
                  kIOReturnSuccess);
        const io_service_t first = platform_->iteratorNext(interfaces);
        ASSERT_NE(first, IO_OBJECT_NULL);
        EXPECT_EQ(platform_->iteratorNext(interfaces), IO_OBJECT_NULL)
            << "the printer has one interface";
        platform_->objectRelease(interfaces);
        interface_ = query<IOUSBInterfaceRef>(first, kIOUSBInterfaceUserClientTypeID(),
                                              kIOUSBInterfaceInterfaceID700());
        platform_->objectRelease(first);
        ASSERT_NE(interface_, nullptr);
    }

    void openPrinter()
    {
        findPrinter();
        ASSERT_EQ((*interface_)->USBInterfaceOpen(interface_), kIOReturnSuccess);
    }

    IOReturn write(const std::vector<std::uint8_t>& data, std::uint8_t pipe = 1)
    {
        return (*interface_)
            ->WritePipeTO(interface_, pipe, data.data(), static_cast<std::uint32_t>(data.size()),
                          300, 300);
    }

    IOReturn read(std::vector<std::uint8_t>& out, std::uint32_t noData = 300,
                  std::uint32_t completion = 300, std::uint8_t pipe = 2)
    {
        out.assign(64, 0);
        std::uint32_t size = 64;
        const IOReturn status =
            (*interface_)->ReadPipeTO(interface_, pipe, out.data(), &size, noData, completion);
        out.resize(size);
        return status;
    }

    EmulatedPrinter bed_;  // first member: the testbed exists before libusb starts
    std::unique_ptr<UsbPlatform> platform_;
    IOUSBDeviceRef device_ = nullptr;
    IOUSBInterfaceRef interface_ = nullptr;
};

// ---- enumeration -------------------------------------------------------------------

TEST_F(LibusbBackend, MatchesDevicesByVendorAndProductInBusOrder)
{
    EmulatedDeviceSpec other;
    other.vendor = 0x046D;
    other.product = 0xC52B;
    other.address = 2;
    EmulatedDeviceSpec sibling;  // same vendor, another product
    sibling.product = 0x0034;
    sibling.address = 3;
    EmulatedDeviceSpec printer;
    printer.address = 4;
    EmulatedDeviceSpec secondPrinter;
    secondPrinter.bus = 2;
    secondPrinter.address = 2;
    bed_.addDevice(secondPrinter);
    bed_.addDevice(other);
    bed_.addDevice(printer);
    bed_.addDevice(sibling);
    start();

    struct Case {
        const char* what;
        MatchingDictionary matching;
        std::vector<std::pair<std::uint16_t, std::uint16_t>> expected;  // in registry order
    };
    const std::vector<Case> cases = {
        {"printer ids", deviceMatching(kVendor, kProduct), {{0x356C, 0x0033}, {0x356C, 0x0033}}},
        {"vendor only",
         deviceMatching(kVendor, std::nullopt),
         {{0x356C, 0x0034}, {0x356C, 0x0033}, {0x356C, 0x0033}}},
        {"no ids",
         deviceMatching(std::nullopt, std::nullopt),
         {{0x046D, 0xC52B}, {0x356C, 0x0034}, {0x356C, 0x0033}, {0x356C, 0x0033}}},
        {"unknown product", deviceMatching(kVendor, 0x0099), {}},
        {"other class", IOServiceMatching("IOUSBHostHub"), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::pair<std::uint16_t, std::uint16_t>> seen;
        for (io_service_t service : services(c.matching)) {
            IOUSBDeviceRef device = deviceFor(service);
            ASSERT_NE(device, nullptr);
            std::uint16_t vendor = 0;
            std::uint16_t product = 0;
            EXPECT_EQ((*device)->GetDeviceVendor(device, &vendor), kIOReturnSuccess);
            EXPECT_EQ((*device)->GetDeviceProduct(device, &product), kIOReturnSuccess);
            seen.emplace_back(vendor, product);
            (*device)->Release(device);
            EXPECT_EQ(platform_->objectRelease(service), kIOReturnSuccess);
        }
        EXPECT_EQ(seen, c.expected);
    }
    // Bus 1 before bus 2: the first printer listed is the one at 1-4.
    const std::vector<io_service_t> printers = services(deviceMatching(kVendor, kProduct));
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_NE(printers[0], printers[1]);
    for (io_service_t s : printers) {
        platform_->objectRelease(s);
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

TEST_F(LibusbBackend, LocationIDFollowsTheBusAndPortPath)
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
    EmulatedDeviceSpec onRootPort;  // bus 1, port 4
    onRootPort.address = 4;
    onRootPort.ports = "4";
    EmulatedDeviceSpec otherBus;  // bus 2, port 5
    otherBus.bus = 2;
    otherBus.address = 5;
    bed_.addDevice(rootHub);
    bed_.addDevice(hub);
    bed_.addDevice(behindHub);
    bed_.addDevice(onRootPort);
    bed_.addDevice(otherBus);
    start();

    std::vector<std::int64_t> locations;
    for (io_service_t service : services(deviceMatching(kVendor, kProduct))) {
        RegistryProperties properties;
        EXPECT_EQ(platform_->registryEntryCreateCFProperties(service, &properties),
                  kIOReturnSuccess);
        locations.push_back(std::get<std::int64_t>(properties.at("locationID")));
        platform_->objectRelease(service);
    }
    EXPECT_EQ(locations, (std::vector<std::int64_t>{0x01230000, 0x01400000, 0x02500000}));

    // The place picks one printer among those with the same ids.
    for (std::int64_t location : locations) {
        MatchingDictionary matching = deviceMatching(kVendor, kProduct);
        matching["locationID"] = location;
        const std::vector<io_service_t> found = services(matching);
        ASSERT_EQ(found.size(), 1u) << std::hex << location;
        RegistryProperties properties;
        EXPECT_EQ(platform_->registryEntryCreateCFProperties(found[0], &properties),
                  kIOReturnSuccess);
        EXPECT_EQ(std::get<std::int64_t>(properties.at("locationID")), location);
        platform_->objectRelease(found[0]);
    }
    MatchingDictionary nowhere = deviceMatching(kVendor, kProduct);
    nowhere["locationID"] = std::int64_t{0x01500000};
    EXPECT_TRUE(services(nowhere).empty());
}

TEST_F(LibusbBackend, EmptyBusFindsNoDeviceCleanly)
{
    start();
    EXPECT_TRUE(static_cast<libusb::LibusbPlatform&>(*platform_).usbAvailable());
    io_iterator_t iterator = IO_OBJECT_NULL;
    ASSERT_EQ(platform_->getMatchingServices(deviceMatching(kVendor, kProduct), &iterator),
              kIOReturnSuccess);
    ASSERT_NE(iterator, IO_OBJECT_NULL);
    EXPECT_EQ(platform_->iteratorNext(iterator), IO_OBJECT_NULL);
    EXPECT_EQ(platform_->objectRelease(iterator), kIOReturnSuccess);
    EXPECT_TRUE(services(deviceMatching(std::nullopt, std::nullopt)).empty());
    // References that never existed are refused, not crashed on.
    IOCFPlugInInterfaceRef plugIn = nullptr;
    std::int32_t score = 0;
    EXPECT_EQ(platform_->createPlugInInterfaceForService(0x7777, *kIOUSBDeviceUserClientTypeID(),
                                                         *kIOCFPlugInInterfaceID(), &plugIn,
                                                         &score),
              kIOReturnBadArgument);
    EXPECT_EQ(plugIn, nullptr);
    EXPECT_EQ(platform_->objectRelease(iterator), kIOReturnBadArgument) << "already released";
}

// ---- pipes ------------------------------------------------------------------------------

TEST_F(LibusbBackend, PipesFollowTheEndpointDescriptors)
{
    struct Pipe {
        std::uint8_t direction, number, type;
        std::uint16_t maxPacket;
        std::uint8_t interval;
        bool operator==(const Pipe&) const = default;
    };
    struct Case {
        const char* what;
        std::vector<testing::EmulatedEndpoint> endpoints;
        std::vector<Pipe> expected;
    };
    const std::vector<Case> cases = {
        {"printer: bulk out, bulk in",
         {{0x01, 2, 512, 0}, {0x81, 2, 512, 0}},
         {{kUSBOut, 1, kUSBBulk, 512, 0}, {kUSBIn, 1, kUSBBulk, 512, 0}}},
        {"bulk in, interrupt in, bulk out (full speed)",
         {{0x81, 2, 64, 0}, {0x83, 3, 16, 10}, {0x02, 2, 64, 0}},
         {{kUSBIn, 1, kUSBBulk, 64, 0},
          {kUSBIn, 3, kUSBInterrupt, 16, 10},
          {kUSBOut, 2, kUSBBulk, 64, 0}}},
        {"high-bandwidth interrupt: the size without the extra-transaction bits",
         {{0x85, 3, 0x1400, 4}},
         {{kUSBIn, 5, kUSBInterrupt, 0x400, 4}}},
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
        const std::vector<io_service_t> found = services(
            deviceMatching(kVendor, 0x0100 + address++));
        ASSERT_EQ(found.size(), 1u);
        IOUSBDeviceRef device = deviceFor(found[0]);
        platform_->objectRelease(found[0]);
        IOUSBFindInterfaceRequest printerClass{7, kIOUSBFindInterfaceDontCare,
                                               kIOUSBFindInterfaceDontCare,
                                               kIOUSBFindInterfaceDontCare};
        io_iterator_t interfaces = IO_OBJECT_NULL;
        ASSERT_EQ((*device)->CreateInterfaceIterator(device, &printerClass, &interfaces),
                  kIOReturnSuccess);
        const io_service_t service = platform_->iteratorNext(interfaces);
        ASSERT_NE(service, IO_OBJECT_NULL);
        platform_->objectRelease(interfaces);
        auto interface = query<IOUSBInterfaceRef>(service, kIOUSBInterfaceUserClientTypeID(),
                                                  kIOUSBInterfaceInterfaceID700());
        platform_->objectRelease(service);
        ASSERT_NE(interface, nullptr);

        std::uint8_t number = 99;
        std::uint8_t count = 99;
        EXPECT_EQ((*interface)->GetInterfaceNumber(interface, &number), kIOReturnSuccess);
        EXPECT_EQ(number, 0);
        EXPECT_EQ((*interface)->GetNumEndpoints(interface, &count), kIOReturnSuccess);
        ASSERT_EQ(count, c.expected.size());
        for (std::uint8_t ref = 1; ref <= count; ++ref) {
            Pipe pipe{};
            EXPECT_EQ((*interface)
                          ->GetPipeProperties(interface, ref, &pipe.direction, &pipe.number,
                                              &pipe.type, &pipe.maxPacket, &pipe.interval),
                      kIOReturnSuccess);
            EXPECT_EQ(pipe, c.expected[ref - 1]) << "pipe " << int(ref);
        }
        Pipe beyond{};
        EXPECT_EQ((*interface)
                      ->GetPipeProperties(interface, count + 1, &beyond.direction, &beyond.number,
                                          &beyond.type, &beyond.maxPacket, &beyond.interval),
                  kIOUSBUnknownPipeErr);
        (*interface)->Release(interface);
        (*device)->Release(device);
    }

    // An interface request that matches nothing gives an empty iterator.
    const std::vector<io_service_t> found = services(deviceMatching(kVendor, 0x0102));
    ASSERT_EQ(found.size(), 1u);
    IOUSBDeviceRef device = deviceFor(found[0]);
    platform_->objectRelease(found[0]);
    IOUSBFindInterfaceRequest hidClass{3, kIOUSBFindInterfaceDontCare, kIOUSBFindInterfaceDontCare,
                                       kIOUSBFindInterfaceDontCare};
    io_iterator_t none = IO_OBJECT_NULL;
    ASSERT_EQ((*device)->CreateInterfaceIterator(device, &hidClass, &none), kIOReturnSuccess);
    EXPECT_EQ(platform_->iteratorNext(none), IO_OBJECT_NULL);
    platform_->objectRelease(none);
    (*device)->Release(device);
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
    ASSERT_EQ(read(reply, 3000, 300), kIOReturnSuccess);
    EXPECT_EQ(reply, bytes("DHCPToggle=On;"));

    ASSERT_EQ(write(bytes("CheckIP?")), kIOReturnSuccess);
    ASSERT_EQ(read(reply, 3000, 300), kIOReturnSuccess);
    ASSERT_EQ(reply.size(), 18u);
    EXPECT_EQ(std::vector<std::uint8_t>(reply.begin() + 6, reply.end()),
              (std::vector<std::uint8_t>{10, 0, 0, 59, 255, 0, 0, 0, 10, 0, 0, 1}));

    // Static address: mode change, address (with a ';' octet inside), restart.
    ASSERT_EQ(write(bytes("SetDHCPToggle=Off;")), kIOReturnSuccess);
    ASSERT_EQ(read(reply, 3000, 300), kIOReturnSuccess);
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

TEST_F(LibusbBackend, TransferFailuresBecomePlatformStatuses)
{
    struct Case {
        const char* what;
        std::function<void(EmulatedPrinter&, const std::string&)> arrange;
        std::uint8_t pipe;
        IOReturn expected;
    };
    const std::vector<Case> cases = {
        {"reply longer than the buffer",
         [](EmulatedPrinter& bed, const std::string& p) {
             bed.queueReply(p, std::vector<std::uint8_t>(100, 'x'));
         },
         2, kIOReturnOverrun},
        {"stalled in-endpoint",
         [](EmulatedPrinter& bed, const std::string& p) { bed.stallNextRead(p); }, 2,
         kIOUSBPipeStalled},
        {"read on the out-pipe", [](EmulatedPrinter&, const std::string&) {}, 1,
         kIOReturnBadArgument},
        {"pipe beyond the endpoints", [](EmulatedPrinter&, const std::string&) {}, 3,
         kIOUSBUnknownPipeErr},
        {"the control pipe", [](EmulatedPrinter&, const std::string&) {}, 0, kIOUSBUnknownPipeErr},
    };
    const std::string printer = bed_.addDevice();
    start();
    openPrinter();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange(bed_, printer);
        std::vector<std::uint8_t> reply;
        EXPECT_EQ(read(reply, 300, 300, c.pipe), c.expected);
    }
    EXPECT_EQ((*interface_)->ReadPipeTO(interface_, 2, nullptr, nullptr, 300, 300),
              kIOReturnBadArgument);
    EXPECT_EQ((*interface_)->WritePipeTO(interface_, 2, "x", 1, 300, 300), kIOReturnBadArgument)
        << "write on the in-pipe";
}

TEST_F(LibusbBackend, ReadWithoutReplyTimesOutAfterTheLargerTimeout)
{
    const std::string printer = bed_.addDevice();
    bed_.setSilent(printer, true);
    start();
    openPrinter();
    ASSERT_EQ(write(bytes("CheckIP?")), kIOReturnSuccess);

    struct Case {
        std::uint32_t noData, completion;
    };
    for (const Case c : {Case{400, 100}, Case{100, 400}}) {
        SCOPED_TRACE(std::to_string(c.noData) + "/" + std::to_string(c.completion));
        std::vector<std::uint8_t> reply;
        const auto begin = Clock::now();
        EXPECT_EQ(read(reply, c.noData, c.completion), kIOReturnTimeout);
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
        EXPECT_GE(waited, 390);
        EXPECT_LT(waited, 2500) << "the time-out was not applied";
        EXPECT_TRUE(reply.empty());
    }
    // The timed-out reads were taken back from the device.
    int discards = 0;
    for (const UsbfsCall& call : bed_.calls(printer)) {
        discards += call.what == "discard" && call.value == 0x81;
    }
    EXPECT_EQ(discards, 2);

    // The interface is still usable once the printer answers again.
    bed_.setSilent(printer, false);
    std::vector<std::uint8_t> reply;
    ASSERT_EQ(write(bytes("CheckDHCPToggle?")), kIOReturnSuccess);
    EXPECT_EQ(read(reply), kIOReturnSuccess);
    EXPECT_EQ(reply, bytes("DHCPToggle=Off;"));
}

TEST_F(LibusbBackend, StallIsClearedOnTheDeviceEndpoint)
{
    const std::string printer = bed_.addDevice();
    start();
    openPrinter();
    bed_.stallNextRead(printer);
    ASSERT_EQ(write(bytes("CheckDHCPToggle?")), kIOReturnSuccess);
    std::vector<std::uint8_t> reply;
    ASSERT_EQ(read(reply), kIOUSBPipeStalled);

    using Clear = IOReturn (*)(void*, std::uint8_t);
    for (Clear clear : {(*interface_)->ClearPipeStall, (*interface_)->ClearPipeStallBothEnds,
                        (*interface_)->ResetPipe}) {
        bed_.clearCalls(printer);
        EXPECT_EQ(clear(interface_, 2), kIOReturnSuccess);
        const std::vector<UsbfsCall> calls = bed_.calls(printer);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].what, "clear-halt");
        EXPECT_EQ(calls[0].value, 0x81u);
    }
    // The reply queued before the stall comes through now.
    EXPECT_EQ(read(reply), kIOReturnSuccess);
    EXPECT_EQ(reply, bytes("DHCPToggle=Off;"));
    EXPECT_EQ((*interface_)->ClearPipeStall(interface_, 9), kIOUSBUnknownPipeErr);
}

TEST_F(LibusbBackend, VanishedDeviceReportsNoDevice)
{
    const std::string printer = bed_.addDevice();
    bed_.setSilent(printer, true);
    start();
    openPrinter();
    ASSERT_EQ(write(bytes("CheckIP?")), kIOReturnSuccess);

    // Unplugged while a read waits: the read ends with "no device" long
    // before its time-out.
    auto pending = std::async(std::launch::async, [this] {
        std::vector<std::uint8_t> reply;
        const auto begin = Clock::now();
        const IOReturn status = read(reply, 5000, 5000);
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
    // Giving back an interface of a device that is gone still succeeds.
    EXPECT_EQ((*interface_)->USBInterfaceClose(interface_), kIOReturnSuccess);
    EXPECT_EQ((*interface_)->USBInterfaceClose(interface_), kIOReturnNotOpen);
    EXPECT_TRUE(services(deviceMatching(kVendor, kProduct)).empty());
    // Opening it again fails the same way.
    EXPECT_EQ((*interface_)->USBInterfaceOpen(interface_), kIOReturnNoDevice);
}

// ---- kernel driver ---------------------------------------------------------------------

TEST_F(LibusbBackend, KernelDriverIsDetachedWhileClaimedAndGivenBackOnEveryPath)
{
    using Names = std::vector<std::string>;
    struct Case {
        const char* what;
        std::string driver;  // bound when the test starts
        int claimError;      // errno of the claim, 0 = granted
        bool releaseOnly;    // give the object back without closing it
        IOReturn openStatus;
        Names onOpen;
        Names onClose;
    };
    const std::vector<Case> cases = {
        {"usblp bound",
         "usblp",
         0,
         false,
         kIOReturnSuccess,
         {"getdriver", "getdriver", "disconnect", "claim"},
         {"release", "connect"}},
        {"no driver bound", "", 0, false, kIOReturnSuccess, {"getdriver", "claim"}, {"release"}},
        {"claim refused after the detach",
         "usblp",
         EBUSY,
         false,
         kIOReturnExclusiveAccess,
         {"getdriver", "getdriver", "disconnect", "claim", "connect"},
         {}},
        {"object released while open",
         "usblp",
         0,
         true,
         kIOReturnSuccess,
         {"getdriver", "getdriver", "disconnect", "claim"},
         {"release", "connect"}},
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
        const std::vector<io_service_t> found = services(
            deviceMatching(kVendor, 0x0202 + static_cast<int>(i)));
        ASSERT_EQ(found.size(), 1u);
        IOUSBDeviceRef device = deviceFor(found[0]);
        platform_->objectRelease(found[0]);
        IOUSBFindInterfaceRequest any{kIOUSBFindInterfaceDontCare, kIOUSBFindInterfaceDontCare,
                                      kIOUSBFindInterfaceDontCare, kIOUSBFindInterfaceDontCare};
        io_iterator_t interfaces = IO_OBJECT_NULL;
        ASSERT_EQ((*device)->CreateInterfaceIterator(device, &any, &interfaces), kIOReturnSuccess);
        const io_service_t service = platform_->iteratorNext(interfaces);
        platform_->objectRelease(interfaces);
        auto interface = query<IOUSBInterfaceRef>(service, kIOUSBInterfaceUserClientTypeID(),
                                                  kIOUSBInterfaceInterfaceID700());
        platform_->objectRelease(service);
        ASSERT_NE(interface, nullptr);

        if (c.claimError != 0) {
            bed_.failNextClaim(path, c.claimError);
        }
        bed_.clearCalls(path);
        EXPECT_EQ((*interface)->USBInterfaceOpen(interface), c.openStatus);
        EXPECT_EQ(callNames(bed_.calls(path)), c.onOpen);
        if (c.openStatus == kIOReturnSuccess) {
            EXPECT_EQ(bed_.boundDriver(path), "") << "the interface is ours while open";
        }
        bed_.clearCalls(path);
        if (c.releaseOnly) {
            (*interface)->Release(interface);
            interface = nullptr;
        } else {
            EXPECT_EQ((*interface)->USBInterfaceClose(interface),
                      c.openStatus == kIOReturnSuccess ? kIOReturnSuccess : kIOReturnNotOpen);
        }
        EXPECT_EQ(callNames(bed_.calls(path)), c.onClose);
        EXPECT_EQ(bed_.boundDriver(path), c.driver) << "the driver is back as it was";
        if (interface != nullptr) {
            (*interface)->Release(interface);
        }
        (*device)->Release(device);
    }
}

// ---- hot-plug ---------------------------------------------------------------------------

struct Delivery {
    UsbPlatform* platform = nullptr;
    std::vector<std::pair<std::uint16_t, int>> seen;  // product id, delivery number
    int deliveries = 0;
};

void onMatch(void* refcon, io_iterator_t iterator)
{
    auto* d = static_cast<Delivery*>(refcon);
    ++d->deliveries;
    while (io_service_t service = d->platform->iteratorNext(iterator)) {
        IOCFPlugInInterfaceRef plugIn = nullptr;
        std::int32_t score = 0;
        std::uint16_t product = 0;
        if (d->platform->createPlugInInterfaceForService(service, *kIOUSBDeviceUserClientTypeID(),
                                                         *kIOCFPlugInInterfaceID(), &plugIn,
                                                         &score) == kIOReturnSuccess) {
            void* object = nullptr;
            (*plugIn)->QueryInterface(plugIn, *kIOUSBDeviceInterfaceID650(), &object);
            auto device = static_cast<IOUSBDeviceRef>(object);
            (*device)->GetDeviceProduct(device, &product);
            (*device)->Release(device);
            (*plugIn)->Release(plugIn);
        }
        d->seen.emplace_back(product, d->deliveries);
        d->platform->objectRelease(service);
    }
}

TEST_F(LibusbBackend, HotPlugDeliversFirstMatchAndTerminate)
{
    bed_.addDevice();
    start();
    TestQueue queue;
    Delivery firstMatch;
    firstMatch.platform = platform_.get();
    Delivery terminate;
    terminate.platform = platform_.get();
    IONotificationPortRef port = platform_->notificationPortCreate();
    platform_->notificationPortSetDispatchQueue(port, &queue);
    io_iterator_t matched = IO_OBJECT_NULL;
    io_iterator_t terminated = IO_OBJECT_NULL;
    ASSERT_EQ(platform_->addMatchingNotification(port, kIOFirstMatchNotification,
                                                 deviceMatching(kVendor, std::nullopt), &onMatch,
                                                 &firstMatch, &matched),
              kIOReturnSuccess);
    ASSERT_EQ(platform_->addMatchingNotification(port, kIOTerminatedNotification,
                                                 deviceMatching(kVendor, std::nullopt), &onMatch,
                                                 &terminate, &terminated),
              kIOReturnSuccess);
    // The printer already attached is in the first-match iterator; draining
    // both arms them.
    onMatch(&firstMatch, matched);
    onMatch(&terminate, terminated);
    EXPECT_EQ(firstMatch.seen, (std::vector<std::pair<std::uint16_t, int>>{{0x0033, 1}}));
    EXPECT_TRUE(terminate.seen.empty());

    // Another device of the vendor arrives; a foreign one does not match.
    EmulatedDeviceSpec foreign;
    foreign.vendor = 0x046D;
    foreign.address = 5;
    bed_.addDevice(foreign);
    EmulatedDeviceSpec second;
    second.product = 0x0034;
    second.address = 3;
    const std::string secondPath = bed_.addDevice(second);
    ASSERT_TRUE(queue.runNext()) << "no first-match notification";
    // Its arrival may be delivered together with nothing else; give a stray
    // second task the chance to show up.
    while (queue.runNext(std::chrono::milliseconds(300))) {
    }
    EXPECT_EQ(firstMatch.seen.back().first, 0x0034);
    EXPECT_EQ(firstMatch.seen.size(), 2u);
    EXPECT_TRUE(terminate.seen.empty());

    bed_.unplug(secondPath);
    ASSERT_TRUE(queue.runNext()) << "no terminate notification";
    while (queue.runNext(std::chrono::milliseconds(300))) {
    }
    EXPECT_EQ(terminate.seen, (std::vector<std::pair<std::uint16_t, int>>{{0x0034, 2}}));

    // Once the port is gone nothing more is posted.
    platform_->notificationPortDestroy(port);
    EmulatedDeviceSpec late;
    late.address = 7;
    bed_.addDevice(late);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(queue.pending(), 0u);
    EXPECT_EQ(platform_->objectRelease(matched), kIOReturnSuccess);
    EXPECT_EQ(platform_->objectRelease(terminated), kIOReturnSuccess);
}

}  // namespace
}  // namespace tervane::usb
