// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The USB platform seam: the small platform layer the tool's USB code runs on.
//
// The USB layer (device and interface handles, pipes, transfers, observer) is
// written against an IOKit-shaped platform: a registry of services named by
// 32-bit references, matching dictionaries, iterators, a plug-in step that
// yields COM-style function tables for devices and interfaces, and matching
// notifications delivered through a notification port. This header is that
// platform. Two backends implement it: libusb-1.0 for real printers
// (tool/usb/libusb/) and a simulated bus with virtual printers (tool/usb/sim/).
//
// How a backend plugs in
// ----------------------
// 1. Derive from UsbPlatform and implement every pure virtual member. The
//    platform object plays the part of the master port: every registry
//    reference it hands out is only meaningful to the same platform object.
// 2. Registry references (io_object_t, io_service_t, io_iterator_t) are
//    32-bit values, 0 meaning none. Each reference handed to a caller carries
//    one count; the caller gives it back with objectRelease(). iteratorNext()
//    returns a retained service reference, or 0 at the end. A service's
//    registry properties ("idVendor", "idProduct", "locationID") come from
//    registryEntryCreateCFProperties(), which a backend overrides (the
//    default says kIOReturnUnsupported).
// 3. Device and interface objects are function tables reached through a
//    double pointer, like COM: the backend's object starts with a pointer to
//    its (static) table, and a handle is the address of that pointer. Every
//    table entry takes the handle itself (as void*) as its first argument.
//    createPlugInInterfaceForService() yields an IOCFPlugInInterfaceStruct
//    object; its QueryInterface() with kIOUSBDeviceInterfaceID650 (for a
//    device service) or kIOUSBInterfaceInterfaceID700 (for an interface
//    service) yields the device or interface object, with one count (AddRef/
//    Release). Every table entry is filled in; none may be null.
// 4. Table entries never throw: every failure is an IOReturn status from
//    io_return.h (time-out kIOReturnTimeout, vanished device kIOReturnNoDevice,
//    stall kIOUSBPipeStalled, busy kIOReturnExclusiveAccess, ...).
// 5. Hot-plug: notificationPortCreate() makes a port; the caller attaches a
//    TaskQueue with notificationPortSetDispatchQueue(); addMatchingNotification()
//    registers a callback for kIOFirstMatchNotification or
//    kIOTerminatedNotification and returns an iterator that already holds the
//    currently matching services (none for termination). The notification is
//    armed once the caller has drained the iterator (iteratorNext() returned
//    0). When a matching device appears or goes away, the backend appends the
//    service to the iterator and, if armed, posts ONE task on the port's queue
//    that calls callback(refcon, iterator); it then stays disarmed until the
//    iterator is drained again. After notificationPortDestroy() returns, the
//    backend posts nothing more for that port (tasks already posted may still
//    run; the caller keeps their refcon alive until its queue is idle). The
//    notification iterators stay valid until released.
// 6. Every member may be called from any thread; a backend serialises its own
//    state. Calls on one device or interface object come one after another.
// 7. Backend selection: makePlatform() reads the environment variable
//    TERVANE_USB. "sim" selects the simulated bus (with one virtual printer,
//    see sim/simulated_bus.h); anything else calls the real-device factory the
//    program passes in (makeLibusbPlatform, defined by the tervane_usb_libusb
//    target, so the core library never depends on libusb at compile time).
#pragma once

#include "io_return.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>

