#include "threshold_matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace rvt {
namespace {

uint8_t at(const ClusterMatrix& m, int row, int col) { return m[row * ClusterWidth + col]; }

TEST(ImageMatrix, TopLeftCellIsTheDotShape)
{
    const uint8_t expected[8][8] = {
        {67, 51, 59, 114, 190, 206, 198, 143},  {35, 3, 19, 98, 222, 254, 238, 159},
        {43, 11, 27, 106, 214, 246, 230, 151},  {91, 75, 83, 122, 166, 182, 174, 135},
        {185, 200, 192, 137, 69, 54, 62, 117},  {216, 248, 232, 153, 38, 6, 22, 101},
        {208, 240, 224, 145, 46, 14, 30, 109},  {161, 177, 169, 129, 93, 77, 85, 125},
    };
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            EXPECT_EQ(at(FINE_TAry_128, r, c), expected[r][c]) << r << "," << c;
}

TEST(ImageMatrix, FirstRowsContinueWithTheCalibratedCells)
{
    const uint8_t row0[12] = {64, 48, 56, 111, 187, 203, 195, 140, 67, 51, 59, 115};
    const uint8_t row1[12] = {32, 1, 16, 95, 219, 250, 235, 155, 35, 4, 19, 99};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(at(FINE_TAry_128, 0, 8 + i), row0[i]) << "column " << 8 + i;
        EXPECT_EQ(at(FINE_TAry_128, 1, 8 + i), row1[i]) << "column " << 8 + i;
    }
}

TEST(ImageMatrix, EveryCellKeepsTheRankOrderAndStaysCloseToTheFirst)
{
    // Positions of the top-left cell, from the lowest threshold up.
    int order[64];
    for (int p = 0; p < 64; ++p)
        order[p] = p;
    std::sort(order, order + 64, [](int a, int b) {
        return at(FINE_TAry_128, a / 8, a % 8) < at(FINE_TAry_128, b / 8, b % 8);
    });
    std::set<int> distinct;
    for (int p = 0; p < 64; ++p)
        distinct.insert(at(FINE_TAry_128, p / 8, p % 8));
    ASSERT_EQ(distinct.size(), 64u);

    for (int cellRow = 0; cellRow < 16; ++cellRow) {
        for (int cellCol = 0; cellCol < 16; ++cellCol) {
            for (int i = 0; i < 64; ++i) {
                const int p = order[i];
                const int v = at(FINE_TAry_128, cellRow * 8 + p / 8, cellCol * 8 + p % 8);
                const int base = at(FINE_TAry_128, p / 8, p % 8);
                ASSERT_GE(v, 1);
                ASSERT_LE(v, 254);
                ASSERT_GE(v - base, -4) << "cell " << cellRow << "," << cellCol;
                ASSERT_LE(v - base, 3) << "cell " << cellRow << "," << cellCol;
                if (i > 0) {
                    const int q = order[i - 1];
                    const int prev = at(FINE_TAry_128, cellRow * 8 + q / 8, cellCol * 8 + q % 8);
                    ASSERT_LT(prev, v) << "cell " << cellRow << "," << cellCol << " rank " << i;
                }
            }
        }
    }
}

TEST(ImageMatrix, CellsDiffer)
{
    // Neighbouring cells switch on at slightly different grays.
    std::set<std::vector<uint8_t>> cells;
    for (int k = 0; k < 256; ++k) {
        std::vector<uint8_t> cell;
        for (int p = 0; p < 64; ++p)
            cell.push_back(at(FINE_TAry_128, (k / 16) * 8 + p / 8, (k % 16) * 8 + p % 8));
        cells.insert(cell);
    }
    EXPECT_GT(cells.size(), 200u);
}

TEST(ImageMatrix, NormalMatrixIsTheGamma165Curve)
{
    const ClusterMatrix& normal = FINE_TAry_Normal_128();
    const uint8_t row0[8] = {28, 18, 23, 68, 157, 179, 168, 98};
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(normal[c], row0[c]) << "column " << c;
    EXPECT_EQ(*std::min_element(normal.begin(), normal.end()), 1);
    EXPECT_LE(*std::max_element(normal.begin(), normal.end()), 253);
}

TEST(ImageMatrix, GammaOneLeavesTheMatrixUnchanged)
{
    ClusterMatrix remapped{};
    remapClusterMatrix(1.0f, remapped);
    EXPECT_EQ(remapped, FINE_TAry_128);
}

struct LutCase {
    float gamma;
    int index;
    int value;  // trunc(0.5 + 255 * (index / 255) ^ gamma), worked by hand
};

class ImageGammaTable : public ::testing::TestWithParam<LutCase> {};

TEST_P(ImageGammaTable, GivesTheCurveValue)
{
    const LutCase c = GetParam();
    uint8_t lut[256];
    buildGammaTable(c.gamma, lut);
    EXPECT_EQ(lut[c.index], c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Curve, ImageGammaTable,
    ::testing::Values(LutCase{2.0f, 128, 64},   // 64.25
                      LutCase{2.0f, 255, 255}, LutCase{4.0f, 0, 0},
                      LutCase{4.0f, 128, 16},   // 16.19
                      LutCase{4.0f, 200, 96},   // 96.49
                      LutCase{1.65f, 67, 28},   // 28.10
                      LutCase{1.35f, 128, 101}, // 100.56
                      LutCase{1.0f, 77, 77}));

TEST(ImageMatrix, DitherMatrixHoldsEveryStepOnce)
{
    std::set<int> values;
    for (const auto& row : orderedDither4x4)
        for (uint8_t v : row)
            values.insert(v);
    ASSERT_EQ(values.size(), 16u);
    int k = 0;
    for (int v : values)
        EXPECT_EQ(v, 8 + 16 * k++);
    EXPECT_EQ(orderedDither4x4[1][2], 248);
    EXPECT_EQ(orderedDither4x4[3][0], 8);
}

}  // namespace
}  // namespace rvt
