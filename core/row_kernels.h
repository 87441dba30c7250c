// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Row kernels of the image steps: scaling, mirroring and screening one row
// at a time. The page-level steps (zoom.h, transforms.h, halftone.h) and the
// streaming page pipeline (page_pipeline.h) are loops over these kernels, so
// that every pixel goes through the same arithmetic whichever way a page is
// processed.
#pragma once

#include "page_buffer.h"
#include "threshold_matrix.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace rvt {

// ---- Scaling ---------------------------------------------------------------
//
// Output pixel (x, y) reads the source at sx = x / ratio, sy = y / ratio,
// between columns x0 = floor(sx), x1 = ceil(sx) and rows y0 = floor(sy),
// y1 = ceil(sy); each sample is weighted by its own distance from the source
// position (x0 by sx - x0, x1 by x1 - sx; likewise for rows), a sample outside
// the page reads as 0, and the value is truncated toward zero.
//
// The horizontal weighting of a source row does not depend on the output row,
// so it is done once per source row into a row of doubles, and each output row
// is a vertical blend of two such rows. Every output column weights a pair of
// neighbouring source columns: a whole position (x0 = x1) takes its sample
// with weight 1 and its neighbour with weight 0, a sample outside the page
// gets weight 0. The double results are the same, bit for bit, as weighting
// the four samples of each pixel case by case (p * 1.0 + q * 0.0 is p, and
// 0 * w is 0).

// (int)v for the sizes of the scaled picture; a value outside int (or not a
// number, from a nonsensical ratio) is pinned instead of being undefined.
int truncateToInt(double v);

// Source rows of one output row.
struct SourceRows {
    int64_t y0 = 0;
    int64_t y1 = 0;
    double fy0 = 0.0;  // weight of row y0: sy - y0
    double fy1 = 0.0;  // weight of row y1: y1 - sy
};

// The scaling kernels use AVX2 where the processor has it. With `only` true
// they keep to the baseline (SSE2) code, so that the tests cover it on any
// processor; both give the same bytes.
void useBaselineKernelsOnly(bool only);

// out[x] = row[x] as a double, for x < width.
void widenRow(const uint8_t* row, int64_t width, double* out);

// Horizontal pass over a widened source row: out[x] = row[first[x]] *
// weights[2x] + row[first[x] + 1] * weights[2x + 1] for x < cols. `row` holds
// one element more than the page is wide (0.0), read with weight 0.
void scaleRowColumns(const double* row, const int32_t* first, const double* weights, int64_t cols,
                     double* out);

// Vertical pass: out[x] = trunc(fy0 * top[x] + fy1 * bottom[x]) & 0xFF, or
// trunc(top[x]) & 0xFF when both source rows are the same row.
void blendScaledRows(const double* top, const double* bottom, const SourceRows& rows, int64_t cols,
                     uint8_t* out);

// A source row for the scaler: row `index` of the page (width bytes), or null
// for a row outside the page (its samples read as 0).
using SourceRowFetch = std::function<const uint8_t*(int64_t index)>;

// The scaling of one page, set up once per page. Output rows must be asked
// for in increasing order; the source rows are then asked for in increasing
// order too (the scaling only moves forward through the page), each at most
// once, and only those that some output row reads.
class RowScaler {
public:
    RowScaler(int32_t width, int32_t height, double ratio);

    // False when the per-page tables could not be allocated.
    bool ready() const { return ready_; }
    // Ratio exactly 1.0: every row is copied as it is.
    bool copies() const { return copies_; }
    int dstwidth() const { return dstwidth_; }
    int distheight() const { return distheight_; }
    // Output columns and rows that carry the scaled picture; the rest is white.
    int64_t columns() const { return cols_; }
    int64_t rows() const { return rows_; }

    SourceRows sourceRowsOf(int64_t y) const;

    // Output row y (< rows()), width bytes; columns from columns() on are
    // white. Not for the copy path.
    void scaleRow(int64_t y, const SourceRowFetch& fetch, uint8_t* out);

private:
    const double* weighted(int64_t index, int64_t keep, const SourceRowFetch& fetch);

    int64_t width_;
    int64_t height_;
    double ratio_;
    bool copies_;
    bool ready_ = false;
    int dstwidth_ = 0;
    int distheight_ = 0;
    int64_t cols_ = 0;
    int64_t rows_ = 0;
    // Per output column: the left source column and the weights of it and
    // of the column after it.
    std::unique_ptr<int32_t[]> first_;
    std::unique_ptr<double[]> weights_;
    // The source row being weighted, as doubles, and a 0.0 after it.
    std::unique_ptr<double[]> wide_;
    // Two horizontally weighted source rows and which rows they hold (-1:
    // none); rowOf_ points at the weighted row of each, its cache_ or white_.
    std::unique_ptr<double[]> cache_[2];
    int64_t cached_[2] = {-1, -1};
    const double* rowOf_[2] = {nullptr, nullptr};
    // The weighted row of an all-white source row, the same for every such
    // row: made from the first one, then reused.
    std::unique_ptr<double[]> white_;
    bool whiteReady_ = false;
    // The weighted row of a row outside the page: all 0.
    std::unique_ptr<double[]> zeros_;
};

// ---- Transforms ----------------------------------------------------------

// dst = src reversed (width bytes); src and dst do not overlap.
void mirrorRow(const uint8_t* src, int64_t width, uint8_t* dst);

// Row y of a page of `height` rows lands at row height - 1 - y when the page
// is flipped top to bottom.
inline int64_t flippedRow(int64_t y, int64_t height) { return height - 1 - y; }

// ---- Screening ---------------------------------------------------------------

// Width of a threshold tile row: both matrices repeat within 128 columns.
inline constexpr int kTileWidth = 128;

// The threshold matrix of one darkness level, set up once per page.
class ThresholdScreen {
public:
    explicit ThresholdScreen(int imageDarkness_type);

    float gamma() const { return gamma_; }
    // A working matrix was built through the darkness curve.
    bool remapped() const { return remapped_; }
    // The thresholds of output row y, kTileWidth entries that repeat along
    // the row.
    const uint8_t* tileRow(int64_t y) const;
    // The same thresholds with every group of eight in reverse order.
    const uint8_t* groupReversedTileRow(int64_t y) const;

private:
    float gamma_;
    bool remapped_ = false;
    const uint8_t* matrix_;  // kTileWidth columns, period_ rows
    int period_;
    ClusterMatrix own_;            // the working matrix, or the 4 x 4 matrix's rows tiled
    ClusterMatrix groupReversed_;  // matrix_ with each group of eight reversed
};

// One row of gray against its tile row of thresholds: a pixel prints black
// (bit set, most significant bit leftmost) when its gray is not above its
// threshold. Writes (width + 7) / 8 bytes; the padding bits are 0.
void screenRow(const uint8_t* gray, int64_t width, const uint8_t* tile, uint8_t* out);

// screenRow of the row mirrored left to right (mirrorRow then screenRow) with
// the thresholds of output row y, in one pass.
void screenMirroredRow(const uint8_t* gray, int64_t width, const ThresholdScreen& screen, int64_t y,
                       uint8_t* out);

}  // namespace rvt