namespace tervane::usb {

// ---- registry references --------------------------------------------------

using io_object_t = std::uint32_t;
using io_service_t = io_object_t;
using io_iterator_t = io_object_t;
constexpr io_object_t IO_OBJECT_NULL = 0;

// ---- identifier constants ---------------------------------------------------

// A 16-byte UUID identifying a plug-in type or an interface version. The
// constants below are created once on first use and never freed; compare
// them by value.
struct CFUUIDBytes {
    std::array<std::uint8_t, 16> bytes{};
    friend bool operator==(const CFUUIDBytes&, const CFUUIDBytes&) = default;
};
using CFUUIDRef = const CFUUIDBytes*;

CFUUIDRef kIOUSBDeviceUserClientTypeID();
CFUUIDRef kIOUSBInterfaceUserClientTypeID();
CFUUIDRef kIOCFPlugInInterfaceID();
CFUUIDRef kIOUSBDeviceInterfaceID650();
CFUUIDRef kIOUSBInterfaceInterfaceID700();
CFUUIDRef kIOHIDDeviceUserClientTypeID();
CFUUIDRef kIOHIDDeviceInterfaceID();
CFUUIDRef kIOHIDDeviceInterfaceID122();
CFUUIDRef kIOHIDQueueInterfaceID();
CFUUIDRef kIOHIDOutputTransactionInterfaceID();
// The names the handle creation code uses (the same objects as above).
inline CFUUIDRef USBDeviceInterfaceID() { return kIOUSBDeviceInterfaceID650(); }
inline CFUUIDRef USBInterfaceInterfaceID() { return kIOUSBInterfaceInterfaceID700(); }

// ---- matching dictionaries --------------------------------------------------

constexpr const char* kIOProviderClassKey = "IOProviderClass";
constexpr const char* kUSBVendorID = "idVendor";
constexpr const char* kUSBProductID = "idProduct";
// The device's place on the bus, a 32-bit unsigned number: the bus number in
// the top 8 bits, then one 4-bit nibble per port on the way from the root hub
// (bus 1, port 2, then port 3 gives 0x01230000; each backend says what a
// device whose path does not fit gets). Two devices attached at the same time
// never share it; interface services carry their device's value. 0 means
// unknown.
constexpr const char* kUSBDevicePropertyLocationID = "locationID";
constexpr const char* kIOUSBHostDeviceClassName = "IOUSBHostDevice";
constexpr const char* kIOUSBHostInterfaceClassName = "IOUSBHostInterface";

// Values are strings (the class name) or signed integers (the ids and the
// location).
using MatchingValue = std::variant<std::string, std::int64_t>;
using MatchingDictionary = std::map<std::string, MatchingValue>;
// A service's registry properties: the same keys and value kinds.
using RegistryProperties = std::map<std::string, MatchingValue>;

// A dictionary holding only the class-name entry.
MatchingDictionary IOServiceMatching(const std::string& className);

// What a backend knows of a service, for matching.
struct ServiceDescription {
    std::string className;  // "IOUSBHostDevice" or "IOUSBHostInterface"
    std::int64_t vendorId = -1;
    std::int64_t productId = -1;
    std::uint32_t locationID = 0;  // see kUSBDevicePropertyLocationID
};

// True when every entry of the dictionary is satisfied by the service: the
// class name equals "IOProviderClass", "idVendor"/"idProduct" equal the ids,
// "locationID" equals the location. Unknown keys never match. Backends use
// this to answer matching calls.
bool serviceMatches(const MatchingDictionary& dictionary, const ServiceDescription& service);

// The registry properties of a described service: "IOProviderClass", and
// "idVendor", "idProduct" and "locationID" when known.
RegistryProperties registryProperties(const ServiceDescription& service);

// ---- function tables ----------------------------------------------------------

struct IOUSBFindInterfaceRequest {
    std::uint16_t bInterfaceClass;
    std::uint16_t bInterfaceSubClass;
    std::uint16_t bInterfaceProtocol;
    std::uint16_t bAlternateSetting;
};
constexpr std::uint16_t kIOUSBFindInterfaceDontCare = 0xFFFF;

// True when every field of the request is kIOUSBFindInterfaceDontCare or
// equals the interface's value. Backends use this to answer
// CreateInterfaceIterator.
bool interfaceMatches(const IOUSBFindInterfaceRequest& request, std::uint8_t interfaceClass,
                      std::uint8_t interfaceSubClass, std::uint8_t interfaceProtocol,
                      std::uint8_t alternateSetting);

struct IOUSBDevRequestTO {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;
    void* pData = nullptr;
    std::uint32_t wLenDone = 0;
    std::uint32_t noDataTimeout = 0;      // ms
    std::uint32_t completionTimeout = 0;  // ms
};

// Pipe directions and transfer types as GetPipeProperties reports them.
enum : std::uint8_t { kUSBOut = 0, kUSBIn = 1, kUSBNone = 2, kUSBAnyDirn = 3 };
enum : std::uint8_t {
    kUSBControl = 0,
    kUSBIsoc = 1,
    kUSBBulk = 2,
    kUSBInterrupt = 3,
    kUSBAnyType = 0xFF
};

struct IOCFPlugInInterfaceStruct {
    // 0 and *out set on success; any other value (and *out left null) on failure.
    std::int32_t (*QueryInterface)(void* self, CFUUIDBytes iid, void** out);
    std::uint32_t (*AddRef)(void* self);
    std::uint32_t (*Release)(void* self);
};

struct IOUSBDeviceStruct650 {
    std::uint32_t (*AddRef)(void* self);
    std::uint32_t (*Release)(void* self);
    IOReturn (*USBDeviceOpen)(void* self);
    IOReturn (*USBDeviceOpenSeize)(void* self);
    IOReturn (*USBDeviceClose)(void* self);
    IOReturn (*GetDeviceVendor)(void* self, std::uint16_t* vendor);
    IOReturn (*GetDeviceProduct)(void* self, std::uint16_t* product);
    // Iterator (a registry reference of the device's platform) over the
    // interface services of the current configuration matching the request.
    IOReturn (*CreateInterfaceIterator)(void* self, IOUSBFindInterfaceRequest* request,
                                        io_iterator_t* iterator);
    IOReturn (*ResetDevice)(void* self);
};

struct IOUSBInterfaceStruct700 {
    std::uint32_t (*AddRef)(void* self);
    std::uint32_t (*Release)(void* self);
    IOReturn (*USBInterfaceOpen)(void* self);
    IOReturn (*USBInterfaceOpenSeize)(void* self);
    IOReturn (*USBInterfaceClose)(void* self);
    IOReturn (*GetInterfaceNumber)(void* self, std::uint8_t* number);
    IOReturn (*GetNumEndpoints)(void* self, std::uint8_t* count);
    // pipeRef 1..count, in the interface's endpoint order.
    IOReturn (*GetPipeProperties)(void* self, std::uint8_t pipeRef, std::uint8_t* direction,
                                  std::uint8_t* number, std::uint8_t* transferType,
                                  std::uint16_t* maxPacketSize, std::uint8_t* interval);
    // *size: bytes wanted on entry, bytes received on return. Time-outs in ms:
    // the no-data one bounds the time without any data, the completion one
    // the whole transfer (0 = none).
    IOReturn (*ReadPipeTO)(void* self, std::uint8_t pipeRef, void* buffer, std::uint32_t* size,
                           std::uint32_t noDataTimeout, std::uint32_t completionTimeout);
    IOReturn (*WritePipeTO)(void* self, std::uint8_t pipeRef, const void* buffer,
                            std::uint32_t size, std::uint32_t noDataTimeout,
                            std::uint32_t completionTimeout);
    IOReturn (*ControlRequestTO)(void* self, std::uint8_t pipeRef, IOUSBDevRequestTO* request);
    IOReturn (*ClearPipeStall)(void* self, std::uint8_t pipeRef);
    IOReturn (*ClearPipeStallBothEnds)(void* self, std::uint8_t pipeRef);
    IOReturn (*ResetPipe)(void* self, std::uint8_t pipeRef);
};

// The platform's double pointers.
using IOCFPlugInInterfaceRef = const IOCFPlugInInterfaceStruct**;
using IOUSBDeviceRef = const IOUSBDeviceStruct650**;
using IOUSBInterfaceRef = const IOUSBInterfaceStruct700**;

// ---- delivery queues ----------------------------------------------------------

// Something that runs posted tasks one after another, in posting order, on
// some thread of its own choosing (a worker thread, or a GUI event loop).
class TaskQueue {
public:
    virtual ~TaskQueue() = default;
    virtual void post(std::function<void()> task) = 0;
};

// ---- notifications --------------------------------------------------------------

constexpr const char* kIOFirstMatchNotification = "IOServiceFirstMatch";
constexpr const char* kIOTerminatedNotification = "IOServiceTerminate";

struct IONotificationPort;  // backend-defined
using IONotificationPortRef = IONotificationPort*;
using IOServiceMatchingCallback = void (*)(void* refcon, io_iterator_t iterator);

// ---- the platform ---------------------------------------------------------------

class UsbPlatform {
public:
    virtual ~UsbPlatform() = default;

