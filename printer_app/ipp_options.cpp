// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "ipp_options.h"

#include <cstdlib>
#include <cstring>

namespace rvt::app {

const ChoiceName kMediaSizes[9] = {
    {"iso_a4_210x297mm", "A4"},           {"iso_a5_148x210mm", "A5"},
    {"iso_a6_105x148mm", "A6"},           {"jis_b5_182x257mm", "B5"},
    {"jis_b6_128x182mm", "B6"},           {"om_16k_195x270mm", "16K"},
    {"om_32k_135x195mm", "32K"},          {"na_letter_8.5x11in", "Letter"},
    {"om_85x170mm_85x170mm", "85x170mm"},
};

const ChoiceName kMediaSources[5] = {
    {"auto", "AUTO"},    {"manual", "MPTRAY"}, {"tray-1", "TRAY1"},
    {"tray-2", "TRAY2"}, {"tray-3", "TRAY3"},
};

const ChoiceName kMediaTypes[5] = {
    {"stationery", "PLAIN"},
    {"stationery-heavyweight", "THICK"},
    {"stationery-lightweight", "THIN"},
    {"cardstock", "Card"},
    {"envelope", "Envelope"},
};

const int kScales[8] = {25, 50, 80, 90, 100, 110, 120, 150};

namespace {

template <size_t N>
const char* ppdName(const ChoiceName (&table)[N], const char* ipp)
{
    for (const ChoiceName& c : table)
        if (ipp && std::strcmp(c.ipp, ipp) == 0)
            return c.ppd;
    return nullptr;
}

const char* const kScaleKeywords[8] = {"25%", "50%", "80%", "90%", "100%", "110%", "120%", "150%"};
const char* const kDarknessKeywords[kDarknessLevels] = {"darkness0", "darkness1", "darkness2",
                                                        "darkness3", "darkness4", "darkness5"};

}  // namespace

int darknessLevel(int printDarkness)
{
    if (printDarkness <= 0)
        return 0;
    const int level = (printDarkness + 19) / 20;
    return level < kDarknessLevels ? level : kDarknessLevels - 1;
}

IppJobChoices choicesFor(const pappl_pr_options_t& options, const char* multipleDocumentHandling,
                         const std::string& scale, std::vector<std::string>& notes)
{
    IppJobChoices out;
    rvt::JobChoices& c = out.choices;

    c.pageSize = ppdName(kMediaSizes, options.media.size_name);
    if (!c.pageSize) {
        // A size of the client's own: the page is printed as it comes, and
        // the printer is told the default size.
        notes.push_back(std::string("media size '") + options.media.size_name +
                        "' is not one of the printer's; the job is sent as A4");
        c.pageSize = kMediaSizes[0].ppd;
    }
    c.inputSlot = ppdName(kMediaSources, options.media.source);
    if (!c.inputSlot) {
        notes.push_back(std::string("media-source '") + options.media.source +
                        "' is not supported; using 'auto'");
        c.inputSlot = kMediaSources[0].ppd;
    }
    c.mediaType = ppdName(kMediaTypes, options.media.type);
    if (!c.mediaType) {
        if (options.media.type[0])
            notes.push_back(std::string("media-type '") + options.media.type +
                            "' is not supported; using 'stationery'");
        c.mediaType = kMediaTypes[0].ppd;
    }
    switch (options.sides) {
    case PAPPL_SIDES_TWO_SIDED_LONG_EDGE:
        c.duplex = "DuplexNoTumble";
        break;
    case PAPPL_SIDES_TWO_SIDED_SHORT_EDGE:
        c.duplex = "DuplexTumble";
        break;
    default:
        c.duplex = "None";
        break;
    }
    c.collate = multipleDocumentHandling && std::strcmp(multipleDocumentHandling,
                                                        "separate-documents-uncollated-copies") == 0
                    ? "False"
                    : "True";

    int percent = kDefaultScale;
    if (!scale.empty()) {
        char* end = nullptr;
        const long v = std::strtol(scale.c_str(), &end, 10);
        bool known = end && *end == '\0';
        if (known) {
            known = false;
            for (int s : kScales)
                known = known || s == v;
        }
        if (known)
            percent = static_cast<int>(v);
        else
            notes.push_back(std::string(kScaleAttribute) + " '" + scale +
                            "' is not supported; using 100");
    }
    for (size_t i = 0; i < std::size(kScales); ++i)
        if (kScales[i] == percent)
            c.scale = kScaleKeywords[i];
    c.darkness = kDarknessKeywords[darknessLevel(options.print_darkness)];

    out.copies = options.copies > 0 ? options.copies : 1;
    return out;
}

}  // namespace rvt::app
