// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "umockdev_printer.h"

#include <linux/capability.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <umockdev.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace tervane::testing {

namespace {

void put16(std::vector<std::uint8_t>& out, unsigned v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

bool startsWith(const std::vector<std::uint8_t>& bytes, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    return bytes.size() >= n && std::memcmp(bytes.data(), prefix, n) == 0;
}

bool equals(const std::vector<std::uint8_t>& bytes, const char* text)
{
    return bytes.size() == std::strlen(text) && startsWith(bytes, text);
}

}  // namespace

std::vector<std::uint8_t> descriptorBlob(const EmulatedDeviceSpec& spec)
{
    std::vector<std::uint8_t> d;
    // Device descriptor.
    d.insert(d.end(), {18, 1});
    put16(d, 0x0200);
    d.insert(d.end(), {0, 0, 0, 64});
    put16(d, spec.vendor);
    put16(d, spec.product);
    put16(d, 0x0100);
    d.insert(d.end(), {1, 2, 3, 1});
    // Configuration, one interface of the printer class, its endpoints.
    const unsigned total = 9 + 9 + 7 * static_cast<unsigned>(spec.endpoints.size());
    d.insert(d.end(), {9, 2});
    put16(d, total);
    d.insert(d.end(), {1, 1, 0, 0xC0, 50});
    d.insert(d.end(), {9, 4, spec.interfaceNumber, 0,
                       static_cast<std::uint8_t>(spec.endpoints.size()), 7, 1, 2, 0});
    for (const EmulatedEndpoint& e : spec.endpoints) {
        d.insert(d.end(), {7, 5, e.address, e.attributes});
        put16(d, e.maxPacketSize);
        d.push_back(e.interval);
    }
    return d;
}

EmulatedPrinter::EmulatedPrinter()
{
    testbed_ = umockdev_testbed_new();
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedPrinter::onIoctl), this);
}

EmulatedPrinter::~EmulatedPrinter()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [path, dev] : devices_) {
            release(dev->waitingReads);
            release(dev->done);
        }
    }
    for (auto& [path, dev] : devices_) {
        if (!dev->vanished)
            umockdev_testbed_detach_ioctl(testbed_, dev->devnode.c_str(), nullptr);
    }
    g_object_unref(handler_);
    g_object_unref(testbed_);
}

std::string EmulatedPrinter::addDevice(const EmulatedDeviceSpec& spec)
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
    dev->syspath = syspath;
    dev->devnode = devnode;
    dev->driver = spec.kernelDriver;
    dev->pending = dev->active;
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
        ids +
        "H: descriptors=" + hex + "\n";
    // clang-format on
    if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &error)) {
        std::string what = error ? error->message : "add failed";
        g_clear_error(&error);
        throw std::runtime_error(what);
    }
    return syspath;
}

void EmulatedPrinter::unplug(const std::string& syspath)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Device& d = bySyspath(syspath);
        d.vanished = true;
        // In-flight URBs die with the device: the kernel completes them
        // with ESHUTDOWN and still lets them be reaped.
        for (UMockdevIoctlData* u : d.waitingReads) {
            auto* urb = reinterpret_cast<usbdevfs_urb*>(u->data);
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

void EmulatedPrinter::setSettings(const std::string& syspath, const NetworkSettings& s)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Device& d = bySyspath(syspath);
    d.active = s;
    d.pending = s;
}

NetworkSettings EmulatedPrinter::settings(const std::string& syspath) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return bySyspath(syspath).active;
}

void EmulatedPrinter::setSilent(const std::string& syspath, bool silent)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bySyspath(syspath).silent = silent;
}

void EmulatedPrinter::stallNextRead(const std::string& syspath)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bySyspath(syspath).stallRead = true;
}

void EmulatedPrinter::failNextClaim(const std::string& syspath, int error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bySyspath(syspath).claimError = error;
}

void EmulatedPrinter::queueReply(const std::string& syspath, std::vector<std::uint8_t> bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Device& d = bySyspath(syspath);
    d.replies.push_back(std::move(bytes));
    feedWaitingReads(d);
}

