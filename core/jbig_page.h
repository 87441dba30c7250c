// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// JBIG page files: one bi-level image entity per page, written by JBIG-KIT's
// encoder with its initial parameters.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rvt {

// The bitmap records that travel with every 1-bit page. They follow the BMP
// file and info headers with every 32-bit field 64 bits wide; the encoder
// reads only the info header's width and height.
struct BmpFileHeader {
    uint64_t type = 0x4D42;  // "BM"
    uint64_t size = 0;
    uint16_t reserved1 = 0;
    uint16_t reserved2 = 0;
    uint64_t offBits = 62;
};

struct BmpInfoHeader {
    int64_t headerSize = 40;
    int64_t width = 0;
    int64_t height = 0;
    uint16_t planes = 1;
    uint16_t bitCount = 1;
    int64_t compression = 0;
    int64_t sizeImage = 0;
    int64_t xPelsPerMeter = 0;
    int64_t yPelsPerMeter = 0;
    int64_t clrUsed = 0;
    int64_t clrImportant = 0;
};

struct BmpPalette {
    int64_t entry[2] = {0xFFFFFF, 0};  // white, black
};

// The records of a page of width x height pixels whose raster rows are
// `bytesPerLine` bytes (sizes in 64 bits).
void fillBmpHeaders(int64_t width, int64_t height, uint64_t bytesPerLine, BmpFileHeader& file,
                    BmpInfoHeader& info, BmpPalette& palette);

// Encodes `bits` (rows of (width + 7) / 8 bytes, 1 = black) into the page file
// `path`. Returns 1 when the file was written, 0 when it could not be created
// or written. The bits stay the caller's; the encoder may clear the padding
// bits of each row.
int bmp_to_jbg(const char* path, uint8_t* bits, const BmpFileHeader& file,
               const BmpInfoHeader& info, const BmpPalette& palette);

// The encoder's output callback: appends `length` bytes to the FILE* `file`.
void output_bie(unsigned char* data, size_t length, void* file);

}  // namespace rvt
