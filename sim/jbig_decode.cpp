// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "jbig_decode.h"

#include <cstring>
extern "C" {
#include <jbig.h>
}

namespace rvtsim {
namespace {

uint32_t be32(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

bool readBieHeader(std::string_view bie, BieHeader& h)
{
    if (bie.size() < 20)
        return false;
    auto p = reinterpret_cast<const unsigned char*>(bie.data());
    h.dl = p[0];
    h.d = p[1];
    h.planes = p[2];
    h.xd = be32(p + 4);
    h.yd = be32(p + 8);
    h.l0 = be32(p + 12);
    h.mx = p[16];
    h.my = p[17];
    h.order = p[18];
    h.options = p[19];
    return true;
}

DecodeResult decodeBie(std::string_view bie, uint32_t maxWidth, uint32_t maxHeight)
{
    DecodeResult r;
    if (!readBieHeader(bie, r.header)) {
        r.error = "BIE shorter than its 20-byte header (" + std::to_string(bie.size()) + " bytes)";
        return r;
    }
    if (r.header.planes != 1) {
        r.error = "BIE has " + std::to_string(r.header.planes) + " planes (1 expected)";
        return r;
    }
    // The decoder would allocate whatever the header asks for: check it first.
    if (r.header.xd == 0 || r.header.yd == 0 || r.header.xd > maxWidth || r.header.yd > maxHeight) {
        r.error = "BIE announces a page of " + std::to_string(r.header.xd) + " x " +
                  std::to_string(r.header.yd) + " pixels (at most " + std::to_string(maxWidth) +
                  " x " + std::to_string(maxHeight) + " accepted)";
        return r;
    }
    jbg_dec_state state;
    jbg_dec_init(&state);
    jbg_dec_maxsize(&state, maxWidth, maxHeight);
    // The decoder takes a non-const buffer but does not write to it.
    std::vector<unsigned char> data(bie.begin(), bie.end());
    size_t used = 0;
    int rc = jbg_dec_in(&state, data.data(), data.size(), &used);
    if (rc == JBG_EOK) {
        if (used != data.size()) {
            r.error = std::to_string(data.size() - used) + " bytes after the end of the image";
        } else {
            r.page.width = static_cast<uint32_t>(jbg_dec_getwidth(&state));
            r.page.height = static_cast<uint32_t>(jbg_dec_getheight(&state));
            const unsigned char* image = jbg_dec_getimage(&state, 0);
            size_t size = r.page.rowBytes() * r.page.height;
            if (image == nullptr && size != 0) {
                r.error = "decoder returned no image";
            } else {
                r.page.bits.assign(image, image + size);
                r.ok = true;
            }
        }
    } else if (rc == JBG_EAGAIN) {
        r.error = "BIE ends before the image is complete";
    } else {
        r.error = std::string("JBIG decoder: ") + jbg_strerror(rc);
    }
    jbg_dec_free(&state);
    return r;
}

}  // namespace rvtsim
