// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "simulated_bus.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <variant>

namespace tervane::usb {

// A notification port of the simulated bus.
struct IONotificationPort {
    TaskQueue* queue = nullptr;
};

}  // namespace tervane::usb

namespace tervane::usb::sim {

namespace {

constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80000004u);

struct DeviceEntry {
    std::shared_ptr<VirtualDevice> device;
    std::vector<InterfaceSpec> interfaces;
    bool attached = true;
    std::uint32_t locationID = 0;  // fixed when plugged
    io_service_t service = IO_OBJECT_NULL;
    std::vector<io_service_t> interfaceServices;
    std::set<std::uint8_t> halted;  // endpoint addresses
    const void* deviceOwner = nullptr;
    std::map<std::size_t, const void*> interfaceOwner;
};

struct ServiceData {
    std::shared_ptr<DeviceEntry> device;
    int interfaceIndex = -1;  // -1: the device itself
};

struct IteratorData {
    std::deque<io_service_t> items;
    int registration = 0;
};

struct RegistryObject {
    int refs = 1;
    std::variant<ServiceData, IteratorData> data;
};

struct Registration {
    int id = 0;
    IONotificationPort* port = nullptr;
    std::string type;
    MatchingDictionary matching;
    IOServiceMatchingCallback callback = nullptr;
    void* refcon = nullptr;
    io_iterator_t iterator = IO_OBJECT_NULL;
    bool armed = false;
};

ServiceDescription describe(const ServiceData& service)
{
    return {service.interfaceIndex < 0 ? kIOUSBHostDeviceClassName : kIOUSBHostInterfaceClassName,
            service.device->device->vendorId(), service.device->device->productId(),
            service.device->locationID};
}

}  // namespace

struct SimulatedBus::Impl {
    std::mutex lock;
    std::condition_variable changed;
    double timeScale = 1.0;
    io_object_t nextRef = 1;
    std::map<io_object_t, RegistryObject> objects;
    std::vector<std::shared_ptr<DeviceEntry>> devices;  // registry order
    std::map<int, std::shared_ptr<DeviceEntry>> byId;
    int nextDeviceId = 1;
    std::vector<Registration> registrations;
    int nextRegistration = 1;
    std::size_t tableObjects = 0;

    io_object_t add(RegistryObject object)
    {
        const io_object_t ref = nextRef++;
        objects.emplace(ref, std::move(object));
        return ref;
    }

    void retainLocked(io_object_t ref)
    {
        if (auto found = objects.find(ref); found != objects.end()) {
            ++found->second.refs;
        }
    }

    IOReturn releaseLocked(io_object_t ref)
    {
        auto found = objects.find(ref);
        if (found == objects.end()) {
            return kIOReturnBadArgument;
        }
        if (--found->second.refs > 0) {
            return kIOReturnSuccess;
        }
        std::deque<io_service_t> held;
        if (auto* iterator = std::get_if<IteratorData>(&found->second.data)) {
            held.swap(iterator->items);
            std::erase_if(registrations,
                          [&](const Registration& r) { return r.id == iterator->registration; });
        }
        objects.erase(found);
        for (io_service_t service : held) {
            releaseLocked(service);
        }
        return kIOReturnSuccess;
    }

    const ServiceData* service(io_service_t ref)
    {
        auto found = objects.find(ref);
        return found == objects.end() ? nullptr : std::get_if<ServiceData>(&found->second.data);
    }

    void deliver(Registration& registration)
    {
        if (registration.armed && registration.port != nullptr &&
            registration.port->queue != nullptr) {
            registration.armed = false;
            auto callback = registration.callback;
            auto refcon = registration.refcon;
            auto iterator = registration.iterator;
            registration.port->queue->post(
                [callback, refcon, iterator] { callback(refcon, iterator); });
        }
    }

