// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "libusb_platform.h"
#include "compiler_quirks.h"

#include "libusb_status.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <fstream>
#include <mutex>
#include <thread>

namespace tervane::usb {

std::unique_ptr<UsbPlatform> makeLibusbPlatform()
{
    return std::make_unique<libusb::LibusbPlatform>();
}

}  // namespace tervane::usb

namespace tervane::usb::libusb {

// The libusb context, shared by the transport and every device it hands
// out, and the event thread that runs hot-plug callbacks.
struct LibusbPlatform::Context {
    Context()
    {
        if (libusb_init(&context) != LIBUSB_SUCCESS) {
            context = nullptr;  // no USB support at all: an empty bus
        }
    }
    ~Context()
    {
        if (events.joinable()) {
            stopEvents = true;
            libusb_interrupt_event_handler(context);
            events.join();
        }
        if (context != nullptr) {
            libusb_exit(context);
        }
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // libusb calls hot-plug callbacks from whichever thread handles its
    // events; this one makes sure some thread always does.
    void startEvents()
    {
        std::lock_guard guard(lock);
        if (!events.joinable()) {
            events = std::thread([this] {
                while (!stopEvents) {
                    timeval tick{0, 200000};
                    libusb_handle_events_timeout_completed(context, &tick, nullptr);
                }
            });
        }
    }

    libusb_context* context = nullptr;
    std::mutex lock;
    std::thread events;
    std::atomic<bool> stopEvents{false};
};

namespace {

using Context = LibusbPlatform::Context;

// The first line of a sysfs attribute of the device, or empty.
std::string sysfsText(const std::string& name, const char* attribute)
{
    std::ifstream in("/sys/bus/usb/devices/" + name + "/" + attribute);
    std::string line;
    std::getline(in, line);
    return line;
}

DeviceDescription describe(libusb_device* device)
{
    DeviceDescription description;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS) {
        description.vendorId = descriptor.idVendor;
        description.productId = descriptor.idProduct;
    }
    // Seven ports is more than a USB tree holds; an error leaves no path.
    std::array<std::uint8_t, 7> ports{};
    const int depth = std::max(
        libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size())), 0);
    const std::uint8_t bus = libusb_get_bus_number(device);
    description.locationID = locationIDOf(
        bus, std::span<const std::uint8_t>(ports.data(), static_cast<std::size_t>(depth)),
        libusb_get_device_address(device));
    if (depth > 0) {
        // The kernel's name of the device: "<bus>-<port>.<port>...".
        std::string name = std::to_string(bus) + "-";
        RVT_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")  // GCC bug 105651
        for (int i = 0; i < depth; ++i) {
            name += (i > 0 ? "." : "") + std::to_string(ports[i]);
        }
        RVT_GCC12_FALSE_POSITIVE_END
        description.manufacturer = sysfsText(name, "manufacturer");
        description.product = sysfsText(name, "product");
        description.serialNumber = sysfsText(name, "serial");
    }
    return description;
}

std::uint8_t transferTypeOf(std::uint8_t attributes)
{
    return attributes & LIBUSB_TRANSFER_TYPE_MASK;  // the descriptor's values are ours
}

class LibusbClaim final : public ClaimedInterface {
public:
    LibusbClaim(std::shared_ptr<Context> context, libusb_device_handle* handle, std::uint8_t number,
                bool detachedDriver)
        : context_(std::move(context)), handle_(handle), number_(number),
          detachedDriver_(detachedDriver)
    {
    }
    ~LibusbClaim() override
    {
        libusb_release_interface(handle_, number_);
        if (detachedDriver_) {
            // Fails harmlessly when the device has gone.
            libusb_attach_kernel_driver(handle_, number_);
        }
        libusb_close(handle_);
    }
    LibusbClaim(const LibusbClaim&) = delete;
    LibusbClaim& operator=(const LibusbClaim&) = delete;

