// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Test pages from short descriptions, and CUPS raster files made of them
// (8 bits of gray per pixel, 600 dpi), as the scheduler would hand them over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rvtsim {

// "KIND:WIDTHxHEIGHT[:SEED]" with KIND one of
//   blank, black       all white, all black
//   hgradient          white to black from left to right; vgradient: top to bottom
//   noise              random gray per pixel
//   text               lines of word-like black strokes on white, a black
//                      square in the top-left corner and a gray bar on the right
// The seed makes otherwise alike pages differ.
struct PagePattern {
    std::string kind;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t seed = 1;
};

bool parsePattern(const std::string& text, PagePattern& pattern);

// width x height bytes, 0 black, 255 white, rows top to bottom.
std::vector<uint8_t> makeGrayPage(const PagePattern& pattern);

// Writes the pages into a CUPS raster file; colorSpace 18 (sGray) or 0 (W).
// Returns an empty text or the error.
std::string writeRaster(const std::string& path, const std::vector<PagePattern>& pages,
                        int colorSpace = 18);

}  // namespace rvtsim
