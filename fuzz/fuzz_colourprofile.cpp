// libFuzzer target: arbitrary bytes as an embedded ICC profile, as a JPEG, PNG, WebP or TIFF
// file hands it over: the sRGB test, the conversion of a small picture, and the CMYK conversion
// of a row both ways of inversion. A profile that cannot be used must leave the picture as it is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "imaging/colourprofile.h"

using namespace parvula::imaging;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TColourDescription colours;
    colours.icc.assign(data, data + size);
    (void)IsSrgb(colours);
    TBitmap bitmap(17, 3, 24);
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width() * 3; ++x)
            bitmap.ScanLine(y)[x] = static_cast<std::uint8_t>(x * 15 + y * 80);
    const TBitmap before = bitmap;
    if (!ConvertToSrgb(bitmap, colours)) {
        for (int y = 0; y < bitmap.Height(); ++y)
            if (std::memcmp(bitmap.ScanLine(y), before.ScanLine(y), bitmap.Width() * 3u) != 0)
                std::abort();
    }
    std::uint8_t cmyk[4 * 9];
    for (std::size_t i = 0; i < sizeof cmyk; ++i)
        cmyk[i] = static_cast<std::uint8_t>(i * 29);
    std::uint8_t bgr[3 * 9];
    for (const bool inverted : { false, true })
        if (const auto conversion = CmykConversion(std::span(data, size), inverted))
            conversion->ConvertRow(cmyk, bgr, 9);
    return 0;
}