    // Short backend name for diagnostics ("libusb", "sim").
    virtual std::string backendName() const = 0;

    virtual IOReturn objectRetain(io_object_t object) = 0;
    virtual IOReturn objectRelease(io_object_t object) = 0;
    virtual io_object_t iteratorNext(io_iterator_t iterator) = 0;

    // Iterator over the services matching the dictionary, in registry order
    // (an empty iterator when none matches).
    virtual IOReturn getMatchingServices(const MatchingDictionary& matching,
                                         io_iterator_t* existing) = 0;

    // The service's registry properties (registryProperties() of its
    // description). kIOReturnBadArgument for a reference that is not a
    // service; a backend that keeps no properties answers
    // kIOReturnUnsupported.
    virtual IOReturn registryEntryCreateCFProperties(io_service_t service,
                                                     RegistryProperties* properties);

    // Plug-in step: *plugin (with one count) and *score filled on success.
    virtual IOReturn createPlugInInterfaceForService(io_service_t service, CFUUIDBytes pluginType,
                                                     CFUUIDBytes interfaceType,
                                                     IOCFPlugInInterfaceRef* plugin,
                                                     std::int32_t* score) = 0;

    virtual IONotificationPortRef notificationPortCreate() = 0;
    virtual void notificationPortSetDispatchQueue(IONotificationPortRef port, TaskQueue* queue) = 0;
    virtual void notificationPortDestroy(IONotificationPortRef port) = 0;
    virtual IOReturn addMatchingNotification(IONotificationPortRef port, const std::string& type,
                                             const MatchingDictionary& matching,
                                             IOServiceMatchingCallback callback, void* refcon,
                                             io_iterator_t* notification) = 0;
};

// ---- backend selection ----------------------------------------------------------

using PlatformFactory = std::unique_ptr<UsbPlatform> (*)();

// The libusb-1.0 backend (defined in tool/usb/libusb, target tervane_usb_libusb).
std::unique_ptr<UsbPlatform> makeLibusbPlatform();

// TERVANE_USB=sim (or simulate == true) gives the simulated bus with one
// virtual printer; otherwise realDevices() is called. A null factory or a
// factory returning null gives an empty simulated bus (no device at all).
std::unique_ptr<UsbPlatform> makePlatform(PlatformFactory realDevices, bool simulate = false);

}  // namespace tervane::usb
