// The bitmap graphic: rows of pixels with an optional palette and the transparency mark.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace parvula::imaging {

// One palette entry or one colour, in the byte order of a 24-bit pixel.
struct TRgb {
    std::uint8_t b = 0;
    std::uint8_t g = 0;
    std::uint8_t r = 0;
    friend bool operator==(const TRgb&, const TRgb&) = default;
};

// Pixel rows, top row first. Supported depths: 1, 4 and 8 bits with a palette, 24 bits
// (bytes blue, green, red) and 32 bits (blue, green, red, unused). Rows are padded to 4 bytes,
// the layout of a BMP file's rows, so a writer can copy them as they are.
class TBitmap {
public:
    TBitmap() = default;
    // Zero-filled pixels; a palette of 2^bits black entries for palette depths.
    // Throws on an unsupported depth or a size beyond the decoding limits.
    TBitmap(int width, int height, int bitsPerPixel);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int BitsPerPixel() const { return m_bitsPerPixel; }
    bool IsPaletted() const { return m_bitsPerPixel <= 8; }
    std::size_t Stride() const { return m_stride; }

    std::uint8_t* ScanLine(int y)
    {
        return m_pixels.data() + static_cast<std::size_t>(y) * m_stride;
    }
    const std::uint8_t* ScanLine(int y) const
    {
        return m_pixels.data() + static_cast<std::size_t>(y) * m_stride;
    }

    std::vector<TRgb>& Palette() { return m_palette; }
    const std::vector<TRgb>& Palette() const { return m_palette; }

    // The colour of pixel (x, y), through the palette for palette depths.
    TRgb PixelColor(int x, int y) const;
    // The palette index of pixel (x, y); only for palette depths.
    int PixelIndex(int x, int y) const;
    void SetPixelIndex(int x, int y, int index);

    // The transparency mark: off unless set. The transparent colour is the bottom-left pixel's.
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool on) { m_transparent = on; }
    TRgb TransparentColor() const { return PixelColor(0, m_height - 1); }

    // Every pixel set to one colour; 24 and 32 bits only.
    void Fill(TRgb colour);
    // Brings the bitmap to 24 bits per pixel in place, keeping every colour; the mark is kept.
    void ConvertTo24();

private:
    int m_width = 0;
    int m_height = 0;
    int m_bitsPerPixel = 24;
    std::size_t m_stride = 0;
    std::vector<std::uint8_t> m_pixels;
    std::vector<TRgb> m_palette;
    bool m_transparent = false;
};

} // namespace parvula::imaging
