// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Documents for the end-to-end jobs, and how a printed page is recognised.
//
// Every page is full bleed (A4 unless asked otherwise): a small black square in each of its four
// corners, touching both edges; a large black square in its top-left corner
// only, which tells how the page was turned; and across the middle of the page
// a black bar whose length says which page it is (20 mm per unit, centred,
// so it reads the same mirrored or flipped).
#pragma once

#include "jbig_decode.h"

#include <string>
#include <vector>

namespace rvt::e2e {

// PostScript text of a document whose pages carry these numbers (each > 0).
// Sizes in points; the default is A4 as documents have it (210 x 297 mm).
std::string testDocumentPs(const std::vector<int>& pageIds, const std::string& title,
                           double widthPt = 595.28, double heightPt = 841.89);

// Writes the document as PostScript (`path` ending .ps) or, through
// Ghostscript's ps2pdf, as PDF (ending .pdf). "" on success, else why not.
std::string writeTestDocument(const std::string& path, const std::vector<int>& pageIds,
                              double widthPt = 595.28, double heightPt = 841.89);

// The A4 PDF of these pages in `dir` (doc-1-2-3.pdf), written the first time
// it is asked for. Fails the calling test when it cannot be written.
std::string a4TestPdf(const std::string& dir, const std::vector<int>& pageIds);

// Where the large square ended up on a printed page.
enum class Corner { None, TopLeft, TopRight, BottomLeft, BottomRight, Several };
const char* cornerName(Corner c);

struct PageLook {
    int id = 0;                  // the bar's length in units; 0 when there is no bar
    bool blank = false;          // not one black pixel
    Corner mark = Corner::None;  // the large square
    bool cornersBlack = false;   // the four outermost pixels are all black
    // White rows above and below, white columns left and right of the corner
    // squares (counted up to 50): all 0 when the page arrives whole and in place.
    int top = 0, bottom = 0, left = 0, right = 0;
    std::string gaps() const;
};

PageLook lookAt(const rvtsim::Bitmap& page);

// 600 dpi pixels of a length in millimetres.
constexpr double pixelsOfMm(double mm) { return mm * 600.0 / 25.4; }

}  // namespace rvt::e2e
