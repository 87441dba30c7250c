// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Darkness curve and screening of a gray page to the printer's 1-bit page.
#pragma once

#include "page_buffer.h"

#include <cstdint>

namespace rvt {

class Log;

// Takes `src` (width x height gray bytes) and releases it. Returns the 1-bit
// page ((width + 7) / 8 bytes per row, 1 = black, padding bits 0), or null when
// it cannot be allocated (logged).
PageBuffer halftone(PageBuffer src, int32_t width, int32_t height, int imageDarkness_type,
                    Log& log);

}  // namespace rvt
