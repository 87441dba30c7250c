// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// rvtsim: the CUPS backend of the simulated printer (see cups_backend.h).
//   rvtsim                                        lists its device
//   rvtsim job-id user title copies options [file] prints one job
#include "cups_backend.h"
#include "rvt_version.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cups/backend.h>
#include <sys/stat.h>

namespace {

void onTerm(int) { rvtsim::noteCancel(); }

}  // namespace

int main(int argc, char** argv)
{
    if (rvt::printedVersion(argc, argv, "rvtsim"))
        return 0;
    if (argc == 1) {
        rvtsim::listDevice();
        return CUPS_BACKEND_OK;
    }
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
        return CUPS_BACKEND_FAILED;
    }
    // Replies to a filter that has gone must not end the job's backend.
    std::signal(SIGPIPE, SIG_IGN);
    // A cancel does not stop the backend at once: the filter still sends its
    // cancel query, which the transcript must show (CUPS's own backends also
    // read on after SIGTERM when the data comes from a filter).
    struct sigaction term {};
    term.sa_handler = onTerm;
    sigemptyset(&term.sa_mask);
    sigaction(SIGTERM, &term, nullptr);
    // Page files readable by the user who looks at them.
    umask(022);

    rvtsim::BackendJob job;
    const char* uri = cupsBackendDeviceURI(argv);
    job.uri = uri ? uri : "";
    const char* printer = std::getenv("PRINTER");
    job.queue = printer ? printer : "";
    job.jobId = argv[1];
    job.user = argv[2];
    job.title = argv[3];
    job.copies = argv[4];
    job.options = argv[5];
    if (argc == 7)
        job.file = argv[6];
    return rvtsim::runBackendJob(job);
}