    IOReturn bulkTransfer(std::uint8_t endpoint, std::uint8_t* data, std::uint32_t* size,
                          std::uint32_t timeout) override
    {
        if (*size > static_cast<std::uint32_t>(INT_MAX)) {
            return kIOReturnBadArgument;
        }
        int transferred = 0;
        const int result = libusb_bulk_transfer(handle_, endpoint, data, static_cast<int>(*size),
                                                &transferred, timeout);
        *size = static_cast<std::uint32_t>(std::max(transferred, 0));
        return ioReturnFromLibusb(result);
    }

private:
    std::shared_ptr<Context> context_;
    libusb_device_handle* handle_;
    std::uint8_t number_;
    bool detachedDriver_;
};

class LibusbDevice final : public UsbDevice {
public:
    LibusbDevice(std::shared_ptr<Context> context, libusb_device* device)
        : context_(std::move(context)), device_(libusb_ref_device(device)),
          description_(describe(device))
    {
    }
    ~LibusbDevice() override { libusb_unref_device(device_); }
    LibusbDevice(const LibusbDevice&) = delete;
    LibusbDevice& operator=(const LibusbDevice&) = delete;

    DeviceDescription description() const override { return description_; }

    std::vector<InterfaceDescription> interfaces() const override
    {
        std::vector<InterfaceDescription> result;
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_active_config_descriptor(device_, &config) != LIBUSB_SUCCESS &&
            libusb_get_config_descriptor(device_, 0, &config) != LIBUSB_SUCCESS) {
            return result;
        }
        for (int i = 0; i < config->bNumInterfaces; ++i) {
            if (config->interface[i].num_altsetting < 1) {
                continue;
            }
            // The current alternate setting: the first, which nothing here changes.
            const libusb_interface_descriptor& alt = config->interface[i].altsetting[0];
            InterfaceDescription interface {
                alt.bInterfaceNumber, alt.bInterfaceClass, alt.bInterfaceSubClass,
                    alt.bInterfaceProtocol, alt.bAlternateSetting,
                {
                }
            };
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                // Bits 11 and 12 count extra transactions per micro-frame, not bytes.
                interface.endpoints.push_back(
                    {ep.bEndpointAddress, transferTypeOf(ep.bmAttributes),
                     static_cast<std::uint16_t>(ep.wMaxPacketSize & 0x07FF), ep.bInterval});
            }
            result.push_back(std::move(interface));
        }
        libusb_free_config_descriptor(config);
        return result;
    }

    IOReturn claim(std::uint8_t number, std::unique_ptr<ClaimedInterface>* claimed) override
    {
        libusb_device_handle* handle = nullptr;
        int result = libusb_open(device_, &handle);
        if (result != LIBUSB_SUCCESS) {
            return ioReturnFromLibusb(result);
        }
        bool detached = false;
        // A kernel driver (usblp for a printer) holding the interface is taken
        // off it for as long as the claim lasts.
        if (libusb_kernel_driver_active(handle, number) == 1) {
            result = libusb_detach_kernel_driver(handle, number);
            if (result != LIBUSB_SUCCESS && result != LIBUSB_ERROR_NOT_FOUND) {
                libusb_close(handle);
                return ioReturnFromLibusb(result);
            }
            detached = result == LIBUSB_SUCCESS;
        }
        result = libusb_claim_interface(handle, number);
        if (result != LIBUSB_SUCCESS) {
            if (detached) {
                libusb_attach_kernel_driver(handle, number);
            }
            libusb_close(handle);
            return ioReturnFromLibusb(result);
        }
        *claimed = std::make_unique<LibusbClaim>(context_, handle, number, detached);
        return kIOReturnSuccess;
    }

private:
    std::shared_ptr<Context> context_;
    libusb_device* device_;
    DeviceDescription description_;
};

class LibusbWatch final : public HotplugWatch {
public:
    LibusbWatch(std::shared_ptr<Context> context, UsbPlatform::HotplugHandler handler)
        : context_(std::move(context)), handler_(std::move(handler))
    {
    }
    ~LibusbWatch() override
    {
        if (registered_) {
            // libusb runs callbacks under the lock this takes: none is under
            // way once it returns.
            libusb_hotplug_deregister_callback(context_->context, handle_);
        }
    }
    LibusbWatch(const LibusbWatch&) = delete;
    LibusbWatch& operator=(const LibusbWatch&) = delete;

