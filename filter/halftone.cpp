#include "halftone.h"

#include "log.h"
#include "threshold_matrix.h"

#include <cstring>

namespace rvt {

namespace {

// One row of pixels against one row of thresholds: a pixel prints black
// (bit set) when its gray is not above its threshold. `thresholds` holds
// `period` entries and repeats along the row; the padding bits of the last
// byte stay 0.
void screenRow(const uint8_t* gray, int64_t width, const uint8_t* thresholds, int64_t period,
               uint8_t* out)
{
    const int64_t fullBytes = width / 8;
    int64_t col = 0;  // column in the threshold row
    for (int64_t b = 0; b < fullBytes; ++b) {
        uint8_t bits = 0;
        const uint8_t* g = gray + b * 8;
        for (int i = 0; i < 8; ++i) {
            bits = static_cast<uint8_t>((bits << 1) | (g[i] <= thresholds[col] ? 1 : 0));
            if (++col == period)
                col = 0;
        }
        out[b] = bits;
    }
    const int rest = static_cast<int>(width - fullBytes * 8);
    if (rest > 0) {
        uint8_t bits = 0;
        const uint8_t* g = gray + fullBytes * 8;
        for (int i = 0; i < rest; ++i) {
            if (g[i] <= thresholds[col])
                bits = static_cast<uint8_t>(bits | (0x80 >> i));
            if (++col == period)
                col = 0;
        }
        out[fullBytes] = bits;
    }
}

}  // namespace

PageBuffer halftone(PageBuffer src, int32_t width, int32_t height, int imageDarkness_type, Log& log)
{
    const uint64_t stride = width > 0 ? bitRowBytes(width) : 0;
    const uint64_t height64 = height > 0 ? static_cast<uint64_t>(height) : 0;
    PageBuffer dst = allocatePage(stride * height64);
    if (!dst || !src) {
        log.printf("DEBUG: failed to locate memory for halftone line and dstImage .\n");
        return nullptr;
    }

    const int level = (imageDarkness_type >= 0 && imageDarkness_type < kDarknessLevels)
                          ? imageDarkness_type
                          : 0;
    const float gamma = darknessGamma[level];

    // The 4 x 4 matrix for "darkness off", the clustered-dot matrix as stored
    // for gamma 1, otherwise the clustered-dot matrix through the curve.
    const uint8_t* matrix = FINE_TAry_128.data();
    ClusterMatrix working;
    bool ownMatrix = false;
    if (gamma != 0.0f && gamma != 1.0f) {
        remapClusterMatrix(gamma, working);
        matrix = working.data();
        ownMatrix = true;
    }
    log.printf("DEBUG:[RVT4410LW]---curGammaVal=%.2f;\n", static_cast<double>(gamma));

    const int64_t w = width;
    for (int64_t y = 0; y < static_cast<int64_t>(height64); ++y) {
        const uint8_t* gray = src.get() + y * w;
        uint8_t* out = dst.get() + static_cast<uint64_t>(y) * stride;
        if (gamma == 0.0f)
            screenRow(gray, w, orderedDither4x4[y % 4], 4, out);
        else
            screenRow(gray, w, matrix + (y % ClusterHeight) * ClusterWidth, ClusterWidth, out);
    }

    src.reset();
    if (ownMatrix)
        log.printf("DEBUG:[RVT4410LW]==free=Halftone;\n");
    return dst;
}

}  // namespace rvt
