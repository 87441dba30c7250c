// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// PDF documents: Ghostscript renders the document, as the server's user and
// in its safe mode, to an 8-bit gray raster at 600 dpi of the job's media
// size, which goes through the driver's job as it comes out, page by page.
// Ghostscript's processor time and memory are limited, so that a document
// built to make it run away ends the job, not the server.
#pragma once

#include <pappl/pappl.h>

namespace rvt::app {

// The framework's filter callback for application/pdf.
bool printPdf(pappl_job_t* job, pappl_device_t* device, void* data);

}  // namespace rvt::app
