// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "options.h"

#include "job_choices.h"
#include "job_settings.h"
#include "log.h"

// The PPD interface is the one CUPS offers filters for marked choices; it is
// marked deprecated in favour of the destination API, which a filter cannot use.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace rvt {

namespace {

const char* markedChoice(ppd_file_t* ppd, const char* keyword)
{
    if (!ppd)
        return nullptr;
    ppd_choice_t* choice = ppdFindMarkedChoice(ppd, keyword);
    return choice ? choice->choice : nullptr;
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

    JobChoices choices;
    choices.mediaType = markedChoice(ppd, "MediaType");
    choices.pageSize = markedChoice(ppd, "PageSize");
    choices.inputSlot = markedChoice(ppd, "InputSlot");
    choices.duplex = markedChoice(ppd, "Duplex");
    choices.collate = markedChoice(ppd, "Collate");
    choices.scale = markedChoice(ppd, "RVTLScale");
    choices.darkness = markedChoice(ppd, "GammaDarkness");
    applyJobChoices(choices, job, log);

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
