// ReduceToPalette: at most 256 colours by octree quantization and error-limited dithering.
#pragma once

#include <vector>

#include "imaging/imagefiles_bitmap.h"

namespace parvula::imaging {

struct TReducedImage {
    // 8 bits per pixel, a palette of 256 entries; entries from colourCount on are black.
    TBitmap bitmap;
    // The entries that hold a colour of the picture (one per octree leaf).
    int colourCount = 0;
};

// Reduces a 24-bit bitmap; the source is not changed. Throws EImageError for another depth.
TReducedImage ReduceToPalette(const TBitmap& source);

} // namespace parvula::imaging
