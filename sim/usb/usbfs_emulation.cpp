// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "usbfs_emulation.h"
#include "compiler_quirks.h"

#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace rvtusb {

namespace {

// libusb under umockdev learns of finished URBs by reaping until there is
// none left, and the device node always polls ready: an empty reap waits a
// little, so that a waiting host does not spin.
constexpr auto kEmptyReapPause = std::chrono::milliseconds(2);

constexpr std::size_t kSetupSize = 8;

void put16(std::vector<std::uint8_t>& out, unsigned v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

std::uint8_t stringIndex(const std::string& text, std::uint8_t index)
{
    return text.empty() ? 0 : index;
}

std::vector<std::uint8_t> stringDescriptor(const std::string& text)
{
    std::vector<std::uint8_t> d = {0, USB_DT_STRING};
    for (char c : text.substr(0, 126))
        put16(d, static_cast<unsigned char>(c));
    d[0] = static_cast<std::uint8_t>(d.size());
    return d;
}

struct Setup {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

Setup readSetup(const std::uint8_t* p)
{
    Setup s;
    s.requestType = p[0];
    s.request = p[1];
    s.value = static_cast<std::uint16_t>(p[2] | (p[3] << 8));
    s.index = static_cast<std::uint16_t>(p[4] | (p[5] << 8));
    s.length = static_cast<std::uint16_t>(p[6] | (p[7] << 8));
    return s;
}

// The data stage of a control request, or nothing: the request stalls.
std::optional<std::vector<std::uint8_t>> controlReply(const EmulatedDeviceSpec& spec,
                                                      const Setup& s)
{
    constexpr std::uint8_t kStandardDeviceIn = USB_DIR_IN | USB_TYPE_STANDARD | USB_RECIP_DEVICE;
    constexpr std::uint8_t kClassInterfaceIn = USB_DIR_IN | USB_TYPE_CLASS | USB_RECIP_INTERFACE;
    constexpr std::uint8_t kClassInterfaceOut = USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE;
    // The printer class requests (USB printer class definition 1.1).
    constexpr std::uint8_t kGetDeviceId = 0, kGetPortStatus = 1, kSoftReset = 2;
    constexpr std::uint8_t kPortSelectedNoError = 0x18;

    if (s.requestType == kStandardDeviceIn && s.request == USB_REQ_GET_DESCRIPTOR) {
        const std::vector<std::uint8_t> blob = descriptorBlob(spec);
        const unsigned type = s.value >> 8, index = s.value & 0xFF;
        if (type == USB_DT_DEVICE)
            return std::vector<std::uint8_t>(blob.begin(), blob.begin() + USB_DT_DEVICE_SIZE);
        if (type == USB_DT_CONFIG && index == 0)
            return std::vector<std::uint8_t>(blob.begin() + USB_DT_DEVICE_SIZE, blob.end());
        if (type == USB_DT_STRING) {
            if (index == 0)
                return std::vector<std::uint8_t>{4, USB_DT_STRING, 0x09, 0x04};  // US English
            const std::string* texts[] = {&spec.manufacturer, &spec.productName, &spec.serial};
            if (index <= 3 && !texts[index - 1]->empty())
                return stringDescriptor(*texts[index - 1]);
        }
        return std::nullopt;
    }
    if (s.requestType == kStandardDeviceIn && s.request == USB_REQ_GET_CONFIGURATION)
        return std::vector<std::uint8_t>{1};
    if (s.requestType == kStandardDeviceIn && s.request == USB_REQ_GET_STATUS)
        return std::vector<std::uint8_t>{0, 0};
    const bool ourInterface = (s.index >> 8) == spec.interfaceNumber;
    if (s.requestType == kClassInterfaceIn && s.request == kGetDeviceId && ourInterface &&
        !spec.deviceId.empty()) {
        // Two bytes of length, most significant first, the length included.
        const std::size_t n = std::min<std::size_t>(spec.deviceId.size() + 2, 0xFFFF);
        std::vector<std::uint8_t> id = {static_cast<std::uint8_t>(n >> 8),
                                        static_cast<std::uint8_t>(n & 0xFF)};
        id.insert(id.end(), spec.deviceId.begin(), spec.deviceId.begin() + (n - 2));
        return id;
    }
    if (s.requestType == kClassInterfaceIn && s.request == kGetPortStatus && ourInterface)
        return std::vector<std::uint8_t>{kPortSelectedNoError};
    if (s.requestType == kClassInterfaceOut && s.request == kSoftReset)
        return std::vector<std::uint8_t>{};
    return std::nullopt;
}

}  // namespace

std::vector<std::uint8_t> descriptorBlob(const EmulatedDeviceSpec& spec)
{
    std::vector<std::uint8_t> d;
    // Device descriptor.
    RVT_GCC12_FALSE_POSITIVE_BEGIN("-Wstringop-overflow")  // GCC bug 106199
    d.insert(d.end(), {USB_DT_DEVICE_SIZE, USB_DT_DEVICE});
    RVT_GCC12_FALSE_POSITIVE_END
    put16(d, 0x0200);
    d.insert(d.end(), {0, 0, 0, 64});
    put16(d, spec.vendor);
    put16(d, spec.product);
    put16(d, 0x0100);
    d.insert(d.end(), {stringIndex(spec.manufacturer, 1), stringIndex(spec.productName, 2),
                       stringIndex(spec.serial, 3), 1});
    // Configuration, one interface of the printer class, its endpoints.
    const unsigned total = 9 + 9 + 7 * static_cast<unsigned>(spec.endpoints.size());
    d.insert(d.end(), {9, USB_DT_CONFIG});
    put16(d, total);
    d.insert(d.end(), {1, 1, 0, 0xC0, 50});
    d.insert(d.end(),
             {9, USB_DT_INTERFACE, spec.interfaceNumber, 0,
              static_cast<std::uint8_t>(spec.endpoints.size()), USB_CLASS_PRINTER, 1, 2, 0});
    for (const EmulatedEndpoint& e : spec.endpoints) {
        d.insert(d.end(), {7, USB_DT_ENDPOINT, e.address, e.attributes});
        put16(d, e.maxPacketSize);
        d.push_back(e.interval);
    }
    return d;
}

// A bulk-out transfer that completes later (setOutDelay).
struct UsbfsEmulation::SlowOut {
    UsbfsEmulation* self = nullptr;
    std::string syspath;
    Urb urb;
    std::vector<std::uint8_t> bytes;
    GSource* source = nullptr;
};

UsbfsEmulation::UsbfsEmulation()
{
    testbed_ = umockdev_testbed_new();
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbfsEmulation::onIoctl), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(&UsbfsEmulation::onClientConnected),
                     this);
}

