// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The tool's settings sequences over the libusb backend, against the
// emulated printer: the whole path a real printer takes.
#include "compiler_quirks.h"
#include "libusb_platform.h"
#include "umockdev_printer.h"
#include "usb_communication.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace tervane {
namespace {

using testing::EmulatedPrinter;
using testing::NetworkSettings;

Device printerRecord() { return Device("RV-T4410LW", "", "", "", "D", 0x0033, 0x356C); }

class ConnectionOnLibusb : public ::testing::Test {
protected:
    void TearDown() override { platform_.reset(); }
    EmulatedPrinter bed_;
    std::unique_ptr<usb::UsbPlatform> platform_;
};

TEST_F(ConnectionOnLibusb, ReadThenWriteTheNetworkSettings)
{
    const std::string printer = bed_.addDevice();
    NetworkSettings settings;
    settings.dhcp = true;
    settings.ip = {10, 0, 0, 59};
    settings.mask = {255, 0, 0, 0};
    settings.gateway = {10, 0, 0, 1};
    bed_.setSettings(printer, settings);
    platform_ = usb::makeLibusbPlatform();

    Device record = printerRecord();
    {
        USBCommunication connection(*platform_, record);
        EXPECT_EQ(connection.initInterfaceToGetIP(), (SequenceResult{1, kReceiveIPSuccessfully}));
        record = connection.printer;
    }
    EXPECT_EQ(record.ipSetType, "D");
    EXPECT_EQ(record.ip, "10.0.0.59");
    EXPECT_EQ(record.subNetMast, "255.0.0.0");
    EXPECT_EQ(record.gateway, "10.0.0.1");
    EXPECT_EQ(bed_.boundDriver(printer), "usblp");

    RVT_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")  // GCC bug 105329
    record.ipSetType = "S";
    RVT_GCC12_FALSE_POSITIVE_END
    record.ip = "192.168.3.59";  // 59 is ';' on the wire
    record.subNetMast = "255.255.255.0";
    record.gateway = "192.168.3.1";
    {
        USBCommunication connection(*platform_, record);
        EXPECT_EQ(connection.initInterfaceToSetIP(), (SequenceResult{1, kSetIPSuccessfully}));
    }
    const NetworkSettings now = bed_.settings(printer);
    EXPECT_FALSE(now.dhcp);
    EXPECT_EQ(now.ip, (std::array<std::uint8_t, 4>{192, 168, 3, 59}));
    EXPECT_EQ(now.mask, (std::array<std::uint8_t, 4>{255, 255, 255, 0}));
    EXPECT_EQ(now.gateway, (std::array<std::uint8_t, 4>{192, 168, 3, 1}));
    EXPECT_EQ(bed_.boundDriver(printer), "usblp");
}

TEST_F(ConnectionOnLibusb, FailuresEndTheSequenceAndGiveTheInterfaceBack)
{
    struct Case {
        const char* what;
        std::function<void(EmulatedPrinter&, const std::string&)> arrange;
        SequenceResult expected;
        std::optional<usb::IOReturn> failureStatus;
        bool accessDenied = false;
    };
    const std::vector<Case> cases = {
        {"printer does not answer",
         [](EmulatedPrinter& bed, const std::string& p) { bed.setSilent(p, true); },
         {-1, kClaimInterfaceError},
         usb::kIOReturnTimeout},
        {"interface held by another program",
         [](EmulatedPrinter& bed, const std::string& p) { bed.failNextClaim(p, EBUSY); },
         {-1, kClaimInterfaceError},
         usb::kIOReturnExclusiveAccess},
        // Opened by a user the node's permissions leave out.
        {"device node without rights",
         [](EmulatedPrinter& bed, const std::string& p) { bed.denyAccess(p); },
         {-1, kClaimInterfaceError},
         usb::kIOReturnNotPrivileged,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EmulatedPrinter bed;
        const std::string printer = bed.addDevice();
        c.arrange(bed, printer);
        auto platform = usb::makeLibusbPlatform();
        {
            testing::ThreadWithoutFileAccessOverride asAUser;
            USBCommunication connection(*platform, printerRecord());
            EXPECT_EQ(connection.initInterfaceToGetIP(), c.expected);
            EXPECT_EQ(connection.failureStatus, c.failureStatus);
            EXPECT_EQ(connection.accessDenied(), c.accessDenied);
        }
        EXPECT_EQ(bed.boundDriver(printer), "usblp");
        platform.reset();
    }
    // No printer at all.
    platform_ = usb::makeLibusbPlatform();
    USBCommunication connection(*platform_, printerRecord());
    EXPECT_EQ(connection.initInterfaceToGetIP().status, -1);
}

}  // namespace
}  // namespace tervane
