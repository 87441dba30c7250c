// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// tervane-cli: reads and writes the network settings of a supported printer
// attached by USB, over the same printer model as the settings window.
#include "cli.h"
#include "rvt_version.h"

int main(int argc, char** argv)
{
    if (rvt::printedVersion(argc, argv, "tervane-cli"))
        return 0;
    return tervane::runTervaneCli(argc, argv);
}
