// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Operations on registry references: retain, release, walking an iterator.
#pragma once

#include "usb_platform.h"

#include <functional>

namespace tervane::usb {

// Handler of one service of a walk: may set stop to end the walk, may throw.
using ServiceHandler = std::function<void(io_service_t service, bool& stop)>;

io_object_t retain(UsbPlatform& platform, io_object_t object);
void release(UsbPlatform& platform, io_object_t object);

// Walks the iterator: each service goes to the handler and is released right
// after the handler returns or throws (a handler that keeps it retains it).
// On every way out (end, stop, exception) and when clearRemaining is true,
// the rest of the iterator is taken and released, which re-arms a
// notification. The handler's exception is passed on.
void enumerateServices(UsbPlatform& platform, io_iterator_t iterator, const ServiceHandler& handler,
                       bool clearRemaining = true);

}  // namespace tervane::usb
