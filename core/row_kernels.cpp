// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "row_kernels.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#define RVT_AVX2_KERNELS 1
#include <immintrin.h>
#endif

namespace rvt {

namespace {

template <typename T>
std::unique_ptr<T[]> allocateArray(int64_t count)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count > 0 ? count : 1)]);
}

// Bit order reversed within a byte: the screen's compare masks have the
// leftmost pixel in bit 0, the page has it in bit 7.
constexpr uint8_t reverseBits(unsigned v)
{
    unsigned r = 0;
    for (int i = 0; i < 8; ++i)
        r |= ((v >> i) & 1u) << (7 - i);
    return static_cast<uint8_t>(r);
}

struct ReversedBytes {
    uint8_t table[256];
    constexpr ReversedBytes() : table()
    {
        for (unsigned v = 0; v < 256; ++v)
            table[v] = reverseBits(v);
    }
};

constexpr ReversedBytes kReversed;

// Truncated toward zero with only the low eight bits kept. The blended values
// lie in 0 .. 255 (weights below 1 that sum to 1 within rounding), where the
// 32-bit truncation is the same as any wider one.
inline uint8_t lowByte(double value)
{
    return static_cast<uint8_t>(static_cast<int32_t>(value) & 0xFF);
}

#if defined(__SSE2__)
// The sixteen bytes of v in reverse order.
inline __m128i reverseBytes(__m128i v)
{
    v = _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2));  // halves swapped
    v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
    v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

// Pixels x .. x + 15 (x a multiple of 16) against their thresholds.
inline void screenBlock(__m128i g, const uint8_t* tile, int64_t x, uint8_t* out)
{
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tile + (x % kTileWidth)));
    const __m128i black = _mm_cmpeq_epi8(_mm_min_epu8(g, t), g);  // gray <= threshold
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(black));
    out[x / 8] = kReversed.table[mask & 0xFF];
    out[x / 8 + 1] = kReversed.table[mask >> 8];
}
#endif

// Pixels x .. width - 1 (x a multiple of 8) against their thresholds, eight
// to a byte; pixel(i) is the gray of pixel i.
template <typename Pixel>
void screenRest(const Pixel& pixel, int64_t x, int64_t width, const uint8_t* tile, uint8_t* out)
{
    for (; x < width; x += 8) {
        uint8_t bits = 0;
        const int64_t end = std::min<int64_t>(width, x + 8);
        for (int64_t i = x; i < end; ++i)
            if (pixel(i) <= tile[i % kTileWidth])
                bits = static_cast<uint8_t>(bits | (0x80 >> (i - x)));
        out[x / 8] = bits;
    }
}

#if defined(RVT_AVX2_KERNELS)
// The scaling kernels four doubles at a time, for processors that have AVX2
// (chosen at run time; the build stays runnable on plain x86-64). Every
// element goes through the same multiplications, additions and truncations as
// in the two-at-a-time code below, so the results are the same, bit for bit.

std::atomic<bool> baselineOnly{false};

bool haveAvx2()
{
    static const bool have = __builtin_cpu_supports("avx2");
    return have && !baselineOnly.load(std::memory_order_relaxed);
}

__attribute__((target("avx2"))) int64_t widenRowAvx2(const uint8_t* row, int64_t width, double* out)
{
    int64_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        _mm256_storeu_pd(out + x, _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(bytes)));
        _mm256_storeu_pd(out + x + 4,
                         _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_srli_si128(bytes, 4))));
        _mm256_storeu_pd(out + x + 8,
                         _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_srli_si128(bytes, 8))));
        _mm256_storeu_pd(out + x + 12,
                         _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_srli_si128(bytes, 12))));
    }
    return x;
}

