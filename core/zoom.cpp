// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "zoom.h"

#include "job_settings.h"
#include "log.h"
#include "row_kernels.h"

#include <cstring>

namespace rvt {

void zoomGrayPage(PageBuffer src, uint8_t* dst, int32_t width, int32_t height, double ratio,
                  JobSettings& job, Log& log)
{
    if (!dst) {
        log.printf("DEBUG:[RVT4410LW]:allocate zoom page image memory failed\n");
        job.isCanceled = 1;
        return;
    }
    if (width <= 0 || height <= 0 || !src)
        return;

    const int64_t w = width;
    const uint64_t pageBytes = static_cast<uint64_t>(w) * static_cast<uint64_t>(height);

    RowScaler scaler(width, height, ratio);
    if (scaler.copies()) {
        std::memcpy(dst, src.get(), pageBytes);
        log.printf("DEBUG:[RVT4410LW]:scale ratio = %f, and memcpy srcimage  "
                   "================================\n",
                   ratio);
        return;
    }

    log.printf("DEBUG:[RVT4410LW]:scale ratio = %f ,zoom size : dstwidth=%d ,distheight=%d  "
               "================================\n",
               ratio, scaler.dstwidth(), scaler.distheight());
    std::memset(dst, 255, pageBytes);
    if (!scaler.ready()) {
        log.printf("DEBUG:[RVT4410LW]:allocate zoom page image memory failed\n");
        job.isCanceled = 1;
        return;
    }

    const uint8_t* s = src.get();
    const SourceRowFetch fetch = [s, w](int64_t index) { return s + index * w; };
    for (int64_t y = 0; y < scaler.rows(); ++y)
        scaler.scaleRow(y, fetch, dst + y * w);
}

}  // namespace rvt
