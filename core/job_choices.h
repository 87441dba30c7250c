// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The job's choices, named by the PPD's option keywords (the filter reads them
// from the PPD it marked; the printer application maps its IPP attributes to
// them), turned into the job settings.
#pragma once

namespace rvt {

class Log;
struct JobSettings;

// One choice keyword per option; null: the option has no choice (its
// setting takes the default named below).
struct JobChoices {
    const char* mediaType = nullptr;  // MediaType: PLAIN THICK THIN Card Envelope (none: "")
    const char* pageSize = nullptr;   // PageSize (none: A4)
    const char* inputSlot = nullptr;  // InputSlot: AUTO MPTRAY TRAY1 TRAY2 TRAY3 (none: 0)
    const char* duplex = nullptr;     // Duplex: None DuplexNoTumble DuplexTumble
    const char* collate = nullptr;    // Collate: True False (none: True)
    const char* scale = nullptr;      // RVTLScale: 25% 50% 80% 90% 100% 110% 120% 150%
    const char* darkness = nullptr;   // GammaDarkness: darkness0 .. darkness5
};

// Sets the job's media type, page size, input slot, duplex mode, collation,
// scale ratio and darkness from `choices`, with the filter's log lines.
void applyJobChoices(const JobChoices& choices, JobSettings& job, Log& log);

}  // namespace rvt
