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

// The background value that takes the colour of the picture's top-left pixel.
inline constexpr std::int32_t BackgroundFromTopLeft = -1;

struct TTintOptions {
    std::int32_t colour = 0; // a TColor
    int tolerance = 0; // inclusive, on each of red, green and blue
    std::int32_t background = BackgroundFromTopLeft; // a TColor, or BackgroundFromTopLeft
    bool greyFirst = false; // the grey step of ToGrey before the background is taken
};

// Turns the picture into a 24-bit two-colour bitmap: pixels within tolerance of the background
// become exactly the background colour, all others exactly colour. BackgroundFromTopLeft takes
// the top-left pixel after the optional grey step.
void MonoTint(TPicture& picture, const TTintOptions& options);

} // namespace parvula::imaging
