// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The USB layer's handles and observer running on the libusb backend, against
// the emulated printer: what the tool's own code sees of a real printer.
#include "device_list_observer.h"
#include "io_error.h"
#include "libusb_platform.h"
#include "test_queue.h"
#include "umockdev_printer.h"
#include "usb_handles.h"
#include "usb_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

namespace tervane::usb {
namespace {

using testing::EmulatedDeviceSpec;
using testing::EmulatedPrinter;
using testing::TestQueue;

class HandlesOnLibusb : public ::testing::Test {
protected:
    void TearDown() override { platform_.reset(); }

    EmulatedPrinter bed_;  // before the backend, after it on the way out
    std::unique_ptr<UsbPlatform> platform_;
};

TEST_F(HandlesOnLibusb, NoPrinterOnTheBusIsReportedAsNoDevice)
{
    platform_ = makeLibusbPlatform();
    try {
        USBDeviceHandle::create(*platform_, 0x356C, 0x0033);
        FAIL() << "a device handle was made on an empty bus";
    } catch (const VXIOErrorException& error) {
        EXPECT_EQ(error.error(), VXIOError::pluginHasNoUsbDeviceInterface);
        EXPECT_EQ(error.errorDescription(), "USB: Plugin has no device interface.");
    }
}

TEST_F(HandlesOnLibusb, FailuresCarryTheirStatusTextAndLogLine)
{
    struct Case {
        const char* what;
        std::function<void(USBInterfaceHandle&)> action;
        std::function<void(EmulatedPrinter&, const std::string&)> arrange;
        IOReturn status;
        std::string logLine;
    };
    const std::vector<Case> cases = {
        {"no reply", [](USBInterfaceHandle& i) { i.readBytes(std::nullopt, 64, 2, 0.2, 0.1); },
         [](EmulatedPrinter& bed, const std::string& p) { bed.setSilent(p, true); },
         kIOReturnTimeout,
         "error happened at func readBytes and error is: Optional(\"I/O timeout\")\n"},
        {"stall", [](USBInterfaceHandle& i) { i.readBytes(std::nullopt, 64, 2); },
         [](EmulatedPrinter& bed, const std::string& p) { bed.stallNextRead(p); },
         kIOUSBPipeStalled,
         "error happened at func readBytes and error is: Optional(\"Pipe has stalled, error needs "
         "to be "
         "cleared\")\n"},
        {"interface claimed elsewhere", [](USBInterfaceHandle& i) { i.open(); },
         [](EmulatedPrinter& bed, const std::string& p) { bed.failNextClaim(p, EBUSY); },
         kIOReturnExclusiveAccess,
         "error happened at func open-seize-false and error is: Optional(\"Exclusive access and "
         "device "
         "already open\")\n"},
        {"unplugged", [](USBInterfaceHandle& i) { i.write(std::string_view("CheckIP?"), 1); },
         [](EmulatedPrinter& bed, const std::string& p) { bed.unplug(p); }, kIOReturnNoDevice,
         "error happened at func write  and error is: Optional(\"No such device\")\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EmulatedPrinter bed;
        const std::string printer = bed.addDevice();
        auto platform = makeLibusbPlatform();
        USBDeviceHandle device = USBDeviceHandle::create(*platform, 0x356C, 0x0033);
        USBInterfaceHandle interface = std::move(device.createInterfaceInterface().at(0));
        const bool opensFirst = std::string(c.what) != "interface claimed elsewhere";
        if (opensFirst) {
            interface.open();
        }
        c.arrange(bed, printer);
        std::string out;
        {
            const LogSinkScope logTo([&out](const std::string& line) { out += line + "\n"; });
            try {
                c.action(interface);
                ADD_FAILURE() << "no error raised";
            } catch (const IOReturnError& error) {
                EXPECT_EQ(error.status(), c.status);
            }
        }
        EXPECT_EQ(out, c.logLine);
        if (opensFirst) {
            interface.close();
        }
        if (c.status != kIOReturnNoDevice) {
            EXPECT_EQ(bed.boundDriver(printer), "usblp") << "the kernel driver is back";
        }
    }
}

TEST_F(HandlesOnLibusb, ObserverSeesPrintersComeAndGo)
{
    bed_.addDevice();
    platform_ = makeLibusbPlatform();
    TestQueue queue;
    std::vector<std::pair<std::string, int>> seen;  // notification, product id
    auto observer = USBDeviceHandle::observeDeviceList(
        *platform_, 0x356C, 0x0033, queue,
        [&](const std::string& name, const DeviceDescription& device) {
            seen.emplace_back(name, device.productId);
        });
    ASSERT_TRUE(queue.runNext());
    while (queue.runNext(std::chrono::milliseconds(200))) {
    }
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{{"IOServiceFirstMatch", 0x0033}}));

    EmulatedDeviceSpec sibling;  // same vendor, other product: not reported
    sibling.product = 0x0034;
    sibling.address = 3;
    bed_.addDevice(sibling);
    EmulatedDeviceSpec second;
    second.address = 4;
    const std::string secondPath = bed_.addDevice(second);
    ASSERT_TRUE(queue.runNext());
    while (queue.runNext(std::chrono::milliseconds(300))) {
    }
    bed_.unplug(secondPath);
    ASSERT_TRUE(queue.runNext());
    while (queue.runNext(std::chrono::milliseconds(300))) {
    }
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{{"IOServiceFirstMatch", 0x0033},
                                                              {"IOServiceFirstMatch", 0x0033},
                                                              {"IOServiceTerminate", 0x0033}}));

    // Dropped observer: nothing more.
    observer.reset();
    EmulatedDeviceSpec late;
    late.address = 6;
    bed_.addDevice(late);
    EXPECT_FALSE(queue.runNext(std::chrono::milliseconds(500)));
    EXPECT_EQ(seen.size(), 3u);
}

}  // namespace
}  // namespace tervane::usb