    IOReturn start()
    {
        const int result = libusb_hotplug_register_callback(
            context_->context,
            static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                              LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
            LIBUSB_HOTPLUG_MATCH_ANY, &LibusbWatch::onHotplug, this, &handle_);
        if (result != LIBUSB_SUCCESS) {
            return kIOReturnUnsupported;
        }
        registered_ = true;
        context_->startEvents();
        return kIOReturnSuccess;
    }

private:
    static int LIBUSB_CALL onHotplug(libusb_context*, libusb_device* device,
                                     libusb_hotplug_event event, void* self)
    {
        auto* watch = static_cast<LibusbWatch*>(self);
        watch->handler_(event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,
                        std::make_shared<LibusbDevice>(watch->context_, device));
        return 0;  // stay registered
    }

    std::shared_ptr<Context> context_;
    UsbPlatform::HotplugHandler handler_;
    libusb_hotplug_callback_handle handle_ = 0;
    bool registered_ = false;
};

}  // namespace

LibusbPlatform::LibusbPlatform() : context_(std::make_shared<Context>()) {}

LibusbPlatform::~LibusbPlatform() = default;

bool LibusbPlatform::usbAvailable() const { return context_->context != nullptr; }

std::vector<std::shared_ptr<UsbDevice>> LibusbPlatform::devices()
{
    std::vector<std::shared_ptr<UsbDevice>> found;
    libusb_device** list = nullptr;
    const ssize_t count = context_->context == nullptr
                              ? 0
                              : libusb_get_device_list(context_->context, &list);
    // Bus order: by bus, then by the port path from the root hub.
    std::vector<std::pair<std::vector<std::uint8_t>, libusb_device*>> ordered;
    for (ssize_t i = 0; i < count; ++i) {
        std::array<std::uint8_t, 8> ports{};
        const int depth = libusb_get_port_numbers(list[i], ports.data(),
                                                  static_cast<int>(ports.size()));
        std::vector<std::uint8_t> key{libusb_get_bus_number(list[i])};
        key.insert(key.end(), ports.begin(), ports.begin() + std::max(depth, 0));
        key.push_back(libusb_get_device_address(list[i]));
        ordered.emplace_back(std::move(key), list[i]);
    }
    RVT_GCC12_FALSE_POSITIVE_BEGIN("-Wstringop-overread")  // GCC bug 107852
    std::sort(ordered.begin(), ordered.end());
    RVT_GCC12_FALSE_POSITIVE_END
    for (const auto& [key, device] : ordered) {
        found.push_back(std::make_shared<LibusbDevice>(context_, device));
    }
    if (list != nullptr) {
        libusb_free_device_list(list, 1);
    }
    return found;
}

IOReturn LibusbPlatform::watch(HotplugHandler handler, std::unique_ptr<HotplugWatch>* watch)
{
    if (context_->context == nullptr || libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) {
        return kIOReturnUnsupported;
    }
    auto made = std::make_unique<LibusbWatch>(context_, std::move(handler));
    const IOReturn status = made->start();
    if (status == kIOReturnSuccess) {
        *watch = std::move(made);
    }
    return status;
}

std::uint32_t locationIDOf(std::uint8_t busNumber, std::span<const std::uint8_t> portNumbers,
                           std::uint8_t deviceAddress)
{
    constexpr std::size_t kNibbles = 6;
    const std::uint32_t bus = static_cast<std::uint32_t>(busNumber) << 24;
    const bool fits = !portNumbers.empty() && portNumbers.size() <= kNibbles &&
                      std::all_of(portNumbers.begin(), portNumbers.end(),
                                  [](std::uint8_t port) { return port >= 1 && port <= 0xF; });
    if (!fits) {
        return bus | deviceAddress;
    }
    std::uint32_t location = bus;
    int shift = 20;
    for (std::uint8_t port : portNumbers) {
        location |= static_cast<std::uint32_t>(port) << shift;
        shift -= 4;
    }
    return location;
}

}  // namespace tervane::usb::libusb
