// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "job_choices.h"

#include "job_settings.h"
#include "log.h"

#include <cstring>
#include <string>

namespace rvt {

namespace {

struct KeywordCode {
    const char* keyword;
    int code;
};

// Sets `code` to the code of `choice` in `table` (exact comparison). False,
// leaving `code` alone, when the table does not have the keyword.
template <size_t N>
bool lookUpCode(const char* choice, const KeywordCode (&table)[N], int& code)
{
    for (const KeywordCode& entry : table) {
        if (std::strcmp(choice, entry.keyword) == 0) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

void readMediaType(const char* choice, JobSettings& job, Log& log)
{
    if (!choice) {
        job.media_type.clear();
        log.write("DEBUG:[RVT4410LW]media_type=##\n");
        return;
    }
    job.media_type = choice;
    static constexpr KeywordCode kMedia[] = {
        {"PLAIN", 0}, {"THICK", 1}, {"THIN", 2}, {"Card", 3}, {"Envelope", 4}};
    if (!lookUpCode(choice, kMedia, job.isMediaType)) {
        job.isMediaType = 0;
        log.printf("DEBUG:[RVT4410LW]media_type =%s\n", choice);
    }
    log.printf("DEBUG:[RVT4410LW]media_type=%s\n", choice);
}

void readPageSize(const char* choice, JobSettings& job, Log& log)
{
    if (!choice) {
        log.write("DEBUG:[RVT4410LW]InputSlot =NULL, so set pagesize to default A4\n");
        job.pageSize = "A4";
        return;
    }
    job.pageSize = choice;
    log.printf("DEBUG:[RVT4410LW]pageSize =%s\n", choice);
}

void readInputSlot(const char* choice, JobSettings& job, Log& log)
{
    if (!choice) {
        log.write("DEBUG:[RVT4410LW]InputSlot =NULL\n");
        job.isInputSlot = 0;
        return;
    }
    job.InputSlot = choice;
    log.printf("DEBUG:[RVT4410LW]InputSlot =%s\n", choice);
    static constexpr KeywordCode kSlots[] = {
        {"AUTO", 0}, {"MPTRAY", 1}, {"TRAY1", 2}, {"TRAY2", 3}, {"TRAY3", 4}};
    if (!lookUpCode(choice, kSlots, job.isInputSlot)) {
        job.isInputSlot = 0;
        log.printf("DEBUG:[RVT4410LW]InputSlot =%s\n", choice);
    }
    log.printf("DEBUG:[RVT4410LW]isInputSlot =%d\n", job.isInputSlot);
}

void readDuplex(const char* choice, JobSettings& job, Log& log)
{
    if (!choice) {
        log.write("DEBUG:[RVT4410LW]Duplex =NULL\n");
        job.isDuplex = 0;
        return;
    }
    job.Duplex = choice;
    log.printf("DEBUG:[RVT4410LW]Duplex =%s\n", choice);
    static constexpr KeywordCode kDuplex[] = {{"DuplexTumble", 1}, {"DuplexNoTumble", 2}};
    if (!lookUpCode(choice, kDuplex, job.isDuplex))
        job.isDuplex = 0;
}

void readCollate(const char* choice, JobSettings& job, Log& log)
{
    job.collate = 1;
    if (choice) {
        log.printf("DEBUG:[RVT4410LW]collateChoice =%s\n", choice);
        if (std::strcmp(choice, "False") == 0)
            job.collate = 0;
    } else {
        log.write("DEBUG:[RVT4410LW]collateChoice = NULL\n");
    }
    log.printf("DEBUG:[RVT4410LW]collate =%d\n", job.collate);
}

void readScale(const char* choice, JobSettings& job, Log& log)
{
    job.ratio = 1.0;
    job.scale = "100%";
    if (!choice)
        return;
    static constexpr struct {
        const char* keyword;
        double ratio;
    } kScales[] = {{"25%", 0.25}, {"50%", 0.5},  {"80%", 0.8},  {"90%", 0.9},
                   {"100%", 1.0}, {"110%", 1.1}, {"120%", 1.2}, {"150%", 1.5}};
    job.scale = choice;
    for (const auto& s : kScales) {
        if (std::strcmp(choice, s.keyword) == 0) {
            job.ratio = s.ratio;
            break;
        }
    }
    log.printf("DEBUG:[RVT4410LW]Scale =%s and ratio = %f\n", choice, job.ratio);
}

void readDarkness(const char* choice, JobSettings& job, Log& log)
{
    if (choice) {
        log.printf("DEBUG:[RVT4410LW]imageDarkness choice = %s\n", choice);
        // Another choice leaves the level as it was.
        static constexpr KeywordCode kLevels[] = {{"darkness0", 0}, {"darkness1", 1},
                                                  {"darkness2", 2}, {"darkness3", 3},
                                                  {"darkness4", 4}, {"darkness5", 5}};
        lookUpCode(choice, kLevels, job.imageDarkness_type);
    }
    log.printf("DEBUG:[RVT4410LW]imageDarkness=%d, 0 = off ,1->5 = ligth->dark\n",
               job.imageDarkness_type);
}

}  // namespace

void applyJobChoices(const JobChoices& choices, JobSettings& job, Log& log)
{
    readMediaType(choices.mediaType, job, log);
    readPageSize(choices.pageSize, job, log);
    readInputSlot(choices.inputSlot, job, log);
    readDuplex(choices.duplex, job, log);
    readCollate(choices.collate, job, log);
    readScale(choices.scale, job, log);
    readDarkness(choices.darkness, job, log);
}

}  // namespace rvt
