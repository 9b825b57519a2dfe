// Colour profiles: whether a picture's colour description means sRGB, and the conversion of its
// pixels to sRGB (relative colorimetric) when it does not.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "imaging/imagefiles.h"
#include "imaging/imagefiles_bitmap.h"
#include "imaging/imagefiles_internal.h"

namespace parvula::imaging {

// True when the description says nothing, names sRGB (an sRGB chunk, H.273 BT.709 primaries
// with the sRGB transfer), or carries a profile whose conversion to sRGB moves no value by more
// than one level: such pictures are never converted, so their bytes stay exactly as they were.
bool IsSrgb(const TColourDescription& colours);

// Converts the pixels of a 24-bit bitmap in place from the description's colours to sRGB.
// Returns false, with the bitmap untouched, when there is nothing to convert (IsSrgb), the bitmap
// has another depth, or the description cannot be used: a damaged profile, one of another colour
// space than RGB or grey, H.273 codes without a known meaning. The picture then stays as stored;
// this never throws for a profile's sake.
bool ConvertToSrgb(TBitmap& bitmap, const TColourDescription& colours);

// The conversion of CMYK rows through a CMYK profile, for a decoder that has the CMYK samples.
class TCmykConversion {
public:
    virtual ~TCmykConversion() = default;
    // width pixels of four bytes each (as the decoder delivers them) to blue, green, red. Safe
    // to call from several threads at once; never throws.
    virtual void ConvertRow(
        const std::uint8_t* cmyk, std::uint8_t* bgr, int width) const noexcept = 0;
};

// The conversion for an ICC profile of the CMYK colour space, or nullptr when the profile is
// damaged or of another space. inverted: 0 means full ink (as Adobe writes CMYK JPEGs), else 0
// means no ink. Conversions are kept per profile, so a batch of one camera's photos builds one.
std::shared_ptr<const TCmykConversion> CmykConversion(
    std::span<const std::uint8_t> icc, bool inverted);

// The colour description of a picture's graphic; empty for an empty picture. Read it before
// fitting or turning replaces the graphic by a bitmap that says nothing.
TColourDescription PictureColours(const TPicture& picture);

} // namespace parvula::imaging