__attribute__((target("avx2"))) int64_t scaleRowColumnsAvx2(const double* row, const int32_t* first,
                                                            const double* weights, int64_t cols,
                                                            double* out)
{
    int64_t x = 0;
    // Four columns: the sample pairs of columns x and x + 1 in one register,
    // of x + 2 and x + 3 in another; each column's two products are then
    // added, and the sums put back in column order.
    for (; x + 4 <= cols; x += 4) {
        const __m256d p01 = _mm256_insertf128_pd(
            _mm256_castpd128_pd256(_mm_loadu_pd(row + first[x])), _mm_loadu_pd(row + first[x + 1]),
            1);
        const __m256d p23 = _mm256_insertf128_pd(
            _mm256_castpd128_pd256(_mm_loadu_pd(row + first[x + 2])),
            _mm_loadu_pd(row + first[x + 3]), 1);
        const __m256d a = _mm256_mul_pd(p01, _mm256_loadu_pd(weights + 2 * x));
        const __m256d b = _mm256_mul_pd(p23, _mm256_loadu_pd(weights + 2 * x + 4));
        // [a0 + a1, b0 + b1, a2 + a3, b2 + b3] -> columns x, x + 2, x + 1, x + 3.
        const __m256d sums = _mm256_add_pd(_mm256_unpacklo_pd(a, b), _mm256_unpackhi_pd(a, b));
        _mm256_storeu_pd(out + x, _mm256_permute4x64_pd(sums, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    return x;
}

// Eight truncated values, low bytes kept, as eight bytes.
__attribute__((target("avx2"))) inline void storeLowBytes(__m128i a, __m128i b, uint8_t* out)
{
    const __m128i low = _mm_set1_epi32(0xFF);
    const __m128i words = _mm_packs_epi32(_mm_and_si128(a, low), _mm_and_si128(b, low));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}

__attribute__((target("avx2"))) int64_t blendScaledRowsAvx2(const double* top, const double* bottom,
                                                            bool sameRow, double fy0, double fy1,
                                                            int64_t cols, uint8_t* out)
{
    int64_t x = 0;
    if (sameRow) {
        for (; x + 8 <= cols; x += 8)
            storeLowBytes(_mm256_cvttpd_epi32(_mm256_loadu_pd(top + x)),
                          _mm256_cvttpd_epi32(_mm256_loadu_pd(top + x + 4)), out + x);
        return x;
    }
    const __m256d wTop = _mm256_set1_pd(fy0);
    const __m256d wBottom = _mm256_set1_pd(fy1);
    for (; x + 8 <= cols; x += 8) {
        const __m256d v0 = _mm256_add_pd(_mm256_mul_pd(wTop, _mm256_loadu_pd(top + x)),
                                         _mm256_mul_pd(wBottom, _mm256_loadu_pd(bottom + x)));
        const __m256d v1 = _mm256_add_pd(_mm256_mul_pd(wTop, _mm256_loadu_pd(top + x + 4)),
                                         _mm256_mul_pd(wBottom, _mm256_loadu_pd(bottom + x + 4)));
        storeLowBytes(_mm256_cvttpd_epi32(v0), _mm256_cvttpd_epi32(v1), out + x);
    }
    return x;
}
#endif

// True when every pixel of the row is 255.
bool allWhite(const uint8_t* row, int64_t width)
{
    int64_t x = 0;
    for (; x + 64 <= width; x += 64) {
        uint64_t all = ~uint64_t{0};
        for (int i = 0; i < 64; i += 8) {
            uint64_t word;
            std::memcpy(&word, row + x + i, sizeof word);
            all &= word;
        }
        if (all != ~uint64_t{0})
            return false;
    }
    for (; x < width; ++x)
        if (row[x] != 255)
            return false;
    return true;
}

}  // namespace

void useBaselineKernelsOnly(bool only)
{
#if defined(RVT_AVX2_KERNELS)
    baselineOnly.store(only, std::memory_order_relaxed);
#else
    (void)only;
#endif
}

int truncateToInt(double v)
{
    if (!(v > INT_MIN))
        return v != v ? 0 : INT_MIN;
    if (v >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(v);
}

void widenRow(const uint8_t* row, int64_t width, double* out)
{
    int64_t x = 0;
#if defined(RVT_AVX2_KERNELS)
    if (haveAvx2())
        x = widenRowAvx2(row, width, out);
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; x + 8 <= width; x += 8) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x));
        const __m128i words = _mm_unpacklo_epi8(bytes, zero);
        const __m128i lo = _mm_unpacklo_epi16(words, zero);
        const __m128i hi = _mm_unpackhi_epi16(words, zero);
        _mm_storeu_pd(out + x, _mm_cvtepi32_pd(lo));
        _mm_storeu_pd(out + x + 2, _mm_cvtepi32_pd(_mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2))));
        _mm_storeu_pd(out + x + 4, _mm_cvtepi32_pd(hi));
        _mm_storeu_pd(out + x + 6, _mm_cvtepi32_pd(_mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2))));
    }
