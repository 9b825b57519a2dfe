// Icons: our own reader of the directory and its BMP or PNG images, one image chosen for drawing.
#include "imaging/imagefiles_internal.h"

#include <cstring>
#include <cstdlib>
#include <string>

#include "imaging/limits.h"

namespace parvula::imaging {

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

    class TIconGraphic final : public TGraphic {
    public:
        TSharedBytes m_bytes;
        // The selected image: a PNG graphic, or colour pixels with an AND mask (1 = not drawn).
        std::unique_ptr<TGraphic> m_png;
        TBitmap m_colour;
        std::vector<std::uint8_t> m_mask; // one byte per pixel, rows top to bottom
        bool m_alpha = false; // a 32-bit image whose fourth bytes are alpha

        TGraphicKind Kind() const override { return TGraphicKind::Icon; }
        int Width() const override { return m_png ? m_png->Width() : m_colour.Width(); }
        int Height() const override { return m_png ? m_png->Height() : m_colour.Height(); }
        TBytes EncodeSelf() const override
        {
            return TBytes(m_bytes.view.begin(), m_bytes.view.end());
        }

        void DrawOnto(TBitmap& target) const override
        {
            if (m_png) {
                m_png->DrawOnto(target);
                return;
            }
            const int w = std::min(m_colour.Width(), target.Width());
            const int h = std::min(m_colour.Height(), target.Height());
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const TRgb c = m_colour.PixelColor(x, y);
                    int alpha = 255;
                    if (m_alpha)
                        alpha = m_colour.ScanLine(y)[4 * x + 3];
                    else if (m_mask[static_cast<std::size_t>(y) * m_colour.Width() + x])
                        alpha = 0;
                    BlendPixel(PixelAt(target, x, y), c.r, c.g, c.b, alpha);
                }
            }
        }
    };

    void DecodeIconDib(TIconGraphic& icon, const std::uint8_t* data, std::size_t size)
    {
        std::size_t pixelsEnd = 0;
        icon.m_colour = DecodeDib(data, size, 0, true, &pixelsEnd);
        const int width = icon.m_colour.Width();
        const int height = icon.m_colour.Height();
        icon.m_mask.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
        if (icon.m_colour.BitsPerPixel() == 32) {
            for (int y = 0; y < height && !icon.m_alpha; ++y)
                for (int x = 0; x < width; ++x)
                    if (icon.m_colour.ScanLine(y)[4 * x + 3] != 0) {
                        icon.m_alpha = true;
                        break;
                    }
        }
        // The AND mask: 1 bit per pixel, bottom row first, rows padded to 4 bytes. An image
        // whose mask is cut off is drawn opaque rather than read past its bytes.
        const std::size_t stride = (static_cast<std::size_t>(width) + 31) / 32 * 4;
        if (size - pixelsEnd < stride * static_cast<std::size_t>(height))
            return;
        const std::uint8_t* mask = data + pixelsEnd;
        for (int row = 0; row < height; ++row) {
            const std::uint8_t* bits = mask + stride * static_cast<std::size_t>(row);
            const int y = height - 1 - row;
            for (int x = 0; x < width; ++x)
                icon.m_mask[static_cast<std::size_t>(y) * width + x]
                    = (bits[x >> 3] >> (7 - (x & 7))) & 1;
        }
    }

} // namespace

std::unique_ptr<TGraphic> ReadIco(TBytes bytes)
{
    return ReadIco(TSharedBytes::Own(std::move(bytes)));
}

std::unique_ptr<TGraphic> ReadIco(TSharedBytes shared)
{
    const std::span<const std::uint8_t> bytes = shared.view;
    if (bytes.size() < 6 || U16(bytes.data()) != 0
        || (U16(bytes.data() + 2) != 1 && U16(bytes.data() + 2) != 2))
        Fail(TCode::IcoNotIcon);
    const std::uint32_t count = U16(bytes.data() + 4);
    if (count == 0)
        Fail(TCode::IcoNoImage);
    if (count > static_cast<std::uint32_t>(MaxIconEntries))
        Fail(TCode::IcoEntriesTooMany, { std::to_string(count), std::to_string(MaxIconEntries) });
    if (bytes.size() < 6 + 16ull * count)
        Fail(TCode::IcoDirectoryShort);

    // The image closest to 32 x 32; among equally close ones the one with the most colours
    // (this display shows true colour), then the first.
    int best = -1;
    long bestDistance = 0;
    int bestBits = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = bytes.data() + 6 + 16 * i;
        const std::uint64_t size = U32(entry + 8);
        const std::uint64_t offset = U32(entry + 12);
        if (size == 0 || offset + size > bytes.size())
            continue;
        const int width = entry[0] == 0 ? 256 : entry[0];
        const int height = entry[1] == 0 ? 256 : entry[1];
        int bits = static_cast<int>(U16(entry + 6));
        if (bits == 0)
            bits = entry[2] == 0 ? 8 : (entry[2] <= 2 ? 1 : (entry[2] <= 16 ? 4 : 8));
        const long distance = std::labs(width - 32L) + std::labs(height - 32L);
        if (best < 0 || distance < bestDistance || (distance == bestDistance && bits > bestBits)) {
            best = static_cast<int>(i);
            bestDistance = distance;
            bestBits = bits;
        }
    }
    if (best < 0)
        Fail(TCode::IcoNoCompleteImage);

    const std::uint8_t* entry = bytes.data() + 6 + 16 * best;
    const std::size_t size = U32(entry + 8);
    const std::size_t offset = U32(entry + 12);
    auto icon = std::make_unique<TIconGraphic>();
    static constexpr std::uint8_t PngSignature[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    if (size >= 8 && std::memcmp(bytes.data() + offset, PngSignature, 8) == 0)
        icon->m_png = ReadPng(bytes.subspan(offset, size));
    else
        DecodeIconDib(*icon, bytes.data() + offset, size);
    icon->m_bytes = std::move(shared);
    return icon;
}

} // namespace parvula::imaging
