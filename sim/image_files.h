// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Files of a decoded page: raw PBM (exact bits, for comparisons), 1-bit PNG
// (black = ink) and a reduced gray PNG preview for looking at whole pages.
#pragma once

#include "jbig_decode.h"

#include <cstdio>
#include <string>

namespace rvtsim {

bool writePbm(const std::string& path, const Bitmap& page);
bool readPbm(const std::string& path, Bitmap& page);
bool writePng(const std::string& path, const Bitmap& page);
// Every `factor` x `factor` block becomes one gray pixel (its share of ink).
bool writePreviewPng(const std::string& path, const Bitmap& page, uint32_t factor);

// The same into a file already open for writing (flushed, not closed).
bool writePbm(FILE* f, const Bitmap& page);
bool writePng(FILE* f, const Bitmap& page);
bool writePreviewPng(FILE* f, const Bitmap& page, uint32_t factor);

}  // namespace rvtsim
