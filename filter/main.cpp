// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// printfilter-rvt4410lw: the CUPS raster filter of the RV-T4410LW.
#include "cancel_signal.h"
#include "cups_connection.h"
#include "job.h"
#include "log.h"
#include "rvt_version.h"

#include <cstdlib>
#include <memory>

int main(int argc, char* argv[])
{
    if (rvt::printedVersion(argc, argv, "printfilter-rvt4410lw"))
        return 0;
    rvt::installSignalHandlers();
    rvt::Log log(stderr);
    std::unique_ptr<rvt::PrinterConnection> connection = rvt::makeCupsConnection(1);
    // The command line as the scheduler gives it: queue job-id user title copies options [file].
    rvt::JobEnvironment env;
    env.ppdPath = std::getenv("PPD");
    env.tmpdir = std::getenv("TMPDIR");
    env.rasterFd = 0;
    try {
        return rvt::runJob(argc, argv, *connection, log, env);
    } catch (...) {
        // Only memory can run out this way; the job's files are already gone.
        log.write("DEBUG:[RVT4410LW] out of memory, the job ends here\n");
        return 0;
    }
}
