// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// rvt4410lw-diag: the filter's developer dumps from the command line.
//
//   rvt4410lw-diag save-raster [OUT]                      raster on stdin -> OUT
//   rvt4410lw-diag bench RASTER DEBUGDIR [--darkness N]   image steps -> DEBUGDIR

#include "diagnostics.h"
#include "rvt_version.h"
#include "threshold_matrix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void usage(FILE* to)
{
    std::fprintf(to,
                 "Usage:\n"
                 "  rvt4410lw-diag save-raster [OUT]\n"
                 "      Copy the CUPS raster on standard input to OUT (default %s).\n"
                 "  rvt4410lw-diag bench RASTER DEBUGDIR [--darkness N]\n"
                 "      Run each page of the raster file RASTER through scaling, mirroring,\n"
                 "      screening at darkness level N (0..5, default 0) and JBIG encoding,\n"
                 "      writing ras.pgm, ras_mirror.pgm, ras.pbm and -0001.jbig, -0002.jbig...\n"
                 "      into DEBUGDIR.\n"
                 "  rvt4410lw-diag --help\n",
                 rvt::kRasterDumpPath);
}

bool parseLevel(const char* text, int& level)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 0 || v >= rvt::kDarknessLevels)
        return false;
    level = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (rvt::printedVersion(argc, argv, "rvt4410lw-diag"))
        return 0;
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        usage(stdout);
        return 0;
    }
    if (command == "save-raster" && argc <= 3) {
        const char* outPath = argc == 3 ? argv[2] : rvt::kRasterDumpPath;
        return rvt::saveRaster(0, outPath, stdout);
    }
    if (command == "bench" && (argc == 4 || argc == 6)) {
        int level = 0;
        if (argc == 6 && (std::strcmp(argv[4], "--darkness") != 0 || !parseLevel(argv[5], level))) {
            std::fprintf(stderr, "rvt4410lw-diag: --darkness takes a level from 0 to 5\n");
            usage(stderr);
            return 2;
        }
        return rvt::testRaster2JBIG(argv[2], argv[3], level, stdout, stderr);
    }
    usage(stderr);
    return 2;
}
