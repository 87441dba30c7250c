// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "page_pipeline.h"

#include "job_settings.h"
#include "log.h"
#include "row_kernels.h"

#include <cstring>

namespace rvt {

namespace {

// The raster rows of one page, read forward only: a row is read when the
// scaling first needs it, every row before it is read and dropped, and the
// termination check runs before every read, as when the whole page was read
// up front.
class ForwardRows {
public:
    ForwardRows(int64_t width, int64_t height, uint8_t* row, const GrayRowSource& readRow,
                const KeepGoing& keepGoing)
        : width_(width), height_(height), row_(row), readRow_(readRow), keepGoing_(keepGoing)
    {
    }

    // Row `index` (>= every row asked for before), or null when the job is
    // stopping. A row the raster does not deliver is white.
    const uint8_t* rowAt(int64_t index)
    {
        while (next_ <= index) {
            if (exhausted_) {
                next_ = index + 1;
                break;
            }
            if (!keepGoing_()) {
                stopped_ = true;
                return nullptr;
            }
            if (!readRow_(row_)) {
                exhausted_ = true;
                std::memset(row_, 255, static_cast<size_t>(width_));
            }
            ++next_;
        }
        return row_;
    }

    // Reads the rest of the page, so that the next page header follows.
    void finish()
    {
        if (height_ > 0 && next_ < height_)
            rowAt(height_ - 1);
    }

    bool stopped() const { return stopped_; }

private:
    int64_t width_;
    int64_t height_;
    uint8_t* row_;
    const GrayRowSource& readRow_;
    const KeepGoing& keepGoing_;
    int64_t next_ = 0;
    bool exhausted_ = false;
    bool stopped_ = false;
};

}  // namespace

PageSteps pageStepsFor(const JobSettings& job, int pageNumber)
{
    PageSteps steps;
    steps.ratio = job.ratio;
    steps.imageDarkness_type = job.imageDarkness_type;
    steps.flip = job.isDuplex == 2 && pageNumber % 2 == 0;
    return steps;
}

PageOutcome streamPage(int32_t width, int32_t height, const PageSteps& steps,
                       const GrayRowSource& readRow, const KeepGoing& keepGoing, JobSettings& job,
                       Log& log, PageBuffer& bits)
{
    bits.reset();
    if (width <= 0 || height <= 0)
        return PageOutcome::Converted;
    const int64_t w = width;
    const int64_t h = height;

    // The raster row read last and the scaled row (the size logged when it
    // does not fit counts a third row, which the mirror once took).
    const uint64_t rowBytes = 3 * static_cast<uint64_t>(w);
    PageBuffer rows = allocatePage(rowBytes);
    if (!rows) {
        log.printf("DEBUG:[RVT4410LW] failed to locate temp image memory size=%d\n",
                   static_cast<int>(rowBytes));
        return PageOutcome::OutOfMemory;
    }
    uint8_t* const rasterRow = rows.get();
    uint8_t* const scaledRow = rasterRow + w;

    RowScaler scaler(width, height, steps.ratio);
    if (scaler.copies()) {
        log.printf("DEBUG:[RVT4410LW]:scale ratio = %f, and memcpy srcimage  "
                   "================================\n",
                   steps.ratio);
    } else {
        log.printf("DEBUG:[RVT4410LW]:scale ratio = %f ,zoom size : dstwidth=%d ,distheight=%d  "
                   "================================\n",
                   steps.ratio, scaler.dstwidth(), scaler.distheight());
        if (!scaler.ready()) {
            log.printf("DEBUG:[RVT4410LW]:allocate zoom page image memory failed\n");
            job.isCanceled = 1;
            return PageOutcome::Converted;
        }
    }

    const uint64_t stride = bitRowBytes(w);
    PageBuffer page = allocatePage(stride * static_cast<uint64_t>(h));
    if (!page) {
        log.printf("DEBUG: failed to locate memory for halftone line and dstImage .\n");
        job.isCanceled = 1;
        return PageOutcome::Converted;
    }
    const ThresholdScreen screen(steps.imageDarkness_type);
    log.printf("DEBUG:[RVT4410LW]---curGammaVal=%.2f;\n", static_cast<double>(screen.gamma()));

    ForwardRows source(w, h, rasterRow, readRow, keepGoing);
    const SourceRowFetch fetch = [&source](int64_t index) { return source.rowAt(index); };
    for (int64_t y = 0; y < h; ++y) {
        // The scaled row y.
        const uint8_t* scaled = scaledRow;
        if (scaler.copies()) {
            scaled = source.rowAt(y);
        } else if (y < scaler.rows()) {
            scaler.scaleRow(y, fetch, scaledRow);
        } else {
            std::memset(scaledRow, 255, static_cast<size_t>(w));
        }
        if (source.stopped())
            return PageOutcome::Stopped;

        // Where it lands, and which way round.
        if (steps.flip) {
            const int64_t out = flippedRow(y, h);
            screenRow(scaled, w, screen.tileRow(out),
                      page.get() + static_cast<uint64_t>(out) * stride);
        } else {
            screenMirroredRow(scaled, w, screen, y, page.get() + static_cast<uint64_t>(y) * stride);
        }
    }
    source.finish();
    if (source.stopped())
        return PageOutcome::Stopped;

    if (screen.remapped())
        log.printf("DEBUG:[RVT4410LW]==free=Halftone;\n");
    bits = std::move(page);
    return PageOutcome::Converted;
}

}  // namespace rvt
