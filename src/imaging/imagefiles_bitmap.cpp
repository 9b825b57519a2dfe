// TBitmap: pixel storage in BMP row layout, palette access and depth conversion.
#include "imaging/imagefiles_bitmap.h"

#include <cstring>
#include <string>

#include "imaging/imagefiles.h"
#include "imaging/imagefiles_internal.h"
#include "imaging/limits.h"

namespace parvula::imaging {

void CheckImageSize(std::int64_t width, std::int64_t height, const char* format)
{
    const std::string w = std::to_string(width);
    const std::string h = std::to_string(height);
    if (width < 0 || height < 0)
        throw EError(TCode::ImageSizeInvalid, {}, { format, w, h });
    if (width > MaxImageSide || height > MaxImageSide)
        throw EError(TCode::ImageSideTooLarge, {}, { format, w, h, std::to_string(MaxImageSide) });
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > MaxImagePixels)
        throw EError(TCode::ImagePixelsTooMany, {},
            { format, w, h, std::to_string(MaxImagePixels / (1024 * 1024)) });
}

void CheckPhotoSize(std::int64_t width, std::int64_t height, const char* format)
{
    const std::string w = std::to_string(width);
    const std::string h = std::to_string(height);
    if (width <= 0 || height <= 0)
        throw EError(TCode::PhotoSizeInvalid, {}, { format, w, h });
    if (width > MaxImageSide || height > MaxImageSide)
        throw EError(TCode::PhotoSideTooLarge, {}, { format, w, h, std::to_string(MaxImageSide) });
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > MaxImagePixels)
        throw EError(TCode::PhotoPixelsTooMany, {},
            { format, w, h, std::to_string(MaxImagePixels / (1024 * 1024)) });
}

TBitmap::TBitmap(int width, int height, int bitsPerPixel)
{
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24
        && bitsPerPixel != 32)
        throw EError(TCode::BitmapDepthUnsupported, {}, { std::to_string(bitsPerPixel) });
    CheckImageSize(width, height, "Bitmap");
    m_width = width;
    m_height = height;
    m_bitsPerPixel = bitsPerPixel;
    // 64-bit before the multiplication: 65535 * 32 still fits, but keep the habit.
    m_stride = static_cast<std::size_t>(
        ((static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bitsPerPixel) + 31) / 32)
        * 4);
    m_pixels.assign(m_stride * static_cast<std::size_t>(height), 0);
    if (IsPaletted())
        m_palette.assign(std::size_t { 1 } << bitsPerPixel, TRgb {});
}

int TBitmap::PixelIndex(int x, int y) const
{
    const std::uint8_t* row = ScanLine(y);
    switch (m_bitsPerPixel) {
    case 1:
        // Leftmost pixel in the most significant bit, as in BMP and PNG rows.
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
        return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    case 8:
        return row[x];
    default:
        return 0;
    }
}

void TBitmap::SetPixelIndex(int x, int y, int index)
{
    std::uint8_t* row = ScanLine(y);
    switch (m_bitsPerPixel) {
    case 1: {
        const int shift = 7 - (x & 7);
        row[x >> 3]
            = static_cast<std::uint8_t>((row[x >> 3] & ~(1 << shift)) | ((index & 1) << shift));
        break;
    }
    case 4:
        if (x & 1)
            row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0xF0) | (index & 0x0F));
        else
            row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0x0F) | ((index & 0x0F) << 4));
        break;
    case 8:
        row[x] = static_cast<std::uint8_t>(index);
        break;
    default:
        break;
    }
}

TRgb TBitmap::PixelColor(int x, int y) const
{
    if (IsPaletted()) {
        const std::size_t index = static_cast<std::size_t>(PixelIndex(x, y));
        // A palette shorter than the depth allows (a BMP with few colours used) reads black.
        return index < m_palette.size() ? m_palette[index] : TRgb {};
    }
    const std::uint8_t* p = ScanLine(y) + static_cast<std::size_t>(x) * (m_bitsPerPixel / 8);
    return TRgb { p[0], p[1], p[2] };
}

void TBitmap::Fill(TRgb colour)
{
    if (IsPaletted())
        return;
    const int bytes = m_bitsPerPixel / 8;
    for (int y = 0; y < m_height; ++y) {
        std::uint8_t* p = ScanLine(y);
        for (int x = 0; x < m_width; ++x, p += bytes) {
            p[0] = colour.b;
            p[1] = colour.g;
            p[2] = colour.r;
        }
    }
}

void TBitmap::ConvertTo24()
{
    if (m_bitsPerPixel == 24)
        return;
    TBitmap converted(m_width, m_height, 24);
    for (int y = 0; y < m_height; ++y) {
        std::uint8_t* dst = converted.ScanLine(y);
        for (int x = 0; x < m_width; ++x, dst += 3) {
            const TRgb c = PixelColor(x, y);
            dst[0] = c.b;
            dst[1] = c.g;
            dst[2] = c.r;
        }
    }
    converted.m_transparent = m_transparent;
    *this = std::move(converted);
}

} // namespace parvula::imaging
