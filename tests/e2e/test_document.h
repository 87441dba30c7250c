// Documents for the end-to-end jobs, and how a printed page is recognised.
//
// Every page is A4 and full bleed: a small black square in each of its four
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
std::string testDocumentPs(const std::vector<int>& pageIds, const std::string& title);

// Writes the document as PostScript (`path` ending .ps) or, through
// Ghostscript's ps2pdf, as PDF (ending .pdf). "" on success, else why not.
std::string writeTestDocument(const std::string& path, const std::vector<int>& pageIds);

// Where the large square ended up on a printed page.
enum class Corner { None, TopLeft, TopRight, BottomLeft, BottomRight, Several };
const char* cornerName(Corner c);

struct PageLook {
    int id = 0;                  // the bar's length in units; 0 when there is no bar
    bool blank = false;          // not one black pixel
    Corner mark = Corner::None;  // the large square
    bool cornersBlack = false;   // the four outermost pixels are all black
};

PageLook lookAt(const rvtsim::Bitmap& page);

// 600 dpi pixels of a length in millimetres.
constexpr double pixelsOfMm(double mm) { return mm * 600.0 / 25.4; }

}  // namespace rvt::e2e
