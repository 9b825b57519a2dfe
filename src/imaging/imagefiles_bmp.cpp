// BMP files: our own reader (1/4/8/16/24/32 bits, BI_RGB, BITFIELDS, RLE4, RLE8) and writer.
#include "imaging/imagefiles_internal.h"

#include <algorithm>
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
        throw EError(TCode::BmpTooLargeToWrite);

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

namespace {

    std::uint32_t U16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

    std::uint32_t U32(const std::uint8_t* p)
    {
        return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
            | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }

    [[noreturn]] void Fail(TCode code, std::vector<std::string> details = {})
    {
        throw EError(code, {}, std::move(details));
    }

    // One channel of a BITFIELDS pixel: the masked bits scaled to 0..255, so 5-bit and 10-bit
    // channels and masks with gaps all come out in full range.
    struct TChannel {
        std::uint32_t mask = 0;
        int shift = 0;
        std::uint32_t max = 0;

        explicit TChannel(std::uint32_t m)
            : mask(m)
        {
            if (mask == 0)
                return;
            while (((mask >> shift) & 1) == 0)
                ++shift;
            max = mask >> shift;
        }
        std::uint8_t Get(std::uint32_t v) const
        {
            if (max == 0)
                return 0;
            const std::uint64_t value = (v & mask) >> shift;
            return static_cast<std::uint8_t>((value * 255 + max / 2) / max);
        }
    };

    enum : std::uint32_t {
        BiRgb = 0,
        BiRle8 = 1,
        BiRle4 = 2,
        BiBitfields = 3,
        BiAlphaBitfields = 6
    };

    // RLE4 and RLE8: runs and absolute blocks, with end-of-line, end-of-bitmap and delta escapes.
    // The rows are bottom-up; pixels past the right edge are dropped, skipped pixels stay index 0.
    void DecodeRle(const std::uint8_t* p, std::size_t n, TBitmap& bitmap, bool four)
    {
        const std::int64_t width = bitmap.Width();
        const std::int64_t height = bitmap.Height();
        std::int64_t x = 0;
        std::int64_t y = 0; // counted from the bottom row
        std::size_t i = 0;
        auto put = [&](int index) {
            if (x < width && y < height)
                bitmap.SetPixelIndex(static_cast<int>(x), static_cast<int>(height - 1 - y), index);
            ++x;
        };
        while (y < height) {
            if (n - i < 2)
                Fail(TCode::BmpRleTruncated);
            const std::uint8_t count = p[i];
            const std::uint8_t value = p[i + 1];
            i += 2;
            if (count > 0) {
                for (int k = 0; k < count && x < width; ++k)
                    put(four ? ((k & 1) ? value & 0x0F : value >> 4) : value);
                continue;
            }
            if (value == 0) {
                x = 0;
                ++y;
            } else if (value == 1) {
                return;
            } else if (value == 2) {
                if (n - i < 2)
                    Fail(TCode::BmpRleTruncated);
                x += p[i];
                y += p[i + 1];
                i += 2;
            } else {
                const std::size_t bytes = four ? (value + 1u) / 2 : value;
                const std::size_t padded = (bytes + 1) & ~std::size_t { 1 };
                if (n - i < bytes)
                    Fail(TCode::BmpRleTruncated);
                for (int k = 0; k < value; ++k) {
                    const std::uint8_t b = p[i + (four ? k / 2 : k)];
                    put(four ? ((k & 1) ? b & 0x0F : b >> 4) : b);
                }
                i += std::min(padded, n - i);
            }
        }
    }

} // namespace

