// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "driver_job.h"

#include "driver.h"
#include "ipp_options.h"
#include "job_choices.h"
#include "page_source.h"
#include "print_job.h"
#include "printer_turns.h"

#include <string>
#include <vector>

namespace rvt::app {

namespace {

// The job's "rvt-scale", or the printer's default for it (the framework
// looks for the default among the job's own attributes only).
std::string scaleOf(pappl_job_t* job, const pappl_pr_options_t& options)
{
    for (int i = 0; i < options.num_vendor; ++i)
        if (std::string(options.vendor[i].name) == kScaleAttribute)
            return options.vendor[i].value;
    std::string value;
    if (ipp_t* attrs = papplPrinterGetDriverAttributes(papplJobGetPrinter(job))) {
        const std::string name = std::string(kScaleAttribute) + "-default";
        if (ipp_attribute_t* a = ippFindAttribute(attrs, name.c_str(), IPP_TAG_INTEGER))
            value = std::to_string(ippGetInteger(a, 0));
        ippDelete(attrs);
    }
    return value;
}

const char* keywordAttribute(pappl_job_t* job, const char* name)
{
    ipp_attribute_t* a = papplJobGetAttribute(job, name);
    return a ? ippGetString(a, 0, nullptr) : nullptr;
}

DriverJob* driverJobOf(pappl_job_t* job) { return static_cast<DriverJob*>(papplJobGetData(job)); }

}  // namespace

std::unique_ptr<DriverJob> DriverJob::create(pappl_job_t* job, const pappl_pr_options_t& options,
                                             pappl_device_t* device)
{
    PrinterTurns& turns = turnsOf(papplJobGetPrinter(job));
    JobActivity& activity = activityOf(papplJobGetPrinter(job));
    const int id = papplJobGetID(job);
    // The job counts as in the driver from here, its wait for its turn
    // included.
    activity.jobStarted();
    switch (turns.acquire(id, [job] { return papplJobIsCanceled(job); })) {
    case PrinterTurns::Outcome::StartedTwice:
        activity.jobEnded();
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                    "The job was started a second time while it is or was printing; refused");
        return nullptr;
    case PrinterTurns::Outcome::Cancelled:
        activity.jobEnded();
        return nullptr;
    case PrinterTurns::Outcome::Granted:
        break;
    }

    JobSettings settings;
    settings.PrinterName = papplPrinterGetName(papplJobGetPrinter(job));
    settings.JobId = id;
    std::vector<std::string> notes;
    const IppJobChoices ipp = choicesFor(
        options, keywordAttribute(job, "multiple-document-handling"), scaleOf(job, options), notes);
    settings.copies = ipp.copies;
    settings.jobCopies = std::to_string(ipp.copies);

    std::unique_ptr<DriverJob> driverJob(new DriverJob(job, device, turns, activity));
    for (const std::string& note : notes)
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", note.c_str());
    applyJobChoices(ipp.choices, settings, driverJob->log_);
    driverJob->streamed_ = std::make_unique<StreamedJob>(std::move(settings),
                                                         driverJob->connection_, driverJob->log_,
                                                         spoolDirectoryOf(papplJobGetPrinter(job)));
    return driverJob;
}

DriverJob::DriverJob(pappl_job_t* job, pappl_device_t* device, PrinterTurns& turns,
                     JobActivity& activity)
    : job_(job), activity_(activity), turns_(turns), log_(job), connection_(job, device)
{
}

DriverJob::~DriverJob()
{
    // The job ends (its thread is joined) before the printer's next job may
    // start.
    streamed_.reset();
    turns_.release(papplJobGetID(job_));
    activity_.jobEnded();
}

bool DriverJob::outcome(bool printed)
{
    // Cancelled by the client or by the printer (PAPPL ends such a job
    // canceled), not aborted by PAPPL itself.
    const bool cancelled = papplJobIsCanceled(job_) && papplJobGetState(job_) != IPP_JSTATE_ABORTED;
    // A document the job could not take as it came fails the job with that
    // reason first: the framework may have flagged the job to stop it, and
    // a page cut short was printed padded. A cancel cuts pages short itself.
    std::string fault = streamed_->documentFault();
    const bool cutShort = fault.rfind("The document ends", 0) == 0;
    if (cancelled && cutShort)
        fault.clear();
    if (!fault.empty()) {
        // Unless the page failed in the pipeline already, for its own reason.
        if (const std::string error = log_.error(); !printed && !error.empty() && cutShort)
            fault = error;
        papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "%s", fault.c_str());
        papplJobSetMessage(job_, "%s", fault.c_str());
        return false;
    }
    // A cancelled job is not a failed one: a false here would show it as
    // aborted to clients until PAPPL ends it canceled.
    if (printed || cancelled)
        return true;
    const std::string error = log_.error();
    papplJobSetMessage(job_, "%s", error.empty() ? "The job could not be printed" : error.c_str());
    return false;
}

bool DriverJob::printFrom(PageSource& source)
{
    // The framework counts the pages it hands over itself; these it does not
    // see.
    log_.countImpressions();
    return outcome(streamed_->printFrom(source));
}

bool rasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    std::unique_ptr<DriverJob> driverJob = DriverJob::create(job, *options, device);
    if (!driverJob)
        return false;
    papplJobSetData(job, driverJob.release());
    return true;
}

bool rasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* /*device*/,
                     unsigned page)
{
    DriverJob* driverJob = driverJobOf(job);
    return driverJob && driverJob->pages().startPage(options->header, page);
}

bool rasterWriteLine(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
                     unsigned /*y*/, const unsigned char* line)
{
    DriverJob* driverJob = driverJobOf(job);
    // Lines of a cancelled job are dropped, not refused: a refusal would
    // mark the job aborted before PAPPL ends it canceled.
    return driverJob && (driverJob->pages().writeLine(line) || papplJobIsCanceled(job));
}

bool rasterEndPage(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
                   unsigned /*page*/)
{
    // A job that has ended early takes no more pages; a cancelled one stops
    // as PAPPL stops it (a false would mark it aborted first).
    DriverJob* driverJob = driverJobOf(job);
    return driverJob && (driverJob->pages().endPage() || papplJobIsCanceled(job));
}

bool rasterEndJob(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/)
{
    std::unique_ptr<DriverJob> driverJob(driverJobOf(job));
    papplJobSetData(job, nullptr);
    return driverJob && driverJob->outcome(driverJob->pages().finish());
}

}  // namespace rvt::app