#endif
    for (; x < width; ++x)
        out[x] = row[x];
}

void scaleRowColumns(const double* row, const int32_t* first, const double* weights, int64_t cols,
                     double* out)
{
    int64_t x = 0;
#if defined(RVT_AVX2_KERNELS)
    if (haveAvx2())
        x = scaleRowColumnsAvx2(row, first, weights, cols, out);
#endif
#if defined(__SSE2__)
    // Two columns at a time: each column's pair of samples is one load, the
    // products of both columns are then added crosswise.
    for (; x + 2 <= cols; x += 2) {
        const __m128d a = _mm_mul_pd(_mm_loadu_pd(row + first[x]), _mm_loadu_pd(weights + 2 * x));
        const __m128d b = _mm_mul_pd(_mm_loadu_pd(row + first[x + 1]),
                                     _mm_loadu_pd(weights + 2 * x + 2));
        _mm_storeu_pd(out + x, _mm_add_pd(_mm_unpacklo_pd(a, b), _mm_unpackhi_pd(a, b)));
    }
#endif
    for (; x < cols; ++x)
        out[x] = row[first[x]] * weights[2 * x] + row[first[x] + 1] * weights[2 * x + 1];
}

void blendScaledRows(const double* top, const double* bottom, const SourceRows& rows, int64_t cols,
                     uint8_t* out)
{
    int64_t x = 0;
#if defined(RVT_AVX2_KERNELS)
    if (haveAvx2())
        x = blendScaledRowsAvx2(top, bottom, rows.y0 == rows.y1, rows.fy0, rows.fy1, cols, out);
#endif
    if (rows.y0 == rows.y1) {
#if defined(__SSE2__)
        const __m128i low = _mm_set1_epi32(0xFF);
        for (; x + 8 <= cols; x += 8) {
            const __m128i a = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_loadu_pd(top + x)),
                                                 _mm_cvttpd_epi32(_mm_loadu_pd(top + x + 2)));
            const __m128i b = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_loadu_pd(top + x + 4)),
                                                 _mm_cvttpd_epi32(_mm_loadu_pd(top + x + 6)));
            const __m128i words = _mm_packs_epi32(_mm_and_si128(a, low), _mm_and_si128(b, low));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(words, words));
        }
#endif
        for (; x < cols; ++x)
            out[x] = lowByte(top[x]);
        return;
    }
    const double fy0 = rows.fy0;
    const double fy1 = rows.fy1;
#if defined(__SSE2__)
    const __m128d wTop = _mm_set1_pd(fy0);
    const __m128d wBottom = _mm_set1_pd(fy1);
    const __m128i low = _mm_set1_epi32(0xFF);
    auto blend2 = [&](int64_t at) {
        const __m128d v = _mm_add_pd(_mm_mul_pd(wTop, _mm_loadu_pd(top + at)),
                                     _mm_mul_pd(wBottom, _mm_loadu_pd(bottom + at)));
        return _mm_cvttpd_epi32(v);
    };
    for (; x + 8 <= cols; x += 8) {
        const __m128i a = _mm_unpacklo_epi64(blend2(x), blend2(x + 2));
        const __m128i b = _mm_unpacklo_epi64(blend2(x + 4), blend2(x + 6));
        const __m128i words = _mm_packs_epi32(_mm_and_si128(a, low), _mm_and_si128(b, low));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(words, words));
    }