TBitmap DecodeDib(const std::uint8_t* data, std::size_t size, std::size_t pixelOffset, bool icon,
    std::size_t* pixelsEnd)
{
    if (size < 12)
        Fail(TCode::BmpHeaderTruncated);
    const std::uint32_t headerSize = U32(data);
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t bits = 0;
    std::uint32_t compression = BiRgb;
    std::uint32_t colorsUsed = 0;
    std::uint32_t masks[4] = { 0, 0, 0, 0 };
    std::size_t paletteEntrySize = 4;
    std::size_t afterHeader = headerSize;
    if (headerSize == 12) {
        // The old core header: 16-bit sizes, no compression, 3-byte palette entries.
        width = U16(data + 4);
        height = U16(data + 6);
        bits = U16(data + 10);
        paletteEntrySize = 3;
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64
        || headerSize == 108 || headerSize == 124) {
        if (size < headerSize)
            Fail(TCode::BmpHeaderTruncated);
        width = static_cast<std::int32_t>(U32(data + 4));
        height = static_cast<std::int32_t>(U32(data + 8));
        bits = U16(data + 14);
        compression = U32(data + 16);
        colorsUsed = U32(data + 32);
        if (compression == BiBitfields || compression == BiAlphaBitfields) {
            const int count = compression == BiAlphaBitfields ? 4 : 3;
            if (headerSize >= 52) {
                // Version 4 and 5 headers (and the 52/56-byte variants) hold the masks inside.
                for (int k = 0; k < count && 40 + 4 * k + 4 <= static_cast<int>(headerSize); ++k)
                    masks[k] = U32(data + 40 + 4 * k);
            } else {
                if (size < headerSize + 4u * count)
                    Fail(TCode::BmpMasksMissing);
                for (int k = 0; k < count; ++k)
                    masks[k] = U32(data + headerSize + 4 * k);
                afterHeader += 4u * count;
            }
        }
    } else {
        Fail(TCode::BmpHeaderSize, { std::to_string(headerSize) });
    }

    const bool topDown = height < 0;
    if (topDown)
        height = -height;
    if (icon)
        height /= 2;
    if (width <= 0 || height <= 0)
        Fail(TCode::BmpSizeInvalid, { std::to_string(width), std::to_string(height) });
    CheckImageSize(width, height, "BMP");

    const bool rle = compression == BiRle8 || compression == BiRle4;
    if (compression == BiRle8 && bits != 8)
        Fail(TCode::BmpRle8Depth);
    if (compression == BiRle4 && bits != 4)
        Fail(TCode::BmpRle4Depth);
    if (rle && topDown)
        Fail(TCode::BmpRleTopDown);
    const bool fields = compression == BiBitfields || compression == BiAlphaBitfields;
    if (fields && bits != 16 && bits != 32)
        Fail(TCode::BmpMasksDepth);
    if (compression != BiRgb && !rle && !fields)
        Fail(TCode::BmpCompression, { std::to_string(compression) });
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        Fail(TCode::BmpDepth, { std::to_string(bits) });

    if (bits <= 8 && colorsUsed > (1u << bits))
        Fail(TCode::BmpPalette, { std::to_string(colorsUsed), std::to_string(bits) });
    const std::size_t paletteStart = afterHeader;
    if (pixelOffset == 0) {
        std::uint64_t entries = 0;
        if (bits <= 8)
            entries = (colorsUsed == 0 || colorsUsed > (1u << bits)) ? (1u << bits) : colorsUsed;
        pixelOffset = paletteStart + entries * paletteEntrySize;
    }
    if (pixelOffset < paletteStart || pixelOffset > size)
        Fail(TCode::BmpDataOutside);

    // Uncompressed rows must all be present: checked before the bitmap takes its memory, so a
    // header of a few bytes cannot make us reserve hundreds of megabytes.
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
    const std::uint64_t needed = stride * static_cast<std::uint64_t>(height);
    if (!rle && needed > size - pixelOffset)
        Fail(TCode::BmpDataShort, { std::to_string(size - pixelOffset), std::to_string(needed) });

    const int depth = bits <= 8 ? static_cast<int>(bits) : (bits == 32 && !fields ? 32 : 24);
    TBitmap bitmap(static_cast<int>(width), static_cast<int>(height), depth);
    if (bits <= 8) {
        // The palette never reaches past the pixel data; entries the file lacks stay black.
        const std::size_t maxEntries = std::size_t { 1 } << bits;
        std::size_t entries
            = (colorsUsed == 0 || colorsUsed > maxEntries) ? maxEntries : colorsUsed;
        entries = std::min(entries, (pixelOffset - paletteStart) / paletteEntrySize);
        for (std::size_t k = 0; k < entries; ++k) {
            const std::uint8_t* e = data + paletteStart + k * paletteEntrySize;
            bitmap.Palette()[k] = TRgb { e[0], e[1], e[2] };
        }
        // The palette is as long as the file's: a GIF written from it gets a table of that
        // size, and its transparent colour is never found among entries the file never had.
        if (entries > 0)
            bitmap.Palette().resize(entries);
    }

    const std::uint8_t* pixels = data + pixelOffset;
    const std::size_t available = size - pixelOffset;
    if (rle) {
        DecodeRle(pixels, available, bitmap, compression == BiRle4);
        if (pixelsEnd)
            *pixelsEnd = size;
        return bitmap;
    }

    if (pixelsEnd)
        *pixelsEnd = pixelOffset + static_cast<std::size_t>(needed);

    if (!fields && bits == 16) {
        // 16 bits without masks: 5 bits each of red, green and blue.
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    }
    const bool masked = fields || bits == 16;
    const TChannel red(masks[0]), green(masks[1]), blue(masks[2]);
    for (std::int64_t row = 0; row < height; ++row) {
        const std::uint8_t* src = pixels + static_cast<std::size_t>(row * stride);
        const int y = static_cast<int>(topDown ? row : height - 1 - row);
        std::uint8_t* dst = bitmap.ScanLine(y);
        if (!masked) {
            std::memcpy(dst, src, static_cast<std::size_t>(stride));
            continue;
        }
        for (std::int64_t x = 0; x < width; ++x, dst += 3) {
            const std::uint32_t v = bits == 16 ? U16(src + 2 * x) : U32(src + 4 * x);
            dst[0] = blue.Get(v);
            dst[1] = green.Get(v);
            dst[2] = red.Get(v);
        }
    }
    return bitmap;
}

TBitmap DecodeBmp(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 14 + 12 || bytes[0] != 'B' || bytes[1] != 'M')
        Fail(TCode::BmpNotBmp);
    const std::uint32_t offset = U32(bytes.data() + 10);
    if (offset < 14 + 12 || offset > bytes.size())
        Fail(TCode::BmpDataOutside);
    return DecodeDib(bytes.data() + 14, bytes.size() - 14, offset - 14, false, nullptr);
}

TBytes TBitmapGraphic::EncodeSelf() const { return EncodeBmpBytes(m_bitmap); }

} // namespace parvula::imaging
