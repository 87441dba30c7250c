// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The printer's choices in IPP terms and their PPD keywords: media sizes,
// media sources (the trays), media types, sides, the darkness levels and the
// scale ratios, as the printer application offers them and as a job's IPP
// attributes become the job's settings. The same choices the PPD offers the
// CUPS queue, so that a job comes out the same either way.
#pragma once

#include "job_choices.h"

#include <pappl/pappl.h>
#include <string>
#include <vector>

namespace rvt::app {

struct ChoiceName {
    const char* ipp;  // the IPP keyword (or PWG media name)
    const char* ppd;  // the PPD's choice keyword
};

// The PPD's nine page sizes, A4 first (the default).
extern const ChoiceName kMediaSizes[9];
// InputSlot; "auto" first (the default).
extern const ChoiceName kMediaSources[5];
// MediaType; "stationery" first (the default).
extern const ChoiceName kMediaTypes[5];
// The scale ratios, in percent; 100 is the default.
extern const int kScales[8];
constexpr int kDefaultScale = 100;
// The vendor attribute of the scale ratio ("rvt-scale", an integer of
// kScales, percent).
constexpr const char* kScaleAttribute = "rvt-scale";
// The darkness levels: print-darkness 0 and below is level 0 (the printer's
// own darkness, no darkening); above, every 20 is one level more, up to 5.
constexpr int kDarknessLevels = 6;
int darknessLevel(int printDarkness);

// The job's choices from its print options. A value the printer does not
// have (a tray it lacks, a media type or scale it does not know) falls back to
// the default named above, with a line in `notes` for the job's log.
// `scale` is the job's "rvt-scale" value (empty: none; the printer's default
// is looked up by the caller). The keywords are static.
struct IppJobChoices {
    rvt::JobChoices choices;
    int copies = 1;
};
IppJobChoices choicesFor(const pappl_pr_options_t& options, const char* multipleDocumentHandling,
                         const std::string& scale, std::vector<std::string>& notes);

}  // namespace rvt::app