UsbfsEmulation::~UsbfsEmulation()
{
    std::set<GSource*> slow;
    std::set<GObject*> clients;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slow.swap(slowOuts_);
        clients.swap(clients_);
        for (auto& [path, dev] : devices_) {
            release(dev->waitingReads);
            release(dev->done);
        }
    }
    // Destroying a source frees its transfer (see onSlowOutDone).
    for (GSource* s : slow) {
        g_source_destroy(s);
        g_source_unref(s);
    }
    for (GObject* c : clients) {
        g_signal_handlers_disconnect_by_data(c, this);
        g_object_unref(c);
    }
    for (auto& [path, dev] : devices_)
        if (!dev->vanished)
            umockdev_testbed_detach_ioctl(testbed_, dev->devnode.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
    g_object_unref(testbed_);
}

std::string UsbfsEmulation::rootDir() const
{
    // The testbed hands over a copy of its root directory's name.
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string dir = root ? root : "";
    g_free(root);
    return dir;
}

std::string UsbfsEmulation::addDevice(const EmulatedDeviceSpec& spec, DeviceHandlers handlers)
{
    char name[64];
    std::snprintf(name, sizeof name, "%03d/%03d", spec.bus, spec.address);
    const std::string node = std::string("bus/usb/") + name;
    const std::string devnode = "/dev/" + node;
    // The sysfs path names every hub on the way: usb1/1-2/1-2.3.
    const std::string bus = std::to_string(spec.bus);
    std::string syspath = "/sys/devices/pci0000:00/usb" + bus;
    if (!spec.rootHub) {
        const std::string ports = spec.ports.empty() ? std::to_string(spec.address) : spec.ports;
        for (std::size_t dot = ports.find('.'); dot != std::string::npos;
             dot = ports.find('.', dot + 1)) {
            syspath += "/" + bus + "-" + ports.substr(0, dot);
        }
        syspath += "/" + bus + "-" + ports;
    }

    auto dev = std::make_unique<Device>();
    dev->spec = spec;
    dev->handlers = std::move(handlers);
    dev->syspath = syspath;
    dev->devnode = devnode;
    dev->driver = spec.kernelDriver;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devices_[syspath] = std::move(dev);
    }

    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, devnode.c_str(), handler_, &error)) {
        std::string what = error ? error->message : "attach failed";
        g_clear_error(&error);
        throw std::runtime_error(what);
    }

    std::string hex;
    char two[3];
    for (std::uint8_t b : descriptorBlob(spec)) {
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    char ids[128];
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", spec.vendor,
                  spec.product);
    std::string strings;
    // Attribute values are one line each; a string that is not is left out.
    auto attribute = [&strings](const char* key, const std::string& value) {
        if (!value.empty() && value.find_first_of("\n\\") == std::string::npos)
            strings += std::string("A: ") + key + "=" + value + "\\n\n";
    };
    attribute("manufacturer", spec.manufacturer);
    attribute("product", spec.productName);
    attribute("serial", spec.serial);
    // clang-format off
    const std::string description =
        "P: " + syspath.substr(4) + "\n" +
        "N: " + node + "\n"
        "E: SUBSYSTEM=usb\n"
        "E: DEVTYPE=usb_device\n"
        "E: DEVNAME=" + devnode + "\n"
        "E: BUSNUM=" + std::string(name, 3) + "\n"
        "E: DEVNUM=" + std::string(name + 4, 3) + "\n"
        "A: busnum=" + std::to_string(spec.bus) + "\\n\n"
        "A: devnum=" + std::to_string(spec.address) + "\\n\n"
        "A: bConfigurationValue=1\\n\n"
        "A: speed=480\\n\n" +
        ids + strings +
        "H: descriptors=" + hex + "\n";
    // clang-format on
    if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &error)) {
        std::string what = error ? error->message : "add failed";
        g_clear_error(&error);
        throw std::runtime_error(what);
    }
    return syspath;
}

