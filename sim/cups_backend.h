// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The simulated printer as a CUPS backend ("rvtsim"): the scheduler runs it
// like any backend, and it plays the printer for the job, with the same
// printer role as the simulator.
//
// Device URI:  rvtsim:/DIR[?KEY=VALUE[&KEY=VALUE...]]   (rvtsim:///DIR also)
//   DIR    absolute directory; each job writes into DIR/job-<id>/ its page
//          files (page-NNN.pbm, page-NNN.png, page-NNN-preview.png) and
//          transcript.json, the simulator's transcript.
//   KEYs   the printer's behaviour, as on the simulator's command line:
//          script=FILE (read first, whatever its place), lock-replies=LIST,
//          unlock-replies=LIST, eop-reply=N=CODE (may repeat),
//          reply-delay=KIND=MS, connected=LIST, drain-delay=MS; and
//          preview=0 (no reduced previews); decode-after=1 (every end of
//          page answered at once, the pages decoded when the stream has
//          ended). Values are percent-decoded.
//   Example: rvtsim:/var/spool/rvtsim?lock-replies=5,2&eop-reply=2=4
//
// Run by root (as the scheduler runs a backend that only root may run), it
// writes as root only into a DIR that is no symbolic link, that root owns
// and that no one else may write to; it makes DIR (0755) when missing if its
// parent is such a directory. A DIR that a user owns is written as that user
// (root given up for good first). A DIR that root owns but others may write
// to, such as /tmp, is refused. Run by anyone else, it writes as itself.
// Below DIR, nothing is reached through a symbolic link: the job's
// directory and files are made by name in their directory, what stood under
// a file's name removed first.
//
// Channels, as CUPS sets them up: the print stream on standard input (or the
// file named by the sixth argument), back-channel replies written to fd 3,
// side-channel requests read from and answered on fd 4.
#pragma once

#include "script.h"

#include <string>

namespace rvtsim {

inline constexpr const char* kBackendScheme = "rvtsim";
// The device listed when the backend is run without arguments.
inline constexpr const char* kBackendDefaultUri = "rvtsim:/var/spool/rvtsim";

struct BackendUri {
    std::string outDir;
    Script script;
    bool preview = true;
    bool decodeAfter = false;
};

// Reads a device URI of the form above into `out`. Returns an empty text or
// the error.
std::string parseBackendUri(const std::string& uri, BackendUri& out);

// The device line of the discovery run (no arguments), written to stdout.
void listDevice();

struct BackendJob {
    std::string uri;  // the device URI
    std::string queue;
    std::string jobId, user, title, copies, options;
    std::string file;  // empty: the stream comes on standard input
};

// Plays the printer for one job; returns the backend's exit status
// (CUPS_BACKEND_OK, CUPS_BACKEND_FAILED or CUPS_BACKEND_STOP). SIGTERM must
// be routed to noteCancel() by the caller.
int runBackendJob(const BackendJob& job);

// Async-signal-safe: records that the scheduler cancelled the job.
void noteCancel();

}  // namespace rvtsim
