#include "zoom.h"

#include "job_settings.h"
#include "log.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rvt {

namespace {

// The sample at column a, row b; anything outside the page reads as 0.
inline double sampleAt(const uint8_t* src, int64_t a, int64_t b, int64_t width, int64_t height)
{
    if (a < 0 || a >= width || b < 0 || b >= height)
        return 0.0;
    return src[b * width + a];
}

}  // namespace

void zoomGrayPage(PageBuffer src, uint8_t* dst, int32_t width, int32_t height, double ratio,
                  JobSettings& job, Log& log)
{
    if (!dst) {
        log.printf("DEBUG:[RVT4410LW]:allocate zoom page image memory failed\n");
        job.isCanceled = 1;
        return;
    }
    if (width <= 0 || height <= 0 || !src)
        return;

    const int64_t w = width;
    const int64_t h = height;
    const uint64_t pageBytes = static_cast<uint64_t>(w) * static_cast<uint64_t>(h);

    if (ratio == 1.0) {
        std::memcpy(dst, src.get(), pageBytes);
        log.printf("DEBUG:[RVT4410LW]:scale ratio = %f, and memcpy srcimage  "
                   "================================\n",
                   ratio);
        return;
    }

    const int dstwidth = static_cast<int>(width * ratio);
    const int distheight = static_cast<int>(height * ratio);
    log.printf("DEBUG:[RVT4410LW]:scale ratio = %f ,zoom size : dstwidth=%d ,distheight=%d  "
               "================================\n",
               ratio, dstwidth, distheight);

    std::memset(dst, 255, pageBytes);

    const int64_t cols = std::max<int64_t>(0, std::min<int64_t>(dstwidth, w));
    const int64_t rows = std::max<int64_t>(0, std::min<int64_t>(distheight, h));
    const uint8_t* s = src.get();

    for (int64_t y = 0; y < rows; ++y) {
        const double sy = y / ratio;
        const int64_t y0 = static_cast<int64_t>(std::floor(sy));
        const int64_t y1 = static_cast<int64_t>(std::ceil(sy));
        const double fy0 = sy - y0;
        const double fy1 = y1 - sy;
        uint8_t* out = dst + y * w;  // each row is finished before it is stored
        for (int64_t x = 0; x < cols; ++x) {
            const double sx = x / ratio;
            const int64_t x0 = static_cast<int64_t>(std::floor(sx));
            const int64_t x1 = static_cast<int64_t>(std::ceil(sx));
            const double p00 = sampleAt(s, x0, y0, w, h);
            double value;
            if (x0 == x1 && y0 == y1) {
                value = p00;
            } else if (x0 == x1) {
                const double p01 = sampleAt(s, x0, y1, w, h);
                value = p00 * fy0 + p01 * fy1;
            } else {
                const double fx0 = sx - x0;
                const double fx1 = x1 - sx;
                const double p10 = sampleAt(s, x1, y0, w, h);
                if (y0 == y1) {
                    value = p00 * fx0 + p10 * fx1;
                } else {
                    const double p01 = sampleAt(s, x0, y1, w, h);
                    const double p11 = sampleAt(s, x1, y1, w, h);
                    value = fy0 * (p00 * fx0 + p10 * fx1) + fy1 * (p01 * fx0 + p11 * fx1);
                }
            }
            // Truncated toward zero; only the low eight bits are kept.
            out[x] = static_cast<uint8_t>(static_cast<int64_t>(value) & 0xFF);
        }
    }
}

}  // namespace rvt