void UsbfsEmulation::unplug(const std::string& syspath)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Device& d = bySyspath(syspath);
        d.vanished = true;
        // In-flight URBs die with the device: the kernel completes them
        // with ESHUTDOWN and still lets them be reaped.
        for (Urb& u : d.waitingReads) {
            auto* urb = reinterpret_cast<usbdevfs_urb*>(u.data->data);
            urb->status = -ESHUTDOWN;
            urb->actual_length = 0;
            d.done.push_back(u);
        }
        d.waitingReads.clear();
    }
    // The sysfs entry stays until the testbed goes: removing it would also
    // take away the node's ioctl channel, and a caller blocked in an ioctl
    // would never hear back. The remove event is what libusb acts on.
    umockdev_testbed_uevent(testbed_, syspath.c_str(), "remove");
}

void UsbfsEmulation::stallNextRead(const std::string& syspath)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bySyspath(syspath).stallRead = true;
}

void UsbfsEmulation::failNextClaim(const std::string& syspath, int error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bySyspath(syspath).claimError = error;
}

void UsbfsEmulation::queueReply(const std::string& syspath, std::vector<std::uint8_t> bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Device& d = bySyspath(syspath);
    d.replies.push_back(std::move(bytes));
    feedWaitingReads(d);
}

void UsbfsEmulation::dropReplies(const std::string& syspath)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bySyspath(syspath).replies.clear();
}

void UsbfsEmulation::setOutDelay(const std::string& syspath, int ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bySyspath(syspath).outDelayMs = std::max(ms, 0);
}

std::string UsbfsEmulation::boundDriver(const std::string& syspath) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return bySyspath(syspath).driver;
}

std::vector<UsbfsCall> UsbfsEmulation::calls(const std::string& syspath) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return bySyspath(syspath).calls;
}