#endif
    for (; x < cols; ++x)
        out[x] = lowByte(fy0 * top[x] + fy1 * bottom[x]);
}

RowScaler::RowScaler(int32_t width, int32_t height, double ratio)
    : width_(width > 0 ? width : 0), height_(height > 0 ? height : 0), ratio_(ratio),
      copies_(ratio == 1.0)
{
    if (copies_) {
        dstwidth_ = width;
        distheight_ = height;
        cols_ = width_;
        rows_ = height_;
        ready_ = true;
        return;
    }
    dstwidth_ = truncateToInt(width * ratio);
    distheight_ = truncateToInt(height * ratio);
    cols_ = std::max<int64_t>(0, std::min<int64_t>(dstwidth_, width_));
    rows_ = std::max<int64_t>(0, std::min<int64_t>(distheight_, height_));

    first_ = allocateArray<int32_t>(cols_);
    weights_ = allocateArray<double>(2 * cols_);
    cache_[0] = allocateArray<double>(cols_);
    cache_[1] = allocateArray<double>(cols_);
    white_ = allocateArray<double>(cols_);
    zeros_ = allocateArray<double>(cols_);
    wide_ = allocateArray<double>(width_ + 1);
    ready_ = first_ && weights_ && cache_[0] && cache_[1] && white_ && zeros_ && wide_;
    if (!ready_)
        return;
    wide_[width_] = 0.0;

    // The source columns and weights depend only on the output column.
    for (int64_t x = 0; x < cols_; ++x) {
        const double sx = x / ratio;
        const int64_t x0 = static_cast<int64_t>(std::floor(sx));
        const int64_t x1 = static_cast<int64_t>(std::ceil(sx));
        const double fx0 = sx - x0;
        const double fx1 = x1 - sx;
        // x1 is x0 or x0 + 1; a column x1 = width reads the 0.0 after the row.
        const bool in0 = x0 >= 0 && x0 < width_;
        first_[x] = in0 ? static_cast<int32_t>(x0) : 0;
        double* w = weights_.get() + 2 * x;
        if (!in0) {
            w[0] = w[1] = 0.0;
        } else if (x0 == x1) {
            // A whole position takes its one sample as it is.
            w[0] = 1.0;
            w[1] = 0.0;
        } else {
            w[0] = fx0;
            w[1] = x1 < width_ ? fx1 : 0.0;
        }
        zeros_[x] = 0.0;
    }
}

SourceRows RowScaler::sourceRowsOf(int64_t y) const
{
    SourceRows r;
    if (copies_) {
        r.y0 = r.y1 = y;
        return r;
    }
    const double sy = y / ratio_;
    r.y0 = static_cast<int64_t>(std::floor(sy));
    r.y1 = static_cast<int64_t>(std::ceil(sy));
    r.fy0 = sy - r.y0;
    r.fy1 = r.y1 - sy;
    return r;
}

const double* RowScaler::weighted(int64_t index, int64_t keep, const SourceRowFetch& fetch)
{
    if (index < 0 || index >= height_)
        return zeros_.get();
    for (int slot = 0; slot < 2; ++slot)
        if (cached_[slot] == index)
            return rowOf_[slot];
    const int slot = cached_[0] == keep ? 1 : 0;
    const uint8_t* row = fetch(index);
    if (!row)
        return zeros_.get();
    const bool white = allWhite(row, width_);
    if (!white || !whiteReady_) {
        double* out = white ? white_.get() : cache_[slot].get();
        widenRow(row, width_, wide_.get());
        scaleRowColumns(wide_.get(), first_.get(), weights_.get(), cols_, out);
        whiteReady_ = whiteReady_ || white;
    }
    cached_[slot] = index;
    rowOf_[slot] = white ? white_.get() : cache_[slot].get();
    return rowOf_[slot];
}

