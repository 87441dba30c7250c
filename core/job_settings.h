// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The settings and state of one print job, passed explicitly to every piece
// of the filter that needs them (the only process-wide state is the
// termination flag in cancel_signal.h).
#pragma once

#include <string>

namespace rvt {

struct JobSettings {
    // From the command line (argv[0], argv[1], argv[4]).
    std::string PrinterName;
    int JobId = 0;
    std::string jobCopies = "1";  // the text written after "Copies="
    int copies = 0;               // copies the filter produces itself when collating

    // From the PPD and the job options.
    int isMediaType = 0;
    std::string media_type;
    std::string pageSize = "A4";
    int isInputSlot = 0;
    std::string InputSlot;
    int isDuplex = 0;  // 0 one-sided, 1 DuplexTumble, 2 DuplexNoTumble
    std::string Duplex;
    int collate = 1;
    double ratio = 1.0;
    std::string scale = "100%";
    int imageDarkness_type = 0;

    // Job state.
    int isCanceled = 0;
    int pageWidth = 0;   // size of the page read last; raised to a multiple of 8
    int pageHeight = 0;  // by sendPageHeader
};

}  // namespace rvt
