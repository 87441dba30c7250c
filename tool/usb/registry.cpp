// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "registry.h"

namespace tervane::usb {

io_object_t retain(UsbPlatform& platform, io_object_t object)
{
    platform.objectRetain(object);
    return object;
}

void release(UsbPlatform& platform, io_object_t object) { platform.objectRelease(object); }

namespace {

void drain(UsbPlatform& platform, io_iterator_t iterator)
{
    while (io_object_t rest = platform.iteratorNext(iterator)) {
        platform.objectRelease(rest);
    }
}

}  // namespace

void enumerateServices(UsbPlatform& platform, io_iterator_t iterator, const ServiceHandler& handler,
                       bool clearRemaining)
{
    try {
        while (io_service_t service = platform.iteratorNext(iterator)) {
            bool stop = false;
            try {
                handler(service, stop);
            } catch (...) {
                platform.objectRelease(service);
                throw;
            }
            platform.objectRelease(service);
            if (stop) {
                break;
            }
        }
    } catch (...) {
        if (clearRemaining) {
            drain(platform, iterator);
        }
        throw;
    }
    if (clearRemaining) {
        drain(platform, iterator);
    }
}

}  // namespace tervane::usb