void UsbfsEmulation::clearCalls(const std::string& syspath)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bySyspath(syspath).calls.clear();
}

void UsbfsEmulation::releaseSilentClaims(std::chrono::milliseconds silence)
{
    std::vector<UMockdevIoctlClient*> silent;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        for (auto& [path, dev] : devices_)
            if (dev->claimed && now - dev->claimantCall > silence)
                silent.push_back(dev->claimedBy);
    }
    for (UMockdevIoctlClient* client : silent)
        clientGone(client);
}

void UsbfsEmulation::denyAccess(const std::string& syspath)
{
    std::string devnode;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devnode = bySyspath(syspath).devnode;
    }
    const std::string path = rootDir() + devnode;
    if (::chmod(path.c_str(), 0) != 0)
        throw std::runtime_error("chmod " + path + ": " + std::strerror(errno));
}

UsbfsEmulation::Device* UsbfsEmulation::byNode(const std::string& node)
{
    for (auto& [path, dev] : devices_)
        if (dev->devnode == node)
            return dev.get();
    return nullptr;
}

UsbfsEmulation::Device& UsbfsEmulation::bySyspath(const std::string& syspath)
{
    auto it = devices_.find(syspath);
    if (it == devices_.end())
        throw std::out_of_range("no emulated device " + syspath);
    return *it->second;
}

const UsbfsEmulation::Device& UsbfsEmulation::bySyspath(const std::string& syspath) const
{
    return const_cast<UsbfsEmulation*>(this)->bySyspath(syspath);
}

void UsbfsEmulation::release(std::deque<Urb>& urbs)
{
    for (Urb& u : urbs)
        g_object_unref(u.data);
    urbs.clear();
}

void UsbfsEmulation::notify(Notice& n)
{
    if (!n.handlers)
        return;
    if (n.claim && n.handlers->claim)
        n.handlers->claim(n.syspath, *n.claim);
    if (n.bulkOut && n.handlers->bulkOut)
        n.handlers->bulkOut(n.syspath, std::move(*n.bulkOut));
}

int UsbfsEmulation::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    auto* emulation = static_cast<UsbfsEmulation*>(self);
    Notice notice;
    const bool handled = emulation->handle(client, notice);
    notify(notice);
    return handled ? TRUE : FALSE;
}

void UsbfsEmulation::onClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    auto* emulation = static_cast<UsbfsEmulation*>(self);
    std::lock_guard<std::mutex> lock(emulation->mutex_);
    emulation->clients_.insert(G_OBJECT(g_object_ref(client)));
    g_signal_connect(client, "notify::connected", G_CALLBACK(&UsbfsEmulation::onClientNotify),
                     self);
}

void UsbfsEmulation::onClientNotify(UMockdevIoctlClient* client, void*, void* self)
{
    if (!umockdev_ioctl_client_get_connected(client))
        static_cast<UsbfsEmulation*>(self)->clientGone(client);
}

// The host closed a device node (or ended, or fell silent): like the
// kernel, forget its URBs and release the interface it held.
void UsbfsEmulation::clientGone(UMockdevIoctlClient* client)
{
    Notice notice;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (clients_.erase(G_OBJECT(client)) == 0)
            return;
        g_signal_handlers_disconnect_by_data(client, this);
        g_object_unref(client);  // the caller still holds its own reference
        for (auto& [path, dev] : devices_) {
            Device& d = *dev;
            for (auto* list : {&d.waitingReads, &d.done})
                for (auto it = list->begin(); it != list->end();) {
                    if (it->client == client) {
                        g_object_unref(it->data);
                        it = list->erase(it);
                    } else {
                        ++it;
                    }
                }
            if (d.claimed && d.claimedBy == client) {
                d.claimed = false;
                d.claimedBy = nullptr;
                notice.handlers = &d.handlers;
                notice.syspath = d.syspath;
                notice.claim = false;
            }
        }
    }
    notify(notice);
}

