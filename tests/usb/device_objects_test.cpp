// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Device and interface handles on the simulated bus: finding a device,
// interface lists, claiming, failures and what is given back.
#include "usb_test_support.h"

namespace tervane::usb {
namespace {

using test::LoggedLines;

class DeviceObjects : public ::testing::Test {
protected:
    // Every device object and claim the handles took was given back.
    void expectNothingHeld()
    {
        EXPECT_EQ(bus.devicesInUse(), 0u);
        EXPECT_EQ(bus.claimsHeld(), 0u);
    }
    sim::SimulatedBus bus;
};

std::vector<std::uint8_t> numbersOf(const std::vector<USBInterfaceHandle>& interfaces)
{
    std::vector<std::uint8_t> numbers;
    for (const auto& interface : interfaces) {
        numbers.push_back(interface.getInterfaceNum());
    }
    return numbers;
}

TEST_F(DeviceObjects, CreateFindsTheDeviceByIdsAndPlace)
{
    const auto otherProduct = bus.plug(test::printerLikeDevice(0x356C, 0x0034));
    const auto twoInterfaces = bus.plug(test::basicDevice(
        0x356C, 0x0033,
        {test::interfaceWith({{0x01, kUSBBulk}}, 0), test::interfaceWith({{0x02, kUSBBulk}}, 1)}));
    const auto oneInterface = bus.plug(test::printerLikeDevice());
    const auto gone = bus.plug(test::printerLikeDevice());
    bus.unplug(gone);
    bus.plug(test::printerLikeDevice(0x1234, 0x0033));  // other vendor

    struct Case {
        const char* what;
        std::optional<sim::SimulatedBus::DeviceId> place;  // none: the first with the ids
        std::size_t interfaces;                            // 0: no device
    };
    const Case cases[] = {
        {"the first of two in bus order", std::nullopt, 2},
        {"the second of two by place", oneInterface, 1},
        {"the first of two by place", twoInterfaces, 2},
        {"another product there", otherProduct, 0},
        {"unplugged", gone, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            USBDeviceHandle device = c.place ? USBDeviceHandle::create(
                                                   bus, 0x356C, 0x0033,
                                                   sim::SimulatedBus::locationOf(*c.place))
                                             : USBDeviceHandle::create(bus, 0x356C, 0x0033);
            EXPECT_EQ(device.getVendorIdentifier(), 0x356C);
            EXPECT_EQ(device.getProductIdentifier(), 0x0033);
            EXPECT_EQ(device.createInterfaceInterface().size(), c.interfaces);
            EXPECT_NE(c.interfaces, 0u);
        } catch (const VXIOErrorException& error) {
            EXPECT_EQ(c.interfaces, 0u);
            EXPECT_EQ(error.error(), VXIOError::pluginHasNoUsbDeviceInterface);
            EXPECT_EQ(error.errorDescription(), "USB: Plugin has no device interface.");
        }
    }
    expectNothingHeld();
}

TEST_F(DeviceObjects, InterfaceListsFollowTheRequest)
{
    bus.plug(test::basicDevice(0x356C, 0x0033,
                               {test::interfaceWith({{0x01, kUSBBulk}}, 0, 7),
                                test::interfaceWith({}, 1, 255),
                                test::interfaceWith({{0x82, kUSBInterrupt}}, 2, 7)}));
    {
        USBDeviceHandle device = USBDeviceHandle::create(bus, 0x356C, 0x0033);
        struct Case {
            int interfaceClass;
            std::vector<std::uint8_t> numbers;
        };
        for (const Case& c : {Case{65535, {0, 1, 2}}, Case{7, {0, 2}}, Case{255, {1}}}) {
            EXPECT_EQ(numbersOf(device.createInterfaceInterface(c.interfaceClass)), c.numbers)
                << "class " << c.interfaceClass;
        }
        try {
            device.createInterfaceInterface(3);
            FAIL() << "interfaces of class 3";
        } catch (const VXIOErrorException& error) {
            EXPECT_EQ(error.error(), VXIOError::pluginHasNoUsbInterfaceInterface);
        }
        EXPECT_THROW(device.createInterfaceInterface(65536), IOReturnError);
    }
    expectNothingHeld();
}

TEST_F(DeviceObjects, OpenIsExclusiveAndTheInterfaceGoesBackOnCloseOrDestruction)
{
    bus.plug(test::printerLikeDevice());
    {
        USBDeviceHandle device = USBDeviceHandle::create(bus, 0x356C, 0x0033);
        auto first = device.createInterfaceInterface();
        auto second = device.createInterfaceInterface();
        first.at(0).open();
        EXPECT_EQ(bus.claimsHeld(), 1u);
        struct Case {
            const char* what;
            USBInterfaceHandle& handle;
            bool seize;
            std::string line;
        };
        const std::string busy = " and error is: Optional(\"Exclusive access and device already "
                                 "open\")";
        const Case cases[] = {
            {"claimed by another handle", second.at(0), false,
             "error happened at func open-seize-false" + busy},
            {"seized while claimed", second.at(0), true,
             "error happened at func open-seize-true" + busy},
            {"open twice on one handle", first.at(0), false,
             "error happened at func open-seize-false" + busy},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            LoggedLines output;
            try {
                c.handle.open(c.seize);
                FAIL() << "opened";
            } catch (const IOReturnError& error) {
                EXPECT_EQ(error.status(), kIOReturnExclusiveAccess);
            }
            EXPECT_EQ(output.lines(), std::vector<std::string>{c.line});
        }
        first.at(0).close();
        EXPECT_EQ(bus.claimsHeld(), 0u);
        {
            LoggedLines output;
            EXPECT_THROW(first.at(0).close(), IOReturnError);
            EXPECT_EQ(output.lines(),
                      std::vector<std::string>{
                          "error happened at func close and error is: Optional(\"Device not "
                          "open\")"});
        }
        second.at(0).open();
        EXPECT_EQ(bus.claimsHeld(), 1u);
        // second goes out of scope open: its destructor gives the interface back.
    }
    expectNothingHeld();
}

TEST_F(DeviceObjects, RefusedClaimRaisesItsStatus)
{
    auto printer = test::printerLikeDevice();
    printer->faults.interfaceOpen = kIOReturnNotPrivileged;
    const auto id = bus.plug(printer);
    {
        USBDeviceHandle device = USBDeviceHandle::create(bus, 0x356C, 0x0033);
        auto interfaces = device.createInterfaceInterface();
        LoggedLines output;
        try {
            interfaces.at(0).open();
            FAIL() << "opened";
        } catch (const IOReturnError& error) {
            EXPECT_EQ(error.status(), kIOReturnNotPrivileged);
            EXPECT_EQ(error.errorDescription(), "Privilege violation");
        }
        EXPECT_EQ(output.lines(),
                  std::vector<std::string>{"error happened at func open-seize-false and error "
                                           "is: Optional(\"Privilege violation\")"});
        EXPECT_FALSE(interfaces.at(0).isOpen());
        printer->faults.interfaceOpen = kIOReturnSuccess;
        bus.unplug(id);
        EXPECT_THROW(interfaces.at(0).open(), IOReturnError) << "a device gone cannot be claimed";
    }
    expectNothingHeld();
}

}  // namespace
}  // namespace tervane::usb
