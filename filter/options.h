// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The job's options: the choices the PPD marks once its defaults and the
// job's option text are applied, mapped to the job settings.
#pragma once

#include <cups/cups.h>

namespace rvt {

class Log;
struct JobSettings;

// cupsParseOptions' signature; tests hand in another parser.
using OptionParser = int (*)(const char* arg, int numOptions, cups_option_t** options);

// Reads `optionText` (argv[5], may be null) and the PPD at `ppdPath` (may be
// null or unreadable: every setting then takes its default) into `job`.
// Returns 0, or -1 when the option text cannot be parsed (logged): the job
// must then end at once.
int readJobOptions(const char* optionText, const char* ppdPath, JobSettings& job, Log& log,
                   OptionParser parse = cupsParseOptions);

}  // namespace rvt