std::string EmulatedPrinter::boundDriver(const std::string& syspath) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return bySyspath(syspath).driver;
}

std::vector<UsbfsCall> EmulatedPrinter::calls(const std::string& syspath) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return bySyspath(syspath).calls;
}

void EmulatedPrinter::clearCalls(const std::string& syspath)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bySyspath(syspath).calls.clear();
}

EmulatedPrinter::Device* EmulatedPrinter::byNode(const std::string& node)
{
    for (auto& [path, dev] : devices_)
        if (dev->devnode == node)
            return dev.get();
    return nullptr;
}

EmulatedPrinter::Device& EmulatedPrinter::bySyspath(const std::string& syspath)
{
    auto it = devices_.find(syspath);
    if (it == devices_.end())
        throw std::out_of_range("no emulated device " + syspath);
    return *it->second;
}

const EmulatedPrinter::Device& EmulatedPrinter::bySyspath(const std::string& syspath) const
{
    return const_cast<EmulatedPrinter*>(this)->bySyspath(syspath);
}

void EmulatedPrinter::release(std::deque<UMockdevIoctlData*>& urbs)
{
    for (UMockdevIoctlData* u : urbs)
        g_object_unref(u);
    urbs.clear();
}

int EmulatedPrinter::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    return static_cast<EmulatedPrinter*>(self)->handle(client) ? TRUE : FALSE;
}

// The printer's side of the settings conversation.
void EmulatedPrinter::answer(Device& d, const std::vector<std::uint8_t>& command)
{
    if (d.silent)
        return;
    if (equals(command, "CheckDHCPToggle?")) {
        d.replies.push_back(bytesOf(d.active.dhcp ? "DHCPToggle=On;" : "DHCPToggle=Off;"));
    } else if (equals(command, "CheckIP?")) {
        std::vector<std::uint8_t> reply = {'I', 'P', 'I', 'N', 'F', 'O'};
        reply.insert(reply.end(), d.active.ip.begin(), d.active.ip.end());
        reply.insert(reply.end(), d.active.mask.begin(), d.active.mask.end());
        reply.insert(reply.end(), d.active.gateway.begin(), d.active.gateway.end());
        d.replies.push_back(std::move(reply));
    } else if (equals(command, "SetDHCPToggle=On;") || equals(command, "SetDHCPToggle=Off;")) {
        d.pending.dhcp = equals(command, "SetDHCPToggle=On;");
        d.replies.push_back(bytesOf("SetDHCPToggleOK;"));
    } else if (startsWith(command, "SetIP=") && command.size() == 19 && command.back() == ';') {
        for (int i = 0; i < 4; ++i) {
            d.pending.ip[i] = command[6 + i];
            d.pending.mask[i] = command[10 + i];
            d.pending.gateway[i] = command[14 + i];
        }
    } else if (equals(command, "Restart?")) {
        d.active = d.pending;
    }
    feedWaitingReads(d);
}

// Completes waiting in-URBs with queued replies, or with a stall.
void EmulatedPrinter::feedWaitingReads(Device& d)
{
    while (!d.waitingReads.empty() && (d.stallRead || !d.replies.empty())) {
        UMockdevIoctlData* u = d.waitingReads.front();
        d.waitingReads.pop_front();
        auto* urb = reinterpret_cast<usbdevfs_urb*>(u->data);
        if (d.stallRead) {
            d.stallRead = false;
            urb->status = -EPIPE;
            urb->actual_length = 0;
        } else {
            std::vector<std::uint8_t> reply = std::move(d.replies.front());
            d.replies.pop_front();
            const std::size_t room = static_cast<std::size_t>(urb->buffer_length);
            const std::size_t n = reply.size() < room ? reply.size() : room;
            // Same address space: the URB's buffer is the caller's memory.
            std::memcpy(urb->buffer, reply.data(), n);
            urb->actual_length = static_cast<int>(n);
            urb->status = reply.size() > room ? -EOVERFLOW : 0;
        }
        d.done.push_back(u);
    }
}

