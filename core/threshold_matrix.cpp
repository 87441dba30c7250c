// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "threshold_matrix.h"

#include <cmath>

namespace rvt {

const uint8_t orderedDither4x4[4][4] = {
    {56, 168, 104, 40},
    {120, 200, 248, 184},
    {152, 216, 232, 136},
    {8, 72, 88, 24},
};

const float darknessGamma[kDarknessLevels] = {0.0f, 4.0f, 2.0f, 1.65f, 1.35f, 1.0f};

namespace {

// The top-left 8 x 8 cell of the clustered-dot matrix. It fixes the dot shape:
// two dot centres, at (1, 1) and (5, 5), where the thresholds are lowest.
// All 64 values are distinct, and values next to each other in rank order are
// at least 2 apart.
// Row by row, position p = row * 8 + column.
constexpr uint8_t kBaseCell[64] = {
    67,  51,  59,  114, 190, 206, 198, 143, 35,  3,   19,  98,  222, 254, 238, 159,
    43,  11,  27,  106, 214, 246, 230, 151, 91,  75,  83,  122, 166, 182, 174, 135,
    185, 200, 192, 137, 69,  54,  62,  117, 216, 248, 232, 153, 38,  6,   22,  101,
    208, 240, 224, 145, 46,  14,  30,  109, 161, 177, 169, 129, 93,  77,  85,  125,
};

// How the whole 128 x 128 matrix follows from kBaseCell.
//
// The matrix is 16 x 16 cells of 8 x 8; cell k = cellRow * 16 + cellCol. Cell
// 0 is kBaseCell itself. Every other cell is kBaseCell shifted by a small
// offset per position, so that neighbouring cells switch on at slightly
// different grays while the dot grows in the same order everywhere:
//
//   rank(p)       = number of positions of kBaseCell with a lower value than p
//                   (0 .. 63; the positions in the order the dot grows)
//   h(k, i)       = mix(kCellSeed ^ mix(65 * k + i + 1)), mix = the 32-bit
//                   "lowbias32" integer hash
//   base(k)       = h(k, 64) mod 4 - 3                      (-3 .. 0)
//   jitter(k, p)  = -1 if h(k, rank(p)) mod 8 == 0,
//                   +1 if h(k, rank(p)) mod 8 == 1, else 0
//   raw(k, p)     = kBaseCell[p] + base(k) + jitter(k, p), clamped to 1 .. 254
//
// then, going through the positions of the cell in rank order, a value that is
// not above the value of the previous rank is raised to that value + 1, so
// that every cell keeps kBaseCell's strict rank order. With rank neighbours at
// least 2 apart, every entry stays within -4 .. +3 of kBaseCell (in fact
// -4 .. +1) and within 1 .. 254.
//
// kCellSeed is the printer's calibration constant: the first seed for which
// this rule gives the calibrated values of cells 1 and 2 of the first cell
// row (row 0, columns 8 .. 19: 64 48 56 111 187 203 195 140 67 51 59 115;
// row 1: 32 1 16 95 219 250 235 155 35 4 19 99).
constexpr uint32_t kCellSeed = 220643290u;

constexpr uint32_t mix(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

constexpr uint32_t cellHash(uint32_t k, uint32_t i)
{
    return mix(kCellSeed ^ mix(65u * k + i + 1u));
}

constexpr ClusterMatrix buildClusterMatrix()
{
    const uint8_t* base = kBaseCell;
    int positionOfRank[64] = {};
    int rankOfPosition[64] = {};
    for (int p = 0; p < 64; ++p) {
        int rank = 0;
        for (int q = 0; q < 64; ++q)
            if (base[q] < base[p])
                ++rank;
        rankOfPosition[p] = rank;
        positionOfRank[rank] = p;
    }

    ClusterMatrix m{};
    for (uint32_t k = 0; k < 256; ++k) {
        int cell[64] = {};
        for (int p = 0; p < 64; ++p) {
            int v = base[p];
            if (k != 0) {
                const int baseOffset = static_cast<int>(cellHash(k, 64) % 4) - 3;
                const uint32_t j = cellHash(k, static_cast<uint32_t>(rankOfPosition[p])) % 8;
                const int jitter = j == 0 ? -1 : (j == 1 ? 1 : 0);
                v += baseOffset + jitter;
                v = v < 1 ? 1 : (v > 254 ? 254 : v);
            }
            cell[p] = v;
        }
        for (int r = 1; r < 64; ++r) {
            const int prev = cell[positionOfRank[r - 1]];
            int& cur = cell[positionOfRank[r]];
            if (cur <= prev)
                cur = prev + 1;
        }
        const int cellRow = static_cast<int>(k / 16);
        const int cellCol = static_cast<int>(k % 16);
        for (int p = 0; p < 64; ++p) {
            const int row = cellRow * 8 + p / 8;
            const int col = cellCol * 8 + p % 8;
            m[row * ClusterWidth + col] = static_cast<uint8_t>(cell[p]);
        }
    }
    return m;
}

}  // namespace

constinit const ClusterMatrix FINE_TAry_128 = buildClusterMatrix();

void buildGammaTable(float gamma, uint8_t lut[256])
{
    for (int i = 0; i < 256; ++i) {
        const float x = static_cast<float>(i) / 255.0f;
        const float p = static_cast<float>(
            std::pow(static_cast<double>(x), static_cast<double>(gamma)));
        const float scaled = p * 255.0f;
        const double rounded = 0.5 + static_cast<double>(scaled);
        lut[i] = static_cast<uint8_t>(static_cast<int>(rounded) & 0xFF);
    }
}

void remapClusterMatrix(float gamma, ClusterMatrix& out)
{
    uint8_t lut[256];
    buildGammaTable(gamma, lut);
    for (int i = 0; i < kClusterEntries; ++i) {
        int t = FINE_TAry_128[i];
        t = t < 1 ? 1 : (t > 254 ? 254 : t);
        int t2 = lut[t];
        t2 = t2 < 1 ? 1 : (t2 > 254 ? 254 : t2);
        out[i] = static_cast<uint8_t>(t2);
    }
}

const ClusterMatrix& FINE_TAry_Normal_128()
{
    static const ClusterMatrix normal = [] {
        ClusterMatrix m{};
        remapClusterMatrix(1.65f, m);
        return m;
    }();
    return normal;
}

}  // namespace rvt
