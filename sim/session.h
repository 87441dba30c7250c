// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// One print job played end to end: the filter started as the CUPS scheduler
// starts it, the stream read and answered as the printer would, the pages
// decoded into files and everything recorded in transcript.json.
#pragma once

#include "script.h"

#include <nlohmann/json.hpp>
#include <string>

namespace rvtsim {

struct RunConfig {
    std::string filterPath;
    std::string rasterPath;
    std::string outDir;
    std::string ppd;  // empty: PPD left unset
    std::string queue = "rvt4410lw";
    std::string jobId = "1";
    std::string user = "user";
    std::string title = "job";
    std::string copies = "1";
    std::string options;
    bool preview = true;       // reduced page-NNN-preview.png next to the full pages
    bool decodeAfter = false;  // decode the pages only once the filter has exited
    Script script;
};

struct RunResult {
    bool clean = false;   // filter exited 0, no protocol errors, nothing left in TMPDIR
    std::string summary;  // one line
    nlohmann::json transcript;
};

// Runs the job and writes the page files, filter.log and transcript.json into
// config.outDir (made when missing; earlier page files there are removed).
// Fails only when the job cannot be set up at all (the result then says why).
RunResult runJob(const RunConfig& config);

}  // namespace rvtsim
