// Pages for tests that feed the simulated printer a job of their own: a
// 1-bit test page, and a page encoded as the filter encodes it (JBIG-KIT's
// defaults).
#pragma once

#include "jbig_decode.h"

#include <cstdint>
extern "C" {
#include <jbig.h>
}
#include <string>
#include <vector>

namespace rvtsim {

// Slanted stripes and a diagonal: a page with detail in both directions.
inline Bitmap testPage(uint32_t width, uint32_t height)
{
    Bitmap b;
    b.width = width;
    b.height = height;
    b.bits.assign(b.rowBytes() * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            if ((x / 7 + y / 5) % 3 == 0 || x == y)
                b.bits[y * b.rowBytes() + x / 8] |= uint8_t(0x80 >> (x % 8));
    return b;
}

inline std::string encodeBie(const Bitmap& page)
{
    std::string bie;
    std::vector<uint8_t> bits = page.bits;
    unsigned char* planes[1] = {bits.data()};
    jbg_enc_state s;
    jbg_enc_init(&s, page.width, page.height, 1, planes,
                 [](unsigned char* start, size_t len, void* out) {
                     static_cast<std::string*>(out)->append(reinterpret_cast<char*>(start), len);
                 },
                 &bie);
    jbg_enc_out(&s);
    jbg_enc_free(&s);
    return bie;
}

}  // namespace rvtsim
