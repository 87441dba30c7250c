// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Page scaling: the job's scale factor applied to one gray page, the picture
// kept in the top-left corner, the rest white.
#pragma once

#include "page_buffer.h"

#include <cstdint>

namespace rvt {

class Log;
struct JobSettings;

// Takes `src` (width x height gray bytes) and releases it; writes the scaled
// page into the caller's `dst` of the same size. A null `dst` (the caller's
// allocation failed) is logged and sets job.isCanceled; `dst` is not touched.
void zoomGrayPage(PageBuffer src, uint8_t* dst, int32_t width, int32_t height, double ratio,
                  JobSettings& job, Log& log);

}  // namespace rvt
