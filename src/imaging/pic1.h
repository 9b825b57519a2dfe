// The mono-colour tint, its grey step and the system colours behind negative colour values.
#pragma once

#include <cstdint>

#include "imaging/imagefiles.h"
#include "imaging/imagefiles_bitmap.h"

namespace parvula::imaging {

// The colour of a system colour index (the standard Windows default table), as a TColor: red in
// the low byte, then green, then blue. Indexes without a colour give black.
std::int32_t SystemColor(int index);

// A TColor value as red, green and blue: a value below 0 names the system colour of its low
// byte; of every other value only the three low bytes count.
TRgb ResolveColor(std::int32_t colour);

// Turns the picture into a 24-bit grey bitmap: g = (77 R + 151 G + 28 B) >> 8 on every channel.
// An empty picture stays empty.
void ToGrey(TPicture& picture);

// Turns the picture into a 24-bit two-colour bitmap: pixels within tolerance (inclusive, on each
// of red, green and blue) of the background become exactly the background colour, all others
// exactly colour. background -1 takes the top-left pixel after the optional grey step.
void MonoTint(
    TPicture& picture, std::int32_t colour, int tolerance, std::int32_t background, bool greyFirst);

} // namespace parvula::imaging
