// MonoTint, ToGrey and the system colour table for colour values below 0.
#include "imaging/pic1.h"

#include <array>
#include <cstddef>

namespace parvula::imaging {

namespace {

    // The standard Windows default colours by system colour index, as TColor (0x00BBGGRR).
    // Indexes 0..30; index 25 has no colour, as on Windows, and reads black like every index
    // beyond the table.
    constexpr std::array<std::int32_t, 31> SystemColors { {
        0xC8C8C8, // 0 scroll bar
        0x000000, // 1 desktop
        0xD1B499, // 2 active caption
        0xDBCDBF, // 3 inactive caption
        0xF0F0F0, // 4 menu
        0xFFFFFF, // 5 window
        0x646464, // 6 window frame
        0x000000, // 7 menu text
        0x000000, // 8 window text
        0x000000, // 9 caption text
        0xB4B4B4, // 10 active border
        0xFCF7F4, // 11 inactive border
        0xABABAB, // 12 application workspace
        0xD77800, // 13 highlight
        0xFFFFFF, // 14 highlight text
        0xF0F0F0, // 15 button face
        0xA0A0A0, // 16 button shadow
        0x6D6D6D, // 17 grey text
        0x000000, // 18 button text
        0x000000, // 19 inactive caption text
        0xFFFFFF, // 20 button highlight
        0x696969, // 21 3D dark shadow
        0xE3E3E3, // 22 3D light
        0x000000, // 23 tooltip text
        0xE1FFFF, // 24 tooltip background
        0x000000, // 25 (none)
        0xCC6600, // 26 hot-tracked item
        0xEAD1B9, // 27 active caption gradient
        0xF2E4D7, // 28 inactive caption gradient
        0xFF9933, // 29 menu highlight
        0xF0F0F0, // 30 menu bar
    } };

    // The picture as a 24-bit bitmap by the conversion to a bitmap (a bitmap keeps its pixels,
    // any other graphic is drawn onto white). Returns the bitmap inside the picture.
    TBitmap& MakeBitmap24(TPicture& picture)
    {
        ConvertPictureToBitmap(picture);
        TBitmap* bitmap = picture.Bitmap();
        if (bitmap == nullptr)
            throw EError(TCode::TintNoBitmap);
        bitmap->ConvertTo24();
        return *bitmap;
    }

    void GreyPixels(TBitmap& bitmap)
    {
        for (int y = 0; y < bitmap.Height(); ++y) {
            std::uint8_t* p = bitmap.ScanLine(y);
            for (int x = 0; x < bitmap.Width(); ++x, p += 3) {
                // Weights sum to 256: white stays 255, black stays 0; the fraction is dropped.
                const auto g = static_cast<std::uint8_t>((77 * p[2] + 151 * p[1] + 28 * p[0]) >> 8);
                p[0] = p[1] = p[2] = g;
            }
        }
    }

} // namespace

std::int32_t SystemColor(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= SystemColors.size())
        return 0;
    return SystemColors[static_cast<std::size_t>(index)];
}

TRgb ResolveColor(std::int32_t colour)
{
    if (colour < 0)
        colour = SystemColor(colour & 0xFF);
    const auto value = static_cast<std::uint32_t>(colour);
    return TRgb { static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value) };
}

void ToGrey(TPicture& picture)
{
    if (picture.Empty())
        return;
    GreyPixels(MakeBitmap24(picture));
}

void MonoTint(TPicture& picture, const TTintOptions& options)
{
    if (picture.Empty())
        return;
    TBitmap& bitmap = MakeBitmap24(picture);
    if (options.greyFirst)
        GreyPixels(bitmap);
    if (bitmap.Width() < 1 || bitmap.Height() < 1)
        return; // no top-left pixel and nothing to tint

    const TRgb key = options.background == BackgroundFromTopLeft ? bitmap.PixelColor(0, 0)
                                                                 : ResolveColor(options.background);
    const TRgb ink = ResolveColor(options.colour);
    const int tolerance = options.tolerance;
    // In 64 bits: the bounds key -/+ tolerance may lie far outside 0..255 for any tolerance.
    const auto within = [tolerance](std::uint8_t value, std::uint8_t keyValue) {
        const std::int64_t difference = static_cast<std::int64_t>(value) - keyValue;
        return -static_cast<std::int64_t>(tolerance) <= difference
            && difference <= static_cast<std::int64_t>(tolerance);
    };
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::uint8_t* p = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x, p += 3) {
            const bool isBackground
                = within(p[2], key.r) && within(p[1], key.g) && within(p[0], key.b);
            const TRgb& c = isBackground ? key : ink;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    }
}

} // namespace parvula::imaging
