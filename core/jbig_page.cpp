// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "jbig_page.h"

#include <cstdio>
// JBIG-KIT's header has no C++ linkage block of its own.
extern "C" {
#include <jbig.h>
}
#include <sys/stat.h>
#include <unistd.h>

namespace rvt {

namespace {

// The largest side JBIG's BIH can carry (32-bit fields).
constexpr int64_t kMaxSide = 0xFFFFFFFFLL;

}  // namespace

void fillBmpHeaders(int64_t width, int64_t height, uint64_t bytesPerLine, BmpFileHeader& file,
                    BmpInfoHeader& info, BmpPalette& palette)
{
    const uint64_t rows = height > 0 ? static_cast<uint64_t>(height) : 0;
    const uint64_t imageSize = ((bytesPerLine + 7) / 8) * rows;

    file = BmpFileHeader{};
    file.size = imageSize + 62;

    info = BmpInfoHeader{};
    info.width = width;
    info.height = height;
    info.sizeImage = static_cast<int64_t>(imageSize);

    palette = BmpPalette{};
}

void output_bie(unsigned char* data, size_t length, void* file)
{
    std::fwrite(data, 1, length, static_cast<FILE*>(file));
}

int bmp_to_jbg(const char* path, uint8_t* bits, const BmpFileHeader& /*file*/,
               const BmpInfoHeader& info, const BmpPalette& /*palette*/)
{
    if (!path || !bits || info.width <= 0 || info.height <= 0 || info.width > kMaxSide ||
        info.height > kMaxSide)
        return 0;

    FILE* out = std::fopen(path, "wb");
    if (!out)
        return 0;
    struct stat st;
    const bool regularFile = fstat(fileno(out), &st) == 0 && S_ISREG(st.st_mode);

    // JBIG-KIT's initial parameters are the page file's: one layer, order
    // ILEAVE|SMID, options TPDON|TPBON|DPON, L0 = height / 35 within 2 .. 128,
    // MX 8, MY 0.
    unsigned char* planes[1] = {bits};
    jbg_enc_state state;
    jbg_enc_init(&state, static_cast<unsigned long>(info.width),
                 static_cast<unsigned long>(info.height), 1, planes, output_bie, out);
    jbg_enc_out(&state);
    jbg_enc_free(&state);

    // A page file that was not written whole would send a broken page; remove
    // it (when it is a plain file) so that sending the page fails instead.
    const bool writeFailed = std::ferror(out) != 0;
    const bool closeFailed = std::fclose(out) != 0;
    if (writeFailed || closeFailed) {
        if (regularFile)
            unlink(path);
        return 0;
    }
    return 1;
}

}  // namespace rvt
