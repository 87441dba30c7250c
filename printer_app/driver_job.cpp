// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "driver_job.h"

#include "driver.h"
#include "ipp_options.h"
#include "job_choices.h"
#include "page_source.h"
#include "print_job.h"
#include "printer_turns.h"

#include <csignal>
#include <string>
#include <vector>

namespace rvt::app {

namespace {

constexpr unsigned kResolution = 600;

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
    const int id = papplJobGetID(job);
    switch (turns.acquire(id, [job] { return papplJobIsCanceled(job); })) {
    case PrinterTurns::Outcome::StartedTwice:
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                    "The job was started a second time while it is or was printing; refused");
        return nullptr;
    case PrinterTurns::Outcome::Cancelled:
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

    std::unique_ptr<DriverJob> driverJob(new DriverJob(job, device, turns, std::move(settings)));
    for (const std::string& note : notes)
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", note.c_str());
    applyJobChoices(ipp.choices, driverJob->settings_, driverJob->log_);
    return driverJob;
}

DriverJob::DriverJob(pappl_job_t* job, pappl_device_t* device, PrinterTurns& turns,
                     JobSettings settings)
    : job_(job), turns_(turns), log_(job), connection_(job, device), settings_(std::move(settings)),
      spool_(spoolDirectoryOf(papplJobGetPrinter(job)))
{
}

DriverJob::~DriverJob()
{
    feed_.abandon();
    if (thread_.joinable())
        thread_.join();
    turns_.release(papplJobGetID(job_));
}

void DriverJob::run(PageSource* pages)
{
    PrintJob job(settings_, connection_, log_, spool_.c_str());
    if (job.begin() == Flow::Go)
        job.print(pages);
    job.reportEnd();
    done_ = job.done();
    ended_ = true;
    // Whatever the framework still hands over is dropped.
    feed_.abandon();
}

bool DriverJob::outcome()
{
    if (done_ || papplJobIsCanceled(job_))
        return done_;
    const std::string error = log_.error();
    papplJobSetMessage(job_, "%s", error.empty() ? "The job could not be printed" : error.c_str());
    return false;
}

bool DriverJob::startPage(const cups_page_header2_t& header, unsigned page)
{
    // The framework's image filter hands the page over once per copy; the
    // copies are the job's own, as for every document.
    skipping_ = page <= lastPage_;
    if (skipping_)
        return !ended_;
    lastPage_ = page;
    lineBytes_ = header.cupsBytesPerLine;
    if (!thread_.joinable()) {
        // The job's thread blocks the signals meant for the server's own.
        sigset_t all, previous;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous);
        thread_ = std::thread([this] { run(&feed_); });
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    if (header.HWResolution[0] != kResolution || header.HWResolution[1] != kResolution) {
        std::string reason = "The document's raster is ";
        reason += std::to_string(header.HWResolution[0]);
        reason += 'x';
        reason += std::to_string(header.HWResolution[1]);
        reason += " dpi; the printer prints 600 dpi only";
        feed_.refusePage(std::move(reason));
        return false;
    }
    return feed_.startPage(header);
}

bool DriverJob::writeLine(const uint8_t* line)
{
    if (skipping_)
        return !ended_;
    return feed_.writeLine(line, lineBytes_);
}

bool DriverJob::finish()
{
    feed_.endDocument();
    if (!thread_.joinable())
        run(nullptr);  // a document without pages: the job still runs its course
    else
        thread_.join();
    return outcome();
}

bool DriverJob::printFrom(PageSource& pages)
{
    log_.countPages();
    run(&pages);
    return outcome();
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
    return driverJob && driverJob->startPage(options->header, page);
}

bool rasterWriteLine(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
                     unsigned /*y*/, const unsigned char* line)
{
    DriverJob* driverJob = driverJobOf(job);
    return driverJob && driverJob->writeLine(line);
}

bool rasterEndPage(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
                   unsigned /*page*/)
{
    // A job that has ended early takes no more pages.
    DriverJob* driverJob = driverJobOf(job);
    return driverJob && driverJob->printing();
}

bool rasterEndJob(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/)
{
    std::unique_ptr<DriverJob> driverJob(driverJobOf(job));
    papplJobSetData(job, nullptr);
    return driverJob && driverJob->finish();
}

}  // namespace rvt::app