int UsbfsEmulation::onSlowOutDone(void* data)
{
    auto* slow = static_cast<SlowOut*>(data);
    UsbfsEmulation* self = slow->self;
    Notice notice;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        if (self->slowOuts_.erase(slow->source) == 0)
            return G_SOURCE_REMOVE;  // the emulation is going away
        g_source_unref(slow->source);
        Device& d = self->bySyspath(slow->syspath);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(slow->urb.data->data);
        if (d.vanished) {
            urb->status = -ESHUTDOWN;
            urb->actual_length = 0;
        } else {
            urb->status = 0;
            urb->actual_length = urb->buffer_length;
            notice.handlers = &d.handlers;
            notice.syspath = d.syspath;
            notice.bulkOut = std::move(slow->bytes);
        }
        d.done.push_back(slow->urb);
        slow->urb.data = nullptr;  // now the done list's
    }
    notify(notice);
    return G_SOURCE_REMOVE;
}

// Completes waiting in-URBs with queued replies, or with a stall.
void UsbfsEmulation::feedWaitingReads(Device& d)
{
    while (!d.waitingReads.empty() && (d.stallRead || !d.replies.empty())) {
        Urb u = d.waitingReads.front();
        d.waitingReads.pop_front();
        auto* urb = reinterpret_cast<usbdevfs_urb*>(u.data->data);
        if (d.stallRead) {
            d.stallRead = false;
            urb->status = -EPIPE;
            urb->actual_length = 0;
        } else {
            std::vector<std::uint8_t> reply = std::move(d.replies.front());
            d.replies.pop_front();
            const std::size_t room = static_cast<std::size_t>(urb->buffer_length);
            const std::size_t n = std::min(reply.size(), room);
            // The buffer is our copy of the host's, written back when reaped.
            if (n > 0)
                std::memcpy(urb->buffer, reply.data(), n);
            urb->actual_length = static_cast<int>(n);
            urb->status = reply.size() > room ? -EOVERFLOW : 0;
        }
        d.done.push_back(u);
    }
}

// A control transfer on endpoint 0: setup packet, then the data stage.
void UsbfsEmulation::submitControl(Device& d, UMockdevIoctlData* u, UMockdevIoctlClient* client)
{
    auto* urb = reinterpret_cast<usbdevfs_urb*>(u->data);
    urb->actual_length = 0;
    urb->status = -EPIPE;
    if (urb->buffer_length >= static_cast<int>(kSetupSize)) {
        UMockdevIoctlData* b = umockdev_ioctl_data_resolve(u, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                                           static_cast<gsize>(urb->buffer_length),
                                                           nullptr);
        if (b) {
            const Setup s = readSetup(b->data);
            if (auto reply = controlReply(d.spec, s)) {
                const std::size_t room = static_cast<std::size_t>(urb->buffer_length) - kSetupSize;
                const std::size_t n = (s.requestType & USB_DIR_IN)
                                          ? std::min({reply->size(), room, std::size_t{s.length}})
                                          : 0;
                if (n > 0)
                    std::memcpy(b->data + kSetupSize, reply->data(), n);
                urb->actual_length = static_cast<int>(n);
                urb->status = 0;
            }
            g_object_unref(b);
        }
    }
    d.done.push_back({u, client});
}

