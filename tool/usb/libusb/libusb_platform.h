// The libusb-1.0 backend of the USB platform seam: real printers on Linux
// and macOS.
//
// Services are the devices libusb lists (class "IOUSBHostDevice", with their
// "idVendor" and "idProduct") and their interfaces (class
// "IOUSBHostInterface"), in bus order. An interface object opens its own
// libusb device handle when it is opened, takes the interface from a kernel
// driver that holds it (usblp) and claims it; closing or releasing the
// object releases the claim and gives the interface back to that driver.
// Pipe references 1..N are the interface's endpoints in descriptor order.
// Transfers use one libusb time-out, the larger of the two the caller gives.
// Statuses come from the table in libusb_status.cpp.
//
// Hot-plug uses libusb's hot-plug callbacks, handled on a thread of the
// backend. Where libusb has no hot-plug support, addMatchingNotification()
// says so with kIOReturnUnsupported (the first-match iterator still lists
// the devices already there).
//
// When libusb cannot start at all (no USB on the machine), the registry is
// simply empty: every search finds no device.
#pragma once

#include "../usb_platform.h"

#include <memory>

namespace tervane::usb::libusb {

struct Core;

class LibusbPlatform final : public UsbPlatform {
public:
    LibusbPlatform();
    ~LibusbPlatform() override;

    std::string backendName() const override;

    IOReturn objectRetain(io_object_t object) override;
    IOReturn objectRelease(io_object_t object) override;
    io_object_t iteratorNext(io_iterator_t iterator) override;

    IOReturn getMatchingServices(const MatchingDictionary& matching, io_iterator_t* existing) override;
    IOReturn createPlugInInterfaceForService(io_service_t service, CFUUIDBytes pluginType,
                                             CFUUIDBytes interfaceType, IOCFPlugInInterfaceRef* plugin,
                                             std::int32_t* score) override;

    IONotificationPortRef notificationPortCreate() override;
    void notificationPortSetDispatchQueue(IONotificationPortRef port, TaskQueue* queue) override;
    void notificationPortDestroy(IONotificationPortRef port) override;
    IOReturn addMatchingNotification(IONotificationPortRef port, const std::string& type,
                                     const MatchingDictionary& matching,
                                     IOServiceMatchingCallback callback, void* refcon,
                                     io_iterator_t* notification) override;

    // True when libusb started; false means a machine without USB.
    bool usbAvailable() const;

private:
    std::shared_ptr<Core> core_;
};

} // namespace tervane::usb::libusb
