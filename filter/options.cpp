// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "options.h"

#include "job_settings.h"
#include "log.h"

// The PPD interface is the one CUPS offers filters for marked choices; it is
// marked deprecated in favour of the destination API, which a filter cannot use.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

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

const char* markedChoice(ppd_file_t* ppd, const char* keyword)
{
    if (!ppd)
        return nullptr;
    ppd_choice_t* choice = ppdFindMarkedChoice(ppd, keyword);
    return choice ? choice->choice : nullptr;
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

int readJobOptions(const char* optionText, const char* ppdPath, JobSettings& job, Log& log,
                   OptionParser parse)
{
    int numOptions = 0;
    cups_option_t* options = nullptr;
    if (optionText) {
        numOptions = parse(optionText, 0, &options);
        if (numOptions < 0) {
            log.write("DEBUG:[RVT4410LW]illegal option.return 0\n");
            if (options)
                cupsFreeOptions(0, options);
            return -1;
        }
    }

    ppd_file_t* ppd = (ppdPath && *ppdPath) ? ppdOpenFile(ppdPath) : nullptr;
    if (ppd) {
        ppdMarkDefaults(ppd);
        cupsMarkOptions(ppd, numOptions, options);
    }
    cupsFreeOptions(numOptions, options);

    readMediaType(markedChoice(ppd, "MediaType"), job, log);
    readPageSize(markedChoice(ppd, "PageSize"), job, log);
    readInputSlot(markedChoice(ppd, "InputSlot"), job, log);
    readDuplex(markedChoice(ppd, "Duplex"), job, log);
    readCollate(markedChoice(ppd, "Collate"), job, log);
    readScale(markedChoice(ppd, "RVTLScale"), job, log);
    readDarkness(markedChoice(ppd, "GammaDarkness"), job, log);

    // The keywords were copied into the settings: the PPD is no longer needed.
    if (ppd)
        ppdClose(ppd);
    return 0;
}

}  // namespace rvt

#pragma GCC diagnostic pop

// libcups 2.4 loses a few strings of the PPD cache it builds when the job
// options include "sides" (the cache is freed by ppdClose, those strings are
// not; some are made through cupsAddOption, and libcups has no frame pointers
// to tell them apart). Nothing the filter can free; the leak checker of
// sanitizer builds is told to let it pass. Other builds never call this.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions()
{
    return "leak:_ppdCacheCreateWithPPD\nleak:cupsAddOption\n";
}
