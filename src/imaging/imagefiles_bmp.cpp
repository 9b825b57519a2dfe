// BMP files: our own reader (1/4/8/16/24/32 bits, BI_RGB, BITFIELDS, RLE4, RLE8) and writer.
#include "imaging/imagefiles_internal.h"

#include <cstring>
#include <string>

namespace parvula::imaging {

namespace {

    void PutU16(TBytes& out, std::uint32_t v)
    {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    }

    void PutU32(TBytes& out, std::uint32_t v)
    {
        PutU16(out, v & 0xFFFF);
        PutU16(out, v >> 16);
    }

} // namespace

TBytes EncodeBmpBytes(const TBitmap& bitmap)
{
    const std::uint32_t paletteEntries = bitmap.IsPaletted() ? (1u << bitmap.BitsPerPixel()) : 0u;
    const std::uint64_t imageSize
        = static_cast<std::uint64_t>(bitmap.Stride()) * static_cast<std::uint64_t>(bitmap.Height());
    const std::uint32_t offset = 14 + 40 + paletteEntries * 4;
    const std::uint64_t fileSize = offset + imageSize;
    if (fileSize > 0xFFFFFFFFull)
        throw EImageError("BMP: the image is too large for a BMP file");

    TBytes out;
    out.reserve(static_cast<std::size_t>(fileSize));
    out.push_back('B');
    out.push_back('M');
    PutU32(out, static_cast<std::uint32_t>(fileSize));
    PutU16(out, 0);
    PutU16(out, 0);
    PutU32(out, offset);
    PutU32(out, 40);
    PutU32(out, static_cast<std::uint32_t>(bitmap.Width()));
    PutU32(out, static_cast<std::uint32_t>(bitmap.Height())); // positive: bottom row first
    PutU16(out, 1);
    PutU16(out, static_cast<std::uint32_t>(bitmap.BitsPerPixel()));
    PutU32(out, 0); // BI_RGB
    PutU32(out, static_cast<std::uint32_t>(imageSize));
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, 0);
    for (std::uint32_t i = 0; i < paletteEntries; ++i) {
        const TRgb c = i < bitmap.Palette().size() ? bitmap.Palette()[i] : TRgb {};
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }
    for (int y = bitmap.Height() - 1; y >= 0; --y) {
        const std::uint8_t* row = bitmap.ScanLine(y);
        out.insert(out.end(), row, row + bitmap.Stride());
    }
    return out;
}

TBytes TBitmapGraphic::EncodeSelf() const { return EncodeBmpBytes(m_bitmap); }

} // namespace parvula::imaging
