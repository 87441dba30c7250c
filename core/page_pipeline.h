// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The streaming page pipeline: the rows of one raster page go through the
// row kernels (scale, mirror or flip, screen) straight into the 1-bit page.
// Only the few rows the scaling needs are held, never a whole gray page; the
// result is the same page, bit for bit, and the same log lines, as the
// page-level steps zoomGrayPage, mirrorGrayPage / mirrorGrayPage1 and
// halftone run one after the other.
#pragma once

#include "page_buffer.h"

#include <cstdint>
#include <functional>

namespace rvt {

class Log;
struct JobSettings;

// What is done to one page.
struct PageSteps {
    double ratio = 1.0;
    int imageDarkness_type = 0;
    bool flip = false;  // top-to-bottom flip instead of the left-to-right mirror
};

// The steps of page `pageNumber` of a job: the flip for the even pages of a
// DuplexNoTumble job, the mirror for every other page.
PageSteps pageStepsFor(const JobSettings& job, int pageNumber);

// Reads the next row of the page (width bytes of gray); false once the raster
// has no more data for the page.
using GrayRowSource = std::function<bool(uint8_t* gray)>;
// Asked before every row is read; false: the job is stopping, give up.
using KeepGoing = std::function<bool()>;

enum class PageOutcome {
    Converted,    // `bits` holds the page, or the job's cancel flag is set
    OutOfMemory,  // the row buffers could not be allocated (logged)
    Stopped,      // keepGoing() said no while rows were read
};

// Reads up to `height` rows from `readRow` (rows it cannot deliver are white;
// after the first failure no further row is asked for), asking keepGoing()
// before each, and leaves the screened page in `bits` ((width + 7) / 8 bytes
// per row). A scaling table or 1-bit page that cannot be allocated is logged
// and sets job.isCanceled, as the page-level steps do; `bits` is then empty.
PageOutcome streamPage(int32_t width, int32_t height, const PageSteps& steps,
                       const GrayRowSource& readRow, const KeepGoing& keepGoing, JobSettings& job,
                       Log& log, PageBuffer& bits);

}  // namespace rvt
