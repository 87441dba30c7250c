#include "zoom.h"

#include "job_settings.h"
#include "log.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace rvt {

namespace {

// The sample at column a of a source row; a row or column outside the page
// (row == nullptr) reads as 0.
inline double sampleAt(const uint8_t* row, int64_t a, int64_t width)
{
    if (!row || a < 0 || a >= width)
        return 0.0;
    return row[a];
}

// (int)v for the sizes of the scaled picture; a value outside int (or not a
// number, from a nonsensical ratio) is pinned instead of being undefined.
inline int truncateToInt(double v)
{
    if (!(v > INT_MIN))
        return v != v ? 0 : INT_MIN;
    if (v >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(v);
}

// Where output column x reads: sx = x / ratio between columns x0 = floor(sx)
// and x1 = ceil(sx); each sample is weighted by its own distance from sx
// (x0 by fx0 = sx - x0, x1 by fx1 = x1 - sx).
struct SourceColumn {
    int64_t x0;
    int64_t x1;
    double fx0;
    double fx1;
};

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

    const int dstwidth = truncateToInt(width * ratio);
    const int distheight = truncateToInt(height * ratio);
    log.printf("DEBUG:[RVT4410LW]:scale ratio = %f ,zoom size : dstwidth=%d ,distheight=%d  "
               "================================\n",
               ratio, dstwidth, distheight);

    std::memset(dst, 255, pageBytes);

    const int64_t cols = std::max<int64_t>(0, std::min<int64_t>(dstwidth, w));
    const int64_t rows = std::max<int64_t>(0, std::min<int64_t>(distheight, h));
    // The source columns and weights depend only on the output column: work
    // them out once per page.
    std::unique_ptr<SourceColumn[]> columns(new (std::nothrow) SourceColumn[cols > 0 ? cols : 1]);
    if (!columns) {
        log.printf("DEBUG:[RVT4410LW]:allocate zoom page image memory failed\n");
        job.isCanceled = 1;
        return;
    }
    for (int64_t x = 0; x < cols; ++x) {
        const double sx = x / ratio;
        SourceColumn& c = columns[x];
        c.x0 = static_cast<int64_t>(std::floor(sx));
        c.x1 = static_cast<int64_t>(std::ceil(sx));
        c.fx0 = sx - c.x0;
        c.fx1 = c.x1 - sx;
    }

    const uint8_t* s = src.get();
    for (int64_t y = 0; y < rows; ++y) {
        const double sy = y / ratio;
        const int64_t y0 = static_cast<int64_t>(std::floor(sy));
        const int64_t y1 = static_cast<int64_t>(std::ceil(sy));
        const double fy0 = sy - y0;
        const double fy1 = y1 - sy;
        const uint8_t* row0 = (y0 >= 0 && y0 < h) ? s + y0 * w : nullptr;
        const uint8_t* row1 = (y1 >= 0 && y1 < h) ? s + y1 * w : nullptr;
        uint8_t* out = dst + y * w;  // each row is finished before it is stored
        for (int64_t x = 0; x < cols; ++x) {
            const SourceColumn& c = columns[x];
            const double p00 = sampleAt(row0, c.x0, w);
            double value;
            if (c.x0 == c.x1 && y0 == y1) {
                value = p00;
            } else if (c.x0 == c.x1) {
                const double p01 = sampleAt(row1, c.x0, w);
                value = p00 * fy0 + p01 * fy1;
            } else {
                const double p10 = sampleAt(row0, c.x1, w);
                if (y0 == y1) {
                    value = p00 * c.fx0 + p10 * c.fx1;
                } else {
                    const double p01 = sampleAt(row1, c.x0, w);
                    const double p11 = sampleAt(row1, c.x1, w);
                    value = fy0 * (p00 * c.fx0 + p10 * c.fx1) + fy1 * (p01 * c.fx0 + p11 * c.fx1);
                }
            }
            // Truncated toward zero; only the low eight bits are kept.
            out[x] = static_cast<uint8_t>(static_cast<int64_t>(value) & 0xFF);
        }
    }
}

}  // namespace rvt
