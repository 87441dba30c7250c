// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// rvt4410lw-make-raster: CUPS raster test files from described pages.
#include "raster_patterns.h"
#include "rvt_version.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (rvt::printedVersion(argc, argv, "rvt4410lw-make-raster"))
        return 0;
    if (argc < 3) {
        std::fprintf(stderr, "usage: rvt4410lw-make-raster [--cspace 18|0] OUT.ras PAGE...\n"
                             "  PAGE: KIND:WIDTHxHEIGHT[:SEED], KIND one of blank black hgradient\n"
                             "        vgradient noise text (8-bit gray, 600 dpi)\n");
        return 2;
    }
    int arg = 1;
    int cspace = 18;
    if (std::string(argv[arg]) == "--cspace" && arg + 1 < argc) {
        cspace = std::atoi(argv[arg + 1]);
        arg += 2;
    }
    if (arg >= argc) {
        std::fprintf(stderr, "rvt4410lw-make-raster: no output file\n");
        return 2;
    }
    std::string out = argv[arg++];
    std::vector<rvtsim::PagePattern> pages;
    for (; arg < argc; ++arg) {
        rvtsim::PagePattern p;
        if (!rvtsim::parsePattern(argv[arg], p)) {
            std::fprintf(stderr, "rvt4410lw-make-raster: bad page \"%s\"\n", argv[arg]);
            return 2;
        }
        pages.push_back(p);
    }
    if (std::string err = rvtsim::writeRaster(out, pages, cspace); !err.empty()) {
        std::fprintf(stderr, "rvt4410lw-make-raster: %s\n", err.c_str());
        return 1;
    }
    return 0;
}
