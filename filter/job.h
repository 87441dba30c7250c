// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// A print job as the CUPS scheduler runs the filter: the arguments and the
// PPD options, the document (a CUPS raster read from a file or standard
// input), and the job itself (print_job.h).
#pragma once

#include "options.h"

namespace rvt {

class Log;
class PrinterConnection;

struct JobEnvironment {
    const char* ppdPath = nullptr;  // $PPD
    const char* tmpdir = nullptr;   // $TMPDIR: the job's page files go below it
    int rasterFd = 0;               // the job's CUPS raster, unless argv[6] names a file
    OptionParser parseOptions = cupsParseOptions;
};

// Runs the job. Returns the exit status: 0 for every job, whether printed,
// cancelled or failed; 1 for a call with fewer than the six filter arguments
// (a usage line is logged and nothing is sent). A seventh argument names the
// raster file to print (the scheduler passes it to the first filter of a
// chain); without it the raster is read from env.rasterFd.
int runJob(int argc, char* argv[], PrinterConnection& connection, Log& log,
           const JobEnvironment& env);

}  // namespace rvt
