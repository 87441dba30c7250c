// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Device objects on the simulated bus: matching, creation, interface lists,
// open/close, failures and release points.
#include "registry.h"
#include "usb_test_support.h"

namespace tervane::usb {
namespace {

using test::LoggedLines;

class DeviceObjects : public ::testing::Test {
protected:
    // Nothing the operations made is left behind: only the bus's own services.
    void expectNothingLeaked()
    {
        EXPECT_EQ(bus.tableObjectCount(), 0u);
        EXPECT_EQ(bus.registryObjectCount(), servicesOnBus);
    }
    sim::SimulatedBus::DeviceId plug(std::shared_ptr<sim::VirtualDevice> device)
    {
        const auto before = bus.registryObjectCount();
        const auto id = bus.plug(std::move(device));
        servicesOnBus += bus.registryObjectCount() - before;
        return id;
    }
    sim::SimulatedBus bus;
    std::size_t servicesOnBus = 0;
};

TEST_F(DeviceObjects, MatchingDictionaryHoldsOnlyTheIdsGiven)
{
    const auto both = USBDeviceHandle::matchingDictionary(0x1234, 0x5678);
    EXPECT_EQ(both, (MatchingDictionary{{"IOProviderClass", std::string("IOUSBHostDevice")},
                                        {"idVendor", std::int64_t{4660}},
                                        {"idProduct", std::int64_t{22136}}}));
    const auto none = USBDeviceHandle::matchingDictionary(std::nullopt, std::nullopt);
    EXPECT_EQ(none, (MatchingDictionary{{"IOProviderClass", std::string("IOUSBHostDevice")}}));
    const auto vendorOnly = USBDeviceHandle::matchingDictionary("IOUSBHostInterface", 7,
                                                                std::nullopt);
    EXPECT_EQ(vendorOnly,
              (MatchingDictionary{{"IOProviderClass", std::string("IOUSBHostInterface")},
                                  {"idVendor", std::int64_t{7}}}));
}

TEST_F(DeviceObjects, CreateTakesTheFirstOfTwoMatchingDevicesAndReleasesTheRest)
{
    plug(test::basicDevice(0x356C, 0x0034,
                           {sim::printerInterface()}));  // same vendor, other product
    plug(test::basicDevice(0x356C, 0x0033, {sim::printerInterface(), sim::printerInterface()}));
    plug(test::printerLikeDevice());
    {
        USBDeviceHandle device = USBDeviceHandle::create(bus, 0x356C, 0x0033);
        EXPECT_EQ(device.getVendorIdentifier(), 0x356C);
        EXPECT_EQ(device.getProductIdentifier(), 0x0033);
        // The first one listed is the one with two interfaces.
        auto interfaces = device.createInterfaceInterface();
        EXPECT_EQ(interfaces.size(), 2u);
        for (const auto& interface : interfaces) {
            interface.release();
        }
        device.release();
    }
    expectNothingLeaked();
}

TEST_F(DeviceObjects, CreateByLocationTakesOnlyTheDeviceAtThatPlace)
{
    const auto otherProduct = plug(test::printerLikeDevice(0x356C, 0x0034));
    const auto twoInterfaces = plug(
        test::basicDevice(0x356C, 0x0033, {sim::printerInterface(), sim::printerInterface()}));
    const auto oneInterface = plug(test::printerLikeDevice());
    const auto gone = plug(test::printerLikeDevice());
    bus.unplug(gone);
    servicesOnBus -= 2;

    // Every service's registry properties carry its device's place; the
    // interfaces carry their device's.
    io_iterator_t all = IO_OBJECT_NULL;
    ASSERT_EQ(bus.getMatchingServices(IOServiceMatching(kIOUSBHostInterfaceClassName), &all),
              kIOReturnSuccess);
    std::vector<std::int64_t> interfaceLocations;
    enumerateServices(bus, all, [&](io_service_t service, bool&) {
        RegistryProperties properties;
        ASSERT_EQ(bus.registryEntryCreateCFProperties(service, &properties), kIOReturnSuccess);
        interfaceLocations.push_back(std::get<std::int64_t>(properties.at("locationID")));
    });
    release(bus, all);
    const auto at = [](sim::SimulatedBus::DeviceId id) {
        return static_cast<std::int64_t>(sim::SimulatedBus::locationOf(id));
    };
    EXPECT_EQ(interfaceLocations, (std::vector<std::int64_t>{at(otherProduct), at(twoInterfaces),
                                                             at(twoInterfaces), at(oneInterface)}));

    struct Case {
        const char* what;
        sim::SimulatedBus::DeviceId place;
        std::size_t interfaces;  // 0: no device
    };
    const Case cases[] = {
        {"the second of two", oneInterface, 1},
        {"the first of two", twoInterfaces, 2},
        {"another product there", otherProduct, 0},
        {"unplugged", gone, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            USBDeviceHandle device = USBDeviceHandle::create(
                bus, 0x356C, 0x0033, sim::SimulatedBus::locationOf(c.place));
            auto interfaces = device.createInterfaceInterface();
            EXPECT_EQ(interfaces.size(), c.interfaces);
            for (const auto& interface : interfaces) {
                interface.release();
            }
            device.release();
        } catch (const VXIOErrorException& error) {
            EXPECT_EQ(c.interfaces, 0u);
            EXPECT_EQ(error.error(), VXIOError::pluginHasNoUsbDeviceInterface);
        }
    }
    expectNothingLeaked();
}

TEST_F(DeviceObjects, NoMatchingDeviceIsNotAPlatformStatus)
{
    plug(test::printerLikeDevice(0x356C, 0x0034));
    plug(test::printerLikeDevice(0x1234, 0x0033));
    try {
        USBDeviceHandle::create(bus, 0x356C, 0x0033);
        FAIL() << "a device was made";
    } catch (const VXIOErrorException& error) {
        EXPECT_EQ(error.error(), VXIOError::pluginHasNoUsbDeviceInterface);
        EXPECT_EQ(error.errorDescription(), "USB: Plugin has no device interface.");
    }
    expectNothingLeaked();
}

// One failure of the creation path per row: what is raised, and the log.
struct CreationFailure {
    const char* name;
    void (*arrange)(sim::DeviceFaults&);
    bool deviceCreated;  // the failure is in the interface step
    std::optional<VXIOError> vxio;
    IOReturn status;
    std::vector<std::string> log;
};

TEST_F(DeviceObjects, CreationFailuresRaiseTheirErrorAndReleaseEverything)
{
    const CreationFailure cases[] = {
        {"device query",
         [](sim::DeviceFaults& f) { f.deviceQueryFails = true; },
         false,
         VXIOError::couldNotQueryUsbDeviceInterface,
         0,
         {}},
        {"interface query",
         [](sim::DeviceFaults& f) { f.interfaceQueryFails = true; },
         true,
         VXIOError::couldNotQueryUsbInterfaceInterface,
         0,
         {}},
        {"plug-in yields nothing",
         [](sim::DeviceFaults& f) { f.plugInYieldsNothing = true; },
         false,
         VXIOError::noPluginInterface,
         0,
         {}},
        {"plug-in status",
         [](sim::DeviceFaults& f) { f.plugIn = kIOReturnNotPermitted; },
         false,
         std::nullopt,
         kIOReturnNotPermitted,
         {"error happened at func create  and error is: Optional(\"Not permitted\")"}},
        {"interface iterator",
         [](sim::DeviceFaults& f) { f.interfaceIterator = kIOReturnNoResources; },
         true,
         std::nullopt,
         kIOReturnNoResources,
         {"error happened at func createInterfaceInterface  and error is: Optional(\"Resource "
          "shortage\")"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimulatedBus caseBus;
        auto device = test::basicDevice(0x356C, 0x0033,
                                        {sim::printerInterface(), sim::printerInterface()});
        c.arrange(device->faults);
        caseBus.plug(device);
        const auto services = caseBus.registryObjectCount();
        LoggedLines output;
        try {
            USBDeviceHandle handle = USBDeviceHandle::create(caseBus, 0x356C, 0x0033);
            EXPECT_TRUE(c.deviceCreated);
            try {
                handle.createInterfaceInterface();
                ADD_FAILURE() << "interfaces were made";
            } catch (...) {
                handle.release();
                throw;
            }
        } catch (const VXIOErrorException& error) {
            ASSERT_TRUE(c.vxio.has_value());
            EXPECT_EQ(error.error(), *c.vxio);
        } catch (const IOReturnError& error) {
            EXPECT_FALSE(c.vxio.has_value());
            EXPECT_EQ(error.status(), c.status);
        }
        EXPECT_EQ(output.lines(), c.log);
        EXPECT_EQ(caseBus.tableObjectCount(), 0u);
        EXPECT_EQ(caseBus.registryObjectCount(), services);
    }
}

TEST_F(DeviceObjects, InterfaceListsFollowTheRequest)
{
    plug(test::basicDevice(0x356C, 0x0033,
                           {test::interfaceWith({{0x01, kUSBBulk}}, 0, 7),
                            test::interfaceWith({}, 1, 255),
                            test::interfaceWith({{0x82, kUSBInterrupt}}, 2, 7)}));
    USBDeviceHandle device = USBDeviceHandle::create(bus, 0x356C, 0x0033);
    struct Case {
        int interfaceClass;
        std::vector<std::uint8_t> numbers;
    };
    for (const Case& c : {Case{65535, {0, 1, 2}}, Case{7, {0, 2}}, Case{255, {1}}}) {
        auto interfaces = device.createInterfaceInterface(c.interfaceClass);
        std::vector<std::uint8_t> numbers;
        for (const auto& interface : interfaces) {
            numbers.push_back(interface.getInterfaceNum());
            interface.release();
        }
        EXPECT_EQ(numbers, c.numbers) << "class " << c.interfaceClass;
    }
    try {
        device.createInterfaceInterface(3);
        FAIL() << "interfaces of class 3";
    } catch (const VXIOErrorException& error) {
        EXPECT_EQ(error.error(), VXIOError::pluginHasNoUsbInterfaceInterface);
    }
    EXPECT_THROW(device.createInterfaceInterface(65536), IOReturnError);
    device.release();
    expectNothingLeaked();
}

TEST_F(DeviceObjects, OpenIsExclusiveAndCloseGivesTheDeviceBack)
{
    plug(test::printerLikeDevice());
    USBDeviceHandle first = USBDeviceHandle::create(bus, 0x356C, 0x0033);
    USBDeviceHandle second = USBDeviceHandle::create(bus, 0x356C, 0x0033);
    first.open();
    {
        LoggedLines output;
        try {
            second.open();
            FAIL() << "opened twice";
        } catch (const IOReturnError& error) {
            EXPECT_EQ(error.status(), kIOReturnExclusiveAccess);
        }
        EXPECT_EQ(output.lines(), std::vector<std::string>{
                                      "error happened at func open-seize-false and error is: "
                                      "Optional(\"Exclusive access and device already open\")"});
    }
    EXPECT_NO_THROW(first.reset());
    first.close();
    EXPECT_NO_THROW(second.open());
    second.close();
    first.release();
    second.release();
    expectNothingLeaked();
}

TEST_F(DeviceObjects, SeizingOpenFailureIsLoggedWithItsLabel)
{
    auto device = test::printerLikeDevice();
    device->faults.deviceOpen = kIOReturnExclusiveAccess;
    plug(device);
    USBDeviceHandle handle = USBDeviceHandle::create(bus, 0x356C, 0x0033);
    LoggedLines output;
    try {
        handle.open(true);
        FAIL() << "opened";
    } catch (const IOReturnError& error) {
        EXPECT_EQ(error.status(), kIOReturnExclusiveAccess);
        EXPECT_EQ(error.errorDescription(), "Exclusive access and device already open");
    }
    EXPECT_EQ(output.lines(),
              std::vector<std::string>{"error happened at func open-seize-true and error is: "
                                       "Optional(\"Exclusive access and device already open\")"});
    handle.release();
}

TEST_F(DeviceObjects, OpenAndPerformClosesAfterAFailingActionAndPassesItsError)
{
    plug(test::printerLikeDevice());
    USBDeviceHandle device = USBDeviceHandle::create(bus, 0x356C, 0x0033);
    bool ran = false;
    EXPECT_THROW(device.openAndPerform([&] {
        ran = true;
        throw VXIOErrorException(VXIOError::couldNotGetEnoughData);
    }),
                 VXIOErrorException);
    EXPECT_TRUE(ran);
    EXPECT_NO_THROW(device.open());  // closed again after the failing action
    device.close();

    // A failing close after a failing action: the action's error wins.
    LoggedLines quiet;
    auto failingClose = test::printerLikeDevice(0x1111, 0x2222);
    failingClose->faults.interfaceClose = kIOReturnNotResponding;
    plug(failingClose);
    USBInterfaceHandle other = test::openInterface(bus, 0x1111, 0x2222);
    EXPECT_THROW(other.close(), IOReturnError);
    EXPECT_THROW(
        other.openAndPerform([] { throw VXIOErrorException(VXIOError::noPluginInterface); }),
        VXIOErrorException);
    // ... and a failing close after a good action is dropped.
    int calls = 0;
    EXPECT_NO_THROW(other.openAndPerform([&] { ++calls; }));
    EXPECT_EQ(calls, 1);

    other.release();
    device.release();
    expectNothingLeaked();
}

TEST_F(DeviceObjects, IdQueryFailuresCarryTheirLabels)
{
    auto device = test::printerLikeDevice();
    device->faults.vendor = kIOReturnNotResponding;
    device->faults.product = kIOReturnNoDevice;
    plug(device);
    USBDeviceHandle handle = USBDeviceHandle::create(bus, 0x356C, 0x0033);
    LoggedLines output;
    EXPECT_THROW(handle.getVendorIdentifier(), IOReturnError);
    EXPECT_THROW(handle.getProductIdentifier(), IOReturnError);
    EXPECT_EQ(
        output.lines(),
        (std::vector<std::string>{
            "error happened at func getVendorId  and error is: Optional(\"Device not responding\")",
            "error happened at func getProductId  and error is: Optional(\"No such device\")"}));
    handle.release();
}

TEST_F(DeviceObjects, EmptyHandlesSkipThePlatform)
{
    const USBDeviceHandle device;
    const USBInterfaceHandle interface;
    LoggedLines output;
    EXPECT_NO_THROW(device.open(true));
    EXPECT_NO_THROW(device.close());
    EXPECT_NO_THROW(device.reset());
    EXPECT_NO_THROW(interface.open());
    EXPECT_NO_THROW(interface.close());
    EXPECT_EQ(interface.getInterfaceNum(), 3);
    EXPECT_TRUE(output.lines().empty());
}

TEST_F(DeviceObjects, EnumerateServicesReleasesEachServiceAndDrainsOnEveryWayOut)
{
    for (int i = 0; i < 3; ++i) {
        plug(test::printerLikeDevice());
    }
    const auto dictionary = USBDeviceHandle::matchingDictionary(std::nullopt, std::nullopt);
    struct Case {
        const char* name;
        int stopAt;   // -1: never
        int throwAt;  // -1: never
        bool clearRemaining;
        int visited;
        bool left;  // services left in the iterator
    };
    for (const Case& c :
         {Case{"all", -1, -1, true, 3, false}, Case{"stop", 0, -1, true, 1, false},
          Case{"throw", -1, 1, true, 2, false}, Case{"stop, keep", 0, -1, false, 1, true}}) {
        SCOPED_TRACE(c.name);
        io_iterator_t iterator = 0;
        ASSERT_EQ(bus.getMatchingServices(dictionary, &iterator), kIOReturnSuccess);
        int visited = 0;
        try {
            enumerateServices(
                bus, iterator,
                [&](io_service_t, bool& stop) {
                    if (visited == c.throwAt) {
                        ++visited;
                        throw std::runtime_error("handler");
                    }
                    stop = visited == c.stopAt;
                    ++visited;
                },
                c.clearRemaining);
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(visited, c.visited);
        const io_object_t next = bus.iteratorNext(iterator);
        EXPECT_EQ(next != 0, c.left);
        if (next != 0) {
            release(bus, next);
            while (io_object_t rest = bus.iteratorNext(iterator)) {
                release(bus, rest);
            }
        }
        release(bus, iterator);
        expectNothingLeaked();
    }
}

}  // namespace
}  // namespace tervane::usb
