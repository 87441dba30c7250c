// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "usb_log.h"

#include <cstdio>
#include <mutex>

namespace tervane::usb {

void usbLog(const std::string& line)
{
    static std::mutex lock;
    std::lock_guard guard(lock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace tervane::usb
