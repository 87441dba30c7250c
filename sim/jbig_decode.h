// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The printer's page decoder: one JBIG bi-level image entity (BIE) in, one
// 1-bit page out, with JBIG-KIT's decoder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rvtsim {

// 1 bit per pixel, rows of (width + 7) / 8 bytes, most significant bit first,
// 1 = black (the layout of a raw PBM).
struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bits;

    size_t rowBytes() const { return (width + 7) / 8; }
    bool pixel(uint32_t x, uint32_t y) const
    {
        return (bits[y * rowBytes() + x / 8] >> (7 - x % 8)) & 1;
    }
};

// The 20-byte header at the start of every BIE.
struct BieHeader {
    int dl = 0, d = 0, planes = 0;
    uint32_t xd = 0, yd = 0, l0 = 0;
    int mx = 0, my = 0, order = 0, options = 0;
};

bool readBieHeader(std::string_view bie, BieHeader& header);

struct DecodeResult {
    bool ok = false;
    std::string error;  // when !ok
    Bitmap page;
    BieHeader header;
};

// Decodes a whole BIE. Pages larger than maxWidth x maxHeight are refused
// before anything is allocated. Bytes after the end of the image are an error.
DecodeResult decodeBie(std::string_view bie, uint32_t maxWidth = 20000, uint32_t maxHeight = 20000);

}  // namespace rvtsim
