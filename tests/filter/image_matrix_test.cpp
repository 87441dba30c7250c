// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "threshold_matrix.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace rvt {
namespace {

int at(int row, int col) { return FINE_TAry_128[row * ClusterWidth + col]; }

TEST(ImageMatrix, HoldsTheCalibratedValues)
{
    const int topLeft[8][8] = {
        {67, 51, 59, 114, 190, 206, 198, 143}, {35, 3, 19, 98, 222, 254, 238, 159},
        {43, 11, 27, 106, 214, 246, 230, 151}, {91, 75, 83, 122, 166, 182, 174, 135},
        {185, 200, 192, 137, 69, 54, 62, 117}, {216, 248, 232, 153, 38, 6, 22, 101},
        {208, 240, 224, 145, 46, 14, 30, 109}, {161, 177, 169, 129, 93, 77, 85, 125},
    };
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            EXPECT_EQ(at(r, c), topLeft[r][c]) << r << "," << c;
    // Columns 8 to 19 of rows 0 and 1.
    const int row0[12] = {64, 48, 56, 111, 187, 203, 195, 140, 67, 51, 59, 115};
    const int row1[12] = {32, 1, 16, 95, 219, 250, 235, 155, 35, 4, 19, 99};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(at(0, 8 + i), row0[i]) << "column " << 8 + i;
        EXPECT_EQ(at(1, 8 + i), row1[i]) << "column " << 8 + i;
    }
    const int normal0[8] = {28, 18, 23, 68, 157, 179, 168, 98};
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(FINE_TAry_Normal_128()[c], normal0[c]) << "column " << c;
}

TEST(ImageMatrix, EveryCellKeepsTheRankOrderAndStaysCloseToTheFirst)
{
    int order[64];  // positions of the top-left cell, lowest threshold first
    for (int p = 0; p < 64; ++p)
        order[p] = p;
    std::sort(order, order + 64, [](int a, int b) { return at(a / 8, a % 8) < at(b / 8, b % 8); });
    int distinctCells = 0;
    for (int cell = 0; cell < 256; ++cell) {
        const int r0 = cell / 16 * 8, c0 = cell % 16 * 8;
        bool differs = false;
        for (int i = 0; i < 64; ++i) {
            const int p = order[i];
            const int v = at(r0 + p / 8, c0 + p % 8), base = at(p / 8, p % 8);
            ASSERT_TRUE(v >= 1 && v <= 254) << v;
            ASSERT_TRUE(v - base >= -4 && v - base <= 3)
                << "cell " << cell << " offset " << v - base;
            if (i > 0) {
                ASSERT_LT(at(r0 + order[i - 1] / 8, c0 + order[i - 1] % 8), v)
                    << "cell " << cell << " rank " << i;
            }
            differs = differs || v != base;
        }
        distinctCells += differs;
    }
    EXPECT_GT(distinctCells, 200);  // neighbouring cells switch on at different grays
}

TEST(ImageMatrix, GammaCurve)
{
    ClusterMatrix remapped{};
    remapClusterMatrix(1.0f, remapped);
    EXPECT_EQ(remapped, FINE_TAry_128);
    const auto& normal = FINE_TAry_Normal_128();
    EXPECT_EQ(*std::min_element(normal.begin(), normal.end()), 1);
    EXPECT_LE(*std::max_element(normal.begin(), normal.end()), 253);

    // trunc(0.5 + 255 * (i / 255) ^ gamma), worked by hand.
    const struct {
        float gamma;
        int index, value;
    } cases[] = {{2.0f, 128, 64}, {2.0f, 255, 255}, {4.0f, 0, 0},      {4.0f, 128, 16},
                 {4.0f, 200, 96}, {1.65f, 67, 28},  {1.35f, 128, 101}, {1.0f, 77, 77}};
    for (const auto& c : cases) {
        uint8_t lut[256];
        buildGammaTable(c.gamma, lut);
        EXPECT_EQ(lut[c.index], c.value) << "gamma " << c.gamma << " at " << c.index;
    }
}

}  // namespace
}  // namespace rvt