bool UsbfsEmulation::handle(UMockdevIoctlClient* client, Notice& notice)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::unique_lock<std::mutex> lock(mutex_);
    Device* d = byNode(umockdev_ioctl_client_get_devnode(client));
    if (!d)
        return false;
    if (d->claimed && d->claimedBy == client)
        d->claimantCall = std::chrono::steady_clock::now();
    const bool reap = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
    if (d->vanished && !reap) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }

    auto fail = [client](int error) { umockdev_ioctl_client_complete(client, -1, error); };
    auto ok = [client](long result = 0) { umockdev_ioctl_client_complete(client, result, 0); };
    auto resolve = [arg](std::size_t len) {
        return umockdev_ioctl_data_resolve(arg, 0, len, nullptr);
    };

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = resolve(sizeof(std::uint32_t));
        *reinterpret_cast<std::uint32_t*>(caps->data) = USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT |
                                                        USBDEVFS_CAP_ZERO_PACKET;
        g_object_unref(caps);
        ok();
        return true;
    }
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData* g = resolve(sizeof(usbdevfs_getdriver));
        auto* gd = reinterpret_cast<usbdevfs_getdriver*>(g->data);
        d->calls.push_back({"getdriver", gd->interface, {}});
        std::string name = d->claimed ? std::string("usbfs") : d->driver;
        if (gd->interface != d->spec.interfaceNumber) {
            g_object_unref(g);
            fail(EINVAL);
        } else if (name.empty()) {
            g_object_unref(g);
            fail(ENODATA);
        } else {
            std::snprintf(gd->driver, sizeof gd->driver, "%s", name.c_str());
            g_object_unref(g);
            ok();
        }
        return true;
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData* c = resolve(sizeof(usbdevfs_ioctl));
        auto* cmd = reinterpret_cast<usbdevfs_ioctl*>(c->data);
        const unsigned ifno = static_cast<unsigned>(cmd->ifno);
        const bool connect = static_cast<unsigned>(cmd->ioctl_code) == USBDEVFS_CONNECT;
        const bool disconnect = static_cast<unsigned>(cmd->ioctl_code) == USBDEVFS_DISCONNECT;
        g_object_unref(c);
        if (ifno != d->spec.interfaceNumber || (!connect && !disconnect)) {
            fail(EINVAL);
            return true;
        }
        if (disconnect) {
            d->calls.push_back({"disconnect", ifno, {}});
            if (d->driver.empty() || d->claimed) {
                fail(ENODATA);
            } else {
                d->driver.clear();
                ok();
            }
        } else {
            d->calls.push_back({"connect", ifno, {}});
            // The kernel probes drivers again; the printer class driver
            // takes the interface when nobody has claimed it.
            if (d->claimed || !d->driver.empty()) {
                fail(EBUSY);
            } else if (d->spec.kernelDriver.empty()) {
                ok(0);
            } else {
                d->driver = d->spec.kernelDriver;
                ok(1);
            }
        }
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM: {
        const bool withDisconnect = request == USBDEVFS_DISCONNECT_CLAIM;
        unsigned ifno = 0;
        UMockdevIoctlData* a = resolve(withDisconnect ? sizeof(usbdevfs_disconnect_claim)
                                                      : sizeof(unsigned));
        if (withDisconnect) {
            auto* dc = reinterpret_cast<usbdevfs_disconnect_claim*>(a->data);
            ifno = dc->interface;
            if (!d->driver.empty() && (dc->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) &&
                d->driver != dc->driver)
                d->driver.clear();
        } else {
            ifno = *reinterpret_cast<unsigned*>(a->data);
        }
        g_object_unref(a);
        d->calls.push_back({withDisconnect ? "disconnect-claim" : "claim", ifno, {}});
        if (ifno != d->spec.interfaceNumber) {
            fail(ENOENT);
        } else if (d->claimError != 0) {
            const int e = d->claimError;
            d->claimError = 0;
            fail(e);
        } else if (d->claimed && d->claimedBy == client) {
            ok();  // claiming again what this node holds changes nothing
        } else if (!d->driver.empty() || d->claimed) {
            fail(EBUSY);
        } else {
            d->claimed = true;
            d->claimedBy = client;
            d->claimantCall = std::chrono::steady_clock::now();
            notice.handlers = &d->handlers;
            notice.syspath = d->syspath;
            notice.claim = true;
            ok();
        }
        return true;
    }
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData* a = resolve(sizeof(unsigned));
        const unsigned ifno = *reinterpret_cast<unsigned*>(a->data);
        g_object_unref(a);
        d->calls.push_back({"release", ifno, {}});
        if (ifno != d->spec.interfaceNumber || !d->claimed || d->claimedBy != client) {
            fail(EINVAL);
        } else {
            d->claimed = false;
            d->claimedBy = nullptr;
            // The interface's transfers end with it.
            for (auto it = d->waitingReads.begin(); it != d->waitingReads.end();) {
                if (it->client == client) {
                    reinterpret_cast<usbdevfs_urb*>(it->data->data)->status = -ENOENT;
                    d->done.push_back(*it);
                    it = d->waitingReads.erase(it);
                } else {
                    ++it;
                }
            }
            notice.handlers = &d->handlers;
            notice.syspath = d->syspath;
            notice.claim = false;
            ok();
        }
        return true;
    }
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_RESET:
        ok();
        return true;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP: {
        UMockdevIoctlData* a = resolve(sizeof(unsigned));
        const unsigned ep = *reinterpret_cast<unsigned*>(a->data);
        g_object_unref(a);
        d->calls.push_back({request == USBDEVFS_CLEAR_HALT ? "clear-halt" : "reset-ep", ep, {}});
        ok();
        return true;
    }
    case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData* u = resolve(sizeof(usbdevfs_urb));
        auto* urb = reinterpret_cast<usbdevfs_urb*>(u->data);
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL && (urb->endpoint & 0x7F) == 0) {
            submitControl(*d, u, client);
            ok();
            return true;
        }
        bool known = false;
        for (const EmulatedEndpoint& e : d->spec.endpoints)
            known = known || e.address == urb->endpoint;
        if (!known || !d->claimed) {
            g_object_unref(u);
            fail(!known ? ENOENT : EINVAL);
            return true;
        }
        // The buffer, resolved into our copy; written back when reaped.
        UMockdevIoctlData* b = urb->buffer_length > 0
                                   ? umockdev_ioctl_data_resolve(
                                         u, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                         static_cast<gsize>(urb->buffer_length), nullptr)
                                   : nullptr;
        if (urb->endpoint & 0x80) {
            d->calls.push_back({"in", urb->endpoint, {}});
            d->waitingReads.push_back({u, client});
            feedWaitingReads(*d);
        } else {
            std::vector<std::uint8_t> bytes;
            if (b)
                bytes.assign(b->data, b->data + urb->buffer_length);
            d->calls.push_back({"out", urb->endpoint, bytes});
            if (d->outDelayMs > 0) {
                auto* slow = new SlowOut{this, d->syspath, {u, client}, std::move(bytes), nullptr};
                slow->source = g_timeout_source_new(static_cast<guint>(d->outDelayMs));
                g_source_set_callback(slow->source, &UsbfsEmulation::onSlowOutDone, slow,
                                      [](void* p) {
                                          auto* s = static_cast<SlowOut*>(p);
                                          if (s->urb.data)
                                              g_object_unref(s->urb.data);
                                          delete s;
                                      });
                g_source_ref(slow->source);  // ours, in slowOuts_
                slowOuts_.insert(slow->source);
                g_source_attach(slow->source, g_main_context_get_thread_default());
                g_source_unref(slow->source);  // the context's reference remains
            } else {
                urb->actual_length = urb->buffer_length;
                urb->status = 0;
                d->done.push_back({u, client});
                notice.handlers = &d->handlers;
                notice.syspath = d->syspath;
                notice.bulkOut = std::move(bytes);
            }
        }
        if (b)
            g_object_unref(b);
        ok();
        return true;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
        auto mine = std::find_if(d->done.begin(), d->done.end(),
                                 [client](const Urb& u) { return u.client == client; });
        if (mine == d->done.end() && d->vanished) {
            fail(ENODEV);
            return true;
        }
        if (mine == d->done.end()) {
            lock.unlock();
            std::this_thread::sleep_for(kEmptyReapPause);
            fail(EAGAIN);
            return true;
        }
        Urb u = *mine;
        d->done.erase(mine);
        UMockdevIoctlData* p = resolve(sizeof(void*));
        umockdev_ioctl_data_set_ptr(p, 0, u.data);
        g_object_unref(p);
        g_object_unref(u.data);
        ok();
        return true;
    }
    case USBDEVFS_DISCARDURB: {
        const auto addr = reinterpret_cast<unsigned long>(*reinterpret_cast<void**>(arg->data));
        for (auto it = d->waitingReads.begin(); it != d->waitingReads.end(); ++it) {
            if (it->data->client_addr == addr && it->client == client) {
                Urb u = *it;
                d->waitingReads.erase(it);
                d->calls.push_back(
                    {"discard", reinterpret_cast<usbdevfs_urb*>(u.data->data)->endpoint, {}});
                reinterpret_cast<usbdevfs_urb*>(u.data->data)->status = -ENOENT;
                d->done.push_back(u);
                ok();
                return true;
            }
        }
        fail(EINVAL);
        return true;
    }
    default:
        return false;
    }
}

}  // namespace rvtusb