    // Appends the device's services that match the dictionary to items, each
    // retained; true when any did.
    bool appendMatching(const DeviceEntry& entry, const MatchingDictionary& matching,
                        std::deque<io_service_t>& items)
    {
        std::vector<io_service_t> services{entry.service};
        services.insert(services.end(), entry.interfaceServices.begin(),
                        entry.interfaceServices.end());
        bool added = false;
        for (io_service_t ref : services) {
            if (serviceMatches(matching, describe(*service(ref)))) {
                retainLocked(ref);
                items.push_back(ref);
                added = true;
            }
        }
        return added;
    }

    // The services of every attached device matching the dictionary, in
    // registry order.
    IteratorData matchingLocked(const MatchingDictionary& matching)
    {
        IteratorData data;
        for (const auto& entry : devices) {
            appendMatching(*entry, matching, data.items);
        }
        return data;
    }

    // Appends the device's matching services to the registrations of the type.
    void announce(const std::shared_ptr<DeviceEntry>& entry, const std::string& type)
    {
        for (auto& registration : registrations) {
            if (registration.type != type) {
                continue;
            }
            auto& items = std::get<IteratorData>(objects.at(registration.iterator).data).items;
            if (appendMatching(*entry, registration.matching, items)) {
                deliver(registration);
            }
        }
    }

    void unplugLocked(const std::shared_ptr<DeviceEntry>& entry)
    {
        if (!entry->attached) {
            return;
        }
        entry->attached = false;
        std::erase(devices, entry);
        announce(entry, kIOTerminatedNotification);
        releaseLocked(entry->service);
        for (io_service_t ref : entry->interfaceServices) {
            releaseLocked(ref);
        }
        changed.notify_all();
    }

    std::chrono::steady_clock::duration scaled(std::uint32_t milliseconds) const
    {
        return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double, std::milli>(milliseconds * timeScale));
    }
};

