// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Threshold matrices of the halftone screen and the darkness curve that
// shifts them.
#pragma once

#include <array>
#include <cstdint>

namespace rvt {

// Size of the clustered-dot matrix.
inline constexpr int ClusterWidth = 128;
inline constexpr int ClusterHeight = 128;
inline constexpr int kClusterEntries = ClusterWidth * ClusterHeight;

using ClusterMatrix = std::array<uint8_t, kClusterEntries>;

// Level 0 ("darkness off"): a 4 x 4 Bayer-like matrix, indexed [row % 4][column % 4].
extern const uint8_t orderedDither4x4[4][4];

// Gamma of each darkness level 0 .. 5 (0 = the 4 x 4 matrix, 1.0 = the
// clustered-dot matrix as stored).
inline constexpr int kDarknessLevels = 6;
extern const float darknessGamma[kDarknessLevels];

// The clustered-dot matrix, row-major (entry (r, c) at r * 128 + c), values
// 1 .. 254: 16 x 16 cells of 8 x 8 pixels sharing one rank order.
extern const ClusterMatrix FINE_TAry_128;

// FINE_TAry_128 remapped with the curve of gamma 1.65 (computed once).
const ClusterMatrix& FINE_TAry_Normal_128();

// The darkness curve: lut[i] = trunc(0.5 + 255 * (i / 255) ^ gamma), evaluated
// in the mixed single/double precision the printer's tables were made with.
void buildGammaTable(float gamma, uint8_t lut[256]);

// Every threshold t of FINE_TAry_128 mapped through the curve of `gamma`
// (t and the result clamped to 1 .. 254).
void remapClusterMatrix(float gamma, ClusterMatrix& out);

}  // namespace rvt