void RowScaler::scaleRow(int64_t y, const SourceRowFetch& fetch, uint8_t* out)
{
    const SourceRows r = sourceRowsOf(y);
    const double* top = weighted(r.y0, r.y1, fetch);
    const double* bottom = r.y1 == r.y0 ? top : weighted(r.y1, r.y0, fetch);
    blendScaledRows(top, bottom, r, cols_, out);
    if (cols_ < width_)
        std::memset(out + cols_, 255, static_cast<size_t>(width_ - cols_));
}

void mirrorRow(const uint8_t* src, int64_t width, uint8_t* dst)
{
    int64_t x = 0;
#if defined(__SSE2__)
    for (; x + 16 <= width; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + width - 16 - x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), reverseBytes(v));
    }
#endif
    for (; x < width; ++x)
        dst[x] = src[width - 1 - x];
}

ThresholdScreen::ThresholdScreen(int imageDarkness_type)
{
    const int level = (imageDarkness_type >= 0 && imageDarkness_type < kDarknessLevels)
                          ? imageDarkness_type
                          : 0;
    gamma_ = darknessGamma[level];
    if (gamma_ == 0.0f) {
        // The 4 x 4 matrix for "darkness off", its rows repeated to the tile width.
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < kTileWidth; ++c)
                own_[static_cast<size_t>(r * kTileWidth + c)] = orderedDither4x4[r][c % 4];
        matrix_ = own_.data();
        period_ = 4;
    } else if (gamma_ == 1.0f) {
        // The clustered-dot matrix as stored.
        matrix_ = FINE_TAry_128.data();
        period_ = ClusterHeight;
    } else {
        // The clustered-dot matrix through the darkness curve.
        remapClusterMatrix(gamma_, own_);
        matrix_ = own_.data();
        period_ = ClusterHeight;
        remapped_ = true;
    }
    for (int r = 0; r < period_; ++r)
        for (int c = 0; c < kTileWidth; ++c)
            groupReversed_[static_cast<size_t>(r * kTileWidth + c)] =
                matrix_[r * kTileWidth + (c & ~7) + 7 - (c & 7)];
}

const uint8_t* ThresholdScreen::tileRow(int64_t y) const
{
    return matrix_ + (y % period_) * kTileWidth;
}

const uint8_t* ThresholdScreen::groupReversedTileRow(int64_t y) const
{
    return groupReversed_.data() + (y % period_) * kTileWidth;
}

void screenRow(const uint8_t* gray, int64_t width, const uint8_t* tile, uint8_t* out)
{
    int64_t x = 0;
#if defined(__SSE2__)
    // Sixteen pixels at a time; a tile row is a whole number of such blocks.
    for (; x + 16 <= width; x += 16)
        screenBlock(_mm_loadu_si128(reinterpret_cast<const __m128i*>(gray + x)), tile, x, out);
#endif
    screenRest([gray](int64_t i) { return gray[i]; }, x, width, tile, out);
}

void screenMirroredRow(const uint8_t* gray, int64_t width, const ThresholdScreen& screen, int64_t y,
                       uint8_t* out)
{
    int64_t x = 0;
#if defined(__SSE2__)
    // Sixteen pixels at a time. The mirrored pixels x .. x + 15 are the source
    // block ending at width - x, reversed; with its two halves swapped instead,
    // each group of eight is in reverse order, so that the compare mask has
    // the leftmost pixel of each group in the high bit, as the page has it,
    // against the thresholds reversed likewise.
    const uint8_t* tile = screen.groupReversedTileRow(y);
    for (; x + 16 <= width; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gray + width - 16 - x));
        const __m128i g = _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2));
        const __m128i t = _mm_loadu_si128(
            reinterpret_cast<const __m128i*>(tile + (x % kTileWidth)));
        const __m128i black = _mm_cmpeq_epi8(_mm_min_epu8(g, t), g);  // gray <= threshold
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(black));
        out[x / 8] = static_cast<uint8_t>(mask & 0xFF);
        out[x / 8 + 1] = static_cast<uint8_t>(mask >> 8);
    }
#endif
    screenRest([gray, width](int64_t i) { return gray[width - 1 - i]; }, x, width,
               screen.tileRow(y), out);
}

}  // namespace rvt