namespace {

using Impl = SimulatedBus::Impl;

// ---- table objects ----
// Each starts with its table pointer, so the handle (the address of that
// pointer) is the object's address.

struct PlugInObject {
    const IOCFPlugInInterfaceStruct* table;
    Impl* bus;
    std::uint32_t refs;
    std::shared_ptr<DeviceEntry> device;
    int interfaceIndex;
};

struct DeviceObject {
    const IOUSBDeviceStruct650* table;
    Impl* bus;
    std::uint32_t refs;
    std::shared_ptr<DeviceEntry> device;
    bool open;
};

struct InterfaceObject {
    const IOUSBInterfaceStruct700* table;
    Impl* bus;
    std::uint32_t refs;
    std::shared_ptr<DeviceEntry> device;
    std::size_t index;
    bool open;
};

template <class Object>
Object* self(void* handle)
{
    return reinterpret_cast<Object*>(handle);
}

template <class Object>
std::uint32_t addRef(void* handle)
{
    auto* object = self<Object>(handle);
    std::lock_guard guard(object->bus->lock);
    return ++object->refs;
}

void releaseOwnership(DeviceObject* object)
{
    if (object->open && object->device->deviceOwner == object) {
        object->device->deviceOwner = nullptr;
    }
}

void releaseOwnership(InterfaceObject* object)
{
    auto& owner = object->device->interfaceOwner[object->index];
    if (object->open && owner == object) {
        owner = nullptr;
    }
}

void releaseOwnership(PlugInObject*) {}

template <class Object>
std::uint32_t releaseRef(void* handle)
{
    auto* object = self<Object>(handle);
    Impl* bus = object->bus;
    std::lock_guard guard(bus->lock);
    const std::uint32_t left = --object->refs;
    if (left == 0) {
        releaseOwnership(object);
        --bus->tableObjects;
        delete object;
    }
    return left;
}

// ---- device table ----

// Opens a device or interface object whose owner slot is `owner`: another
// object holding it keeps it unless the open seizes it. Bus lock held.
template <class Object>
IOReturn openOwned(Object* object, const void*& owner, IOReturn fault, bool seize)
{
    if (fault != kIOReturnSuccess) {
        return fault;
    }
    if (!object->device->attached) {
        return kIOReturnNoDevice;
    }
    if (owner != nullptr && owner != object) {
        if (!seize) {
            return kIOReturnExclusiveAccess;
        }
        static_cast<Object*>(const_cast<void*>(owner))->open = false;
    }
    owner = object;
    object->open = true;
    return kIOReturnSuccess;
}

// Closes a device or interface object. Bus lock held.
template <class Object>
IOReturn closeOwned(Object* object, IOReturn fault)
{
    if (fault != kIOReturnSuccess) {
        return fault;
    }
    if (!object->open) {
        return kIOReturnNotOpen;
    }
    releaseOwnership(object);
    object->open = false;
    return kIOReturnSuccess;
}

IOReturn deviceOpen(void* handle, bool seize)
{
    auto* object = self<DeviceObject>(handle);
    std::lock_guard guard(object->bus->lock);
    auto& entry = *object->device;
    return openOwned(object, entry.deviceOwner, entry.device->faults.deviceOpen, seize);
}

IOReturn deviceClose(void* handle)
{
    auto* object = self<DeviceObject>(handle);
    std::lock_guard guard(object->bus->lock);
    return closeOwned(object, object->device->device->faults.deviceClose);
}

IOReturn deviceId(void* handle, std::uint16_t* value, bool vendor)
{
    auto* object = self<DeviceObject>(handle);
    std::lock_guard guard(object->bus->lock);
    const auto& device = *object->device->device;
    const IOReturn fault = vendor ? device.faults.vendor : device.faults.product;
    if (fault != kIOReturnSuccess) {
        return fault;
    }
    *value = vendor ? device.vendorId() : device.productId();
    return kIOReturnSuccess;
}

IOReturn createInterfaceIterator(void* handle, IOUSBFindInterfaceRequest* request,
                                 io_iterator_t* iterator)
{
    auto* object = self<DeviceObject>(handle);
    Impl* bus = object->bus;
    std::lock_guard guard(bus->lock);
    auto& entry = *object->device;
    if (entry.device->faults.interfaceIterator != kIOReturnSuccess) {
        return entry.device->faults.interfaceIterator;
    }
    if (!entry.attached) {
        return kIOReturnNoDevice;
    }
    IteratorData data;
    for (std::size_t i = 0; i < entry.interfaces.size(); ++i) {
        const auto& spec = entry.interfaces[i];
        if (interfaceMatches(*request, spec.interfaceClass, spec.interfaceSubClass,
                             spec.interfaceProtocol, spec.alternateSetting)) {
            bus->retainLocked(entry.interfaceServices[i]);
            data.items.push_back(entry.interfaceServices[i]);
        }
    }
    *iterator = bus->add({1, std::move(data)});
    return kIOReturnSuccess;
}

IOReturn resetDevice(void* handle)
{
    auto* object = self<DeviceObject>(handle);
    std::lock_guard guard(object->bus->lock);
    if (object->device->device->faults.reset != kIOReturnSuccess) {
        return object->device->device->faults.reset;
    }
    if (!object->device->attached) {
        return kIOReturnNoDevice;
    }
    return object->open ? kIOReturnSuccess : kIOReturnNotOpen;
}

const IOUSBDeviceStruct650 kDeviceTable = {
    &addRef<DeviceObject>,
    &releaseRef<DeviceObject>,
    [](void* h) { return deviceOpen(h, false); },
    [](void* h) { return deviceOpen(h, true); },
    &deviceClose,
    [](void* h, std::uint16_t* v) { return deviceId(h, v, true); },
    [](void* h, std::uint16_t* v) { return deviceId(h, v, false); },
    &createInterfaceIterator,
    &resetDevice,
};

// ---- interface table ----

IOReturn interfaceOpen(void* handle, bool seize)
{
    auto* object = self<InterfaceObject>(handle);
    std::lock_guard guard(object->bus->lock);
    auto& entry = *object->device;
    return openOwned(object, entry.interfaceOwner[object->index],
                     entry.device->faults.interfaceOpen, seize);
}

IOReturn interfaceClose(void* handle)
{
    auto* object = self<InterfaceObject>(handle);
    std::lock_guard guard(object->bus->lock);
    return closeOwned(object, object->device->device->faults.interfaceClose);
}

IOReturn interfaceNumber(void* handle, std::uint8_t* number)
{
    auto* object = self<InterfaceObject>(handle);
    std::lock_guard guard(object->bus->lock);
    *number = object->device->interfaces[object->index].number;
    return kIOReturnSuccess;
}

IOReturn numEndpoints(void* handle, std::uint8_t* count)
{
    auto* object = self<InterfaceObject>(handle);
    std::lock_guard guard(object->bus->lock);
    if (object->device->device->faults.numEndpoints != kIOReturnSuccess) {
        return object->device->device->faults.numEndpoints;
    }
    if (!object->open) {
        return kIOReturnNotOpen;
    }
    *count = static_cast<std::uint8_t>(object->device->interfaces[object->index].endpoints.size());
    return kIOReturnSuccess;
}

// Endpoint of a pipe reference, or a status.
IOReturn pipeEndpoint(InterfaceObject* object, std::uint8_t pipeRef, const EndpointSpec** endpoint)
{
    if (!object->device->attached) {
        return kIOReturnNoDevice;
    }
    if (!object->open) {
        return kIOReturnNotOpen;
    }
    const auto& endpoints = object->device->interfaces[object->index].endpoints;
    if (pipeRef == 0 || pipeRef > endpoints.size()) {
        return kIOUSBUnknownPipeErr;
    }
    *endpoint = &endpoints[pipeRef - 1];
    return kIOReturnSuccess;
}

IOReturn pipeProperties(void* handle, std::uint8_t pipeRef, std::uint8_t* direction,
                        std::uint8_t* number, std::uint8_t* transferType,
                        std::uint16_t* maxPacketSize, std::uint8_t* interval)
{
    auto* object = self<InterfaceObject>(handle);
    std::lock_guard guard(object->bus->lock);
    if (object->device->device->faults.unreadablePipes.count(pipeRef) != 0) {
        return kIOUSBEndpointNotFound;
    }
    const EndpointSpec* endpoint = nullptr;
    if (IOReturn status = pipeEndpoint(object, pipeRef, &endpoint); status != kIOReturnSuccess) {
        return status;
    }
    *direction = (endpoint->address & 0x80) != 0 ? kUSBIn : kUSBOut;
    *number = endpoint->address & 0x0F;
    *transferType = endpoint->transferType;
    *maxPacketSize = endpoint->maxPacketSize;
    *interval = endpoint->interval;
    return kIOReturnSuccess;
}

IOReturn readPipe(void* handle, std::uint8_t pipeRef, void* buffer, std::uint32_t* size,
                  std::uint32_t noDataTimeout, std::uint32_t completionTimeout)
{
    auto* object = self<InterfaceObject>(handle);
    Impl* bus = object->bus;
    std::unique_lock guard(bus->lock);
    const std::uint32_t limit = noDataTimeout != 0 ? noDataTimeout : completionTimeout;
    const auto deadline = std::chrono::steady_clock::now() + bus->scaled(limit);
    for (;;) {
        const EndpointSpec* endpoint = nullptr;
        if (IOReturn status = pipeEndpoint(object, pipeRef, &endpoint);
            status != kIOReturnSuccess) {
            return status;
        }
        if ((endpoint->address & 0x80) == 0) {
            return kIOReturnBadArgument;
        }
        if (object->device->halted.count(endpoint->address) != 0) {
            return kIOUSBPipeStalled;
        }
        const auto number = object->device->interfaces[object->index].number;
        if (auto data = object->device->device->nextIn(number, endpoint->address)) {
            if (data->size() > *size) {
                *size = 0;
                return kIOReturnOverrun;
            }
            std::copy(data->begin(), data->end(), static_cast<std::uint8_t*>(buffer));
            *size = static_cast<std::uint32_t>(data->size());
            return kIOReturnSuccess;
        }
        const auto now = std::chrono::steady_clock::now();
        if (limit != 0 && now >= deadline) {
            *size = 0;
            return kIOReturnTimeout;
        }
        // Short slices: data queued directly on the device is noticed too.
        auto until = now + std::chrono::milliseconds(5);
        if (limit != 0) {
            until = std::min(until, deadline);
        }
        bus->changed.wait_until(guard, until);
    }
}

IOReturn writePipe(void* handle, std::uint8_t pipeRef, const void* buffer, std::uint32_t size,
                   std::uint32_t, std::uint32_t)
{
    auto* object = self<InterfaceObject>(handle);
    Impl* bus = object->bus;
    std::lock_guard guard(bus->lock);
    const EndpointSpec* endpoint = nullptr;
    if (IOReturn status = pipeEndpoint(object, pipeRef, &endpoint); status != kIOReturnSuccess) {
        return status;
    }
    if ((endpoint->address & 0x80) != 0) {
        return kIOReturnBadArgument;
    }
    if (object->device->halted.count(endpoint->address) != 0) {
        return kIOUSBPipeStalled;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const auto number = object->device->interfaces[object->index].number;
    WriteOutcome outcome = object->device->device->receive(number, endpoint->address,
                                                           Bytes(bytes, bytes + size));
    object->device->halted.insert(outcome.haltEndpoints.begin(), outcome.haltEndpoints.end());
    if (outcome.unplug) {
        bus->unplugLocked(object->device);
    }
    bus->changed.notify_all();
    return outcome.status;
}

IOReturn controlRequest(void* handle, std::uint8_t pipeRef, IOUSBDevRequestTO* request)
{
    auto* object = self<InterfaceObject>(handle);
    std::lock_guard guard(object->bus->lock);
    if (object->device->device->faults.controlRequest != kIOReturnSuccess) {
        return object->device->device->faults.controlRequest;
    }
    if (pipeRef != 0) {
        const EndpointSpec* endpoint = nullptr;
        if (IOReturn status = pipeEndpoint(object, pipeRef, &endpoint);
            status != kIOReturnSuccess) {
            return status;
        }
    }
    if (!object->device->attached) {
        return kIOReturnNoDevice;
    }
    request->wLenDone = 0;
    return kIOReturnSuccess;
}

IOReturn clearStall(void* handle, std::uint8_t pipeRef)
{
    auto* object = self<InterfaceObject>(handle);
    std::lock_guard guard(object->bus->lock);
    const EndpointSpec* endpoint = nullptr;
    if (IOReturn status = pipeEndpoint(object, pipeRef, &endpoint); status != kIOReturnSuccess) {
        return status;
    }
    object->device->halted.erase(endpoint->address);
    return kIOReturnSuccess;
}

const IOUSBInterfaceStruct700 kInterfaceTable = {
    &addRef<InterfaceObject>,
    &releaseRef<InterfaceObject>,
    [](void* h) { return interfaceOpen(h, false); },
    [](void* h) { return interfaceOpen(h, true); },
    &interfaceClose,
    &interfaceNumber,
    &numEndpoints,
    &pipeProperties,
    &readPipe,
    &writePipe,
    &controlRequest,
    &clearStall,
    &clearStall,
    &clearStall,
};

// ---- plug-in table ----

std::int32_t queryInterface(void* handle, CFUUIDBytes iid, void** out)
{
    auto* plugin = self<PlugInObject>(handle);
    Impl* bus = plugin->bus;
    std::lock_guard guard(bus->lock);
    *out = nullptr;
    const auto& faults = plugin->device->device->faults;
    const bool isDevice = plugin->interfaceIndex < 0;
    if (iid == *kIOCFPlugInInterfaceID()) {
        ++plugin->refs;
        *out = plugin;
        return 0;
    }
    if (isDevice && iid == *kIOUSBDeviceInterfaceID650() && !faults.deviceQueryFails) {
        *out = new DeviceObject{&kDeviceTable, bus, 1, plugin->device, false};
    } else if (!isDevice && iid == *kIOUSBInterfaceInterfaceID700() &&
               !faults.interfaceQueryFails) {
        *out = new InterfaceObject{&kInterfaceTable,
                                   bus,
                                   1,
                                   plugin->device,
                                   static_cast<std::size_t>(plugin->interfaceIndex),
                                   false};
    } else {
        return kNoInterface;
    }
    ++bus->tableObjects;
    return 0;
}

const IOCFPlugInInterfaceStruct kPlugInTable = {
    &queryInterface,
    &addRef<PlugInObject>,
    &releaseRef<PlugInObject>,
};

}  // namespace

// ---- the bus ----

SimulatedBus::SimulatedBus() : impl_(std::make_unique<Impl>()) {}

SimulatedBus::~SimulatedBus() = default;

SimulatedBus::DeviceId SimulatedBus::plug(std::shared_ptr<VirtualDevice> device)
{
    std::lock_guard guard(impl_->lock);
    auto entry = std::make_shared<DeviceEntry>();
    entry->device = std::move(device);
    entry->interfaces = entry->device->interfaces();
    const DeviceId id = impl_->nextDeviceId++;
    entry->locationID = locationOf(id);
    entry->service = impl_->add({1, ServiceData{entry, -1}});
    for (std::size_t i = 0; i < entry->interfaces.size(); ++i) {
        entry->interfaceServices.push_back(
            impl_->add({1, ServiceData{entry, static_cast<int>(i)}}));
    }
    impl_->devices.push_back(entry);
    impl_->byId[id] = entry;
    impl_->announce(entry, kIOFirstMatchNotification);
    return id;
}

void SimulatedBus::unplug(DeviceId device)
{
    std::lock_guard guard(impl_->lock);
    if (auto found = impl_->byId.find(device); found != impl_->byId.end()) {
        impl_->unplugLocked(found->second);
    }
}

std::uint32_t SimulatedBus::locationOf(DeviceId device)
{
    return 0x01100000u + (static_cast<std::uint32_t>(device) << 16);
}

void SimulatedBus::setTimeScale(double scale)
{
    std::lock_guard guard(impl_->lock);
    impl_->timeScale = scale;
}

std::size_t SimulatedBus::registryObjectCount() const
{
    std::lock_guard guard(impl_->lock);
    return impl_->objects.size();
}

std::size_t SimulatedBus::tableObjectCount() const
{
    std::lock_guard guard(impl_->lock);
    return impl_->tableObjects;
}

IOReturn SimulatedBus::objectRetain(io_object_t object)
{
    std::lock_guard guard(impl_->lock);
    if (impl_->objects.count(object) == 0) {
        return kIOReturnBadArgument;
    }
    impl_->retainLocked(object);
    return kIOReturnSuccess;
}

IOReturn SimulatedBus::objectRelease(io_object_t object)
{
    std::lock_guard guard(impl_->lock);
    return impl_->releaseLocked(object);
}

IOReturn SimulatedBus::registryEntryCreateCFProperties(io_service_t service,
                                                       RegistryProperties* properties)
{
    std::lock_guard guard(impl_->lock);
    const ServiceData* data = impl_->service(service);
    if (data == nullptr || properties == nullptr) {
        return kIOReturnBadArgument;
    }
    *properties = registryProperties(describe(*data));
    return kIOReturnSuccess;
}

io_object_t SimulatedBus::iteratorNext(io_iterator_t iterator)
{
    std::lock_guard guard(impl_->lock);
    auto found = impl_->objects.find(iterator);
    if (found == impl_->objects.end()) {
        return IO_OBJECT_NULL;
    }
    auto* data = std::get_if<IteratorData>(&found->second.data);
    if (data == nullptr) {
        return IO_OBJECT_NULL;
    }
    if (data->items.empty()) {
        // Drained: the notification behind it may fire again.
        for (auto& registration : impl_->registrations) {
            if (registration.id == data->registration) {
                registration.armed = true;
            }
        }
        return IO_OBJECT_NULL;
    }
    const io_service_t next = data->items.front();
    data->items.pop_front();
    return next;
}

IOReturn SimulatedBus::getMatchingServices(const MatchingDictionary& matching,
                                           io_iterator_t* existing)
{
    std::lock_guard guard(impl_->lock);
    *existing = impl_->add({1, impl_->matchingLocked(matching)});
    return kIOReturnSuccess;
}

IOReturn SimulatedBus::createPlugInInterfaceForService(io_service_t service, CFUUIDBytes pluginType,
                                                       CFUUIDBytes interfaceType,
                                                       IOCFPlugInInterfaceRef* plugin,
                                                       std::int32_t* score)
{
    std::lock_guard guard(impl_->lock);
    const ServiceData* data = impl_->service(service);
    if (data == nullptr) {
        return kIOReturnBadArgument;
    }
    const auto& faults = data->device->device->faults;
    if (faults.plugIn != kIOReturnSuccess) {
        return faults.plugIn;
    }
    if (!data->device->attached) {
        return kIOReturnNoDevice;
    }
    const bool isDevice = data->interfaceIndex < 0;
    const CFUUIDBytes wanted = isDevice ? *kIOUSBDeviceUserClientTypeID()
                                        : *kIOUSBInterfaceUserClientTypeID();
    if (pluginType != wanted || interfaceType != *kIOCFPlugInInterfaceID()) {
        return kIOReturnUnsupported;
    }
    if (faults.plugInYieldsNothing) {
        return kIOReturnSuccess;
    }
    auto* object = new PlugInObject{&kPlugInTable, impl_.get(), 1, data->device,
                                    data->interfaceIndex};
    ++impl_->tableObjects;
    *plugin = reinterpret_cast<IOCFPlugInInterfaceRef>(object);
    *score = 0;
    return kIOReturnSuccess;
}

IONotificationPortRef SimulatedBus::notificationPortCreate() { return new IONotificationPort{}; }

void SimulatedBus::notificationPortSetDispatchQueue(IONotificationPortRef port, TaskQueue* queue)
{
    std::lock_guard guard(impl_->lock);
    port->queue = queue;
}

void SimulatedBus::notificationPortDestroy(IONotificationPortRef port)
{
    if (port == nullptr) {
        return;
    }
    {
        std::lock_guard guard(impl_->lock);
        for (auto& registration : impl_->registrations) {
            if (registration.port == port) {
                registration.port = nullptr;  // the iterator stays until released
            }
        }
    }
    delete port;
}

IOReturn SimulatedBus::addMatchingNotification(IONotificationPortRef port, const std::string& type,
                                               const MatchingDictionary& matching,
                                               IOServiceMatchingCallback callback, void* refcon,
                                               io_iterator_t* notification)
{
    std::lock_guard guard(impl_->lock);
    if (port == nullptr || callback == nullptr ||
        (type != kIOFirstMatchNotification && type != kIOTerminatedNotification)) {
        return kIOReturnBadArgument;
    }
    Registration registration;
    registration.id = impl_->nextRegistration++;
    registration.port = port;
    registration.type = type;
    registration.matching = matching;
    registration.callback = callback;
    registration.refcon = refcon;
    // First-match starts with the devices already there; terminate empty.
    IteratorData data = type == kIOFirstMatchNotification ? impl_->matchingLocked(matching)
                                                          : IteratorData{};
    data.registration = registration.id;
    registration.iterator = impl_->add({1, std::move(data)});
    *notification = registration.iterator;
    impl_->registrations.push_back(std::move(registration));
    return kIOReturnSuccess;
}

}  // namespace tervane::usb::sim
