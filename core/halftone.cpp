// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "halftone.h"

#include "log.h"
#include "row_kernels.h"

namespace rvt {

PageBuffer halftone(PageBuffer src, int32_t width, int32_t height, int imageDarkness_type, Log& log)
{
    const uint64_t stride = width > 0 ? bitRowBytes(width) : 0;
    const uint64_t height64 = height > 0 ? static_cast<uint64_t>(height) : 0;
    PageBuffer dst = allocatePage(stride * height64);
    if (!dst || !src) {
        log.printf("DEBUG: failed to locate memory for halftone line and dstImage .\n");
        return nullptr;
    }

    // The 4 x 4 matrix for "darkness off", the clustered-dot matrix as stored
    // for gamma 1, otherwise the clustered-dot matrix through the curve.
    const ThresholdScreen screen(imageDarkness_type);
    log.printf("DEBUG:[RVT4410LW]---curGammaVal=%.2f;\n", static_cast<double>(screen.gamma()));

    const int64_t w = width;
    for (int64_t y = 0; y < static_cast<int64_t>(height64); ++y)
        screenRow(src.get() + y * w, w, screen.tileRow(y),
                  dst.get() + static_cast<uint64_t>(y) * stride);

    src.reset();
    if (screen.remapped())
        log.printf("DEBUG:[RVT4410LW]==free=Halftone;\n");
    return dst;
}

}  // namespace rvt