bool EmulatedPrinter::handle(UMockdevIoctlClient* client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(mutex_);
    Device* d = byNode(umockdev_ioctl_client_get_devnode(client));
    if (!d)
        return false;
    const bool reap = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
    if (d->vanished && !(reap && !d->done.empty())) {
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
        } else if (!d->driver.empty()) {
            fail(EBUSY);
        } else {
            d->claimed = true;
            ok();
        }
        return true;
    }
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData* a = resolve(sizeof(unsigned));
        const unsigned ifno = *reinterpret_cast<unsigned*>(a->data);
        g_object_unref(a);
        d->calls.push_back({"release", ifno, {}});
        if (ifno != d->spec.interfaceNumber || !d->claimed) {
            fail(EINVAL);
        } else {
            d->claimed = false;
            ok();
        }
        return true;
    }
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
        bool known = false;
        for (const EmulatedEndpoint& e : d->spec.endpoints)
            known = known || e.address == urb->endpoint;
        if (!known || !d->claimed) {
            g_object_unref(u);
            fail(!known ? ENOENT : EINVAL);
            return true;
        }
        if (urb->endpoint & 0x80) {
            d->calls.push_back({"in", urb->endpoint, {}});
            d->waitingReads.push_back(u);
            feedWaitingReads(*d);
        } else {
            UMockdevIoctlData* b = umockdev_ioctl_data_resolve(
                u, G_STRUCT_OFFSET(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length),
                nullptr);
            std::vector<std::uint8_t> bytes(b->data, b->data + urb->buffer_length);
            g_object_unref(b);
            d->calls.push_back({"out", urb->endpoint, bytes});
            urb->actual_length = urb->buffer_length;
            urb->status = 0;
            d->done.push_back(u);
            answer(*d, bytes);
        }
        ok();
        return true;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
        if (d->done.empty()) {
            fail(EAGAIN);
            return true;
        }
        UMockdevIoctlData* u = d->done.front();
        d->done.pop_front();
        UMockdevIoctlData* p = resolve(sizeof(void*));
        umockdev_ioctl_data_set_ptr(p, 0, u);
        g_object_unref(p);
        g_object_unref(u);
        ok();
        return true;
    }
    case USBDEVFS_DISCARDURB: {
        const auto addr = reinterpret_cast<unsigned long>(*reinterpret_cast<void**>(arg->data));
        for (auto it = d->waitingReads.begin(); it != d->waitingReads.end(); ++it) {
            if ((*it)->client_addr == addr) {
                UMockdevIoctlData* u = *it;
                d->waitingReads.erase(it);
                d->calls.push_back(
                    {"discard", reinterpret_cast<usbdevfs_urb*>(u->data)->endpoint, {}});
                reinterpret_cast<usbdevfs_urb*>(u->data)->status = -ENOENT;
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

void EmulatedPrinter::denyAccess(const std::string& syspath)
{
    std::string devnode;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devnode = bySyspath(syspath).devnode;
    }
    // The testbed hands over a copy of its root directory's name.
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    const std::string path = std::string(root) + devnode;
    g_free(root);
    if (::chmod(path.c_str(), 0) != 0) {
        throw std::runtime_error("chmod " + path + ": " + std::strerror(errno));
    }
}

namespace {

void capabilities(bool set, __user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    const long result = set ? ::syscall(SYS_capset, &header, data)
                            : ::syscall(SYS_capget, &header, data);
    if (result != 0) {
        throw std::runtime_error(std::string("capabilities: ") + std::strerror(errno));
    }
}

}  // namespace

ThreadWithoutFileAccessOverride::ThreadWithoutFileAccessOverride()
{
    __user_cap_data_struct data[2]{};
    capabilities(false, data);
    effective_[0] = data[0].effective;
    effective_[1] = data[1].effective;
    data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    capabilities(true, data);
}

ThreadWithoutFileAccessOverride::~ThreadWithoutFileAccessOverride()
{
    __user_cap_data_struct data[2]{};
    try {
        capabilities(false, data);
        data[0].effective = effective_[0];
        data[1].effective = effective_[1];
        capabilities(true, data);
    } catch (const std::exception&) {
    }
}

}  // namespace tervane::testing
