// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Helpers of the integration tests: run one job of the built filter under
// the simulator and read what it recorded; compute the pages the printer
// should receive with the filter's image steps.
#pragma once

#include "jbig_decode.h"
#include "raster_patterns.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace rvtsim::test {

struct SimRun {
    int exitStatus = -1;  // of the simulator: 0 when the job ran clean
    std::string outDir;
    nlohmann::json transcript;

    std::vector<std::string> kinds() const;  // element kinds in order
    std::vector<Bitmap> pages() const;       // the decoded pages in sending order
    std::string jobHeaderText() const;       // the job header as sent, or ""
    bool filterExitedZero() const;
};

// The element kinds of the stream as one line, runs of data chunks written
// "data+" ("lock start_of_job job_header page_header data+ end_of_page ...").
std::string shape(const SimRun& run);

// A fresh directory for one test's files (under the build's temp dir).
std::string scratchDir(const std::string& name);

// Runs rvt4410lw-sim on `raster` with the queue's PPD, the job options and
// further simulator arguments.
SimRun runSim(const std::string& raster, const std::string& outDir, const std::string& options,
              const std::vector<std::string>& simArgs = {}, const std::string& copies = "1");

// The 1-bit page the printer must get for raster page `pageNumber` (1-based)
// of a job with these settings: scaled, mirrored (or flipped on even pages of
// DuplexNoTumble) and screened.
Bitmap expectedPage(const PagePattern& pattern, int pageNumber, int isDuplex, double ratio,
                    int darkness);
Bitmap blankPage(int32_t width, int32_t height);

}  // namespace rvtsim::test
