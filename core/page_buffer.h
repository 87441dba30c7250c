// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Page buffers. Each image step takes ownership of its source page (a
// PageBuffer moved in) and releases it; the page loop allocates every
// destination page. Allocation never throws: a failed allocation is an empty
// buffer, which the steps report as the job's failure.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

namespace rvt {

using PageBuffer = std::unique_ptr<uint8_t[]>;

inline PageBuffer allocatePage(uint64_t bytes)
{
    if (bytes == 0 || bytes > SIZE_MAX)
        return nullptr;
    return PageBuffer(new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]);
}

// Bytes in one row of a 1-bit page.
inline uint64_t bitRowBytes(int64_t width) { return (static_cast<uint64_t>(width) + 7) / 8; }

}  // namespace rvt
