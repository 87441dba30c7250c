// A 1-bit page encoded as the filter encodes it (JBIG-KIT's defaults), for
// tests that feed the simulated printer a job of their own.
#pragma once

#include "jbig_decode.h"

#include <cstdint>
extern "C" {
#include <jbig.h>
}
#include <string>
#include <vector>

namespace rvtsim {

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
