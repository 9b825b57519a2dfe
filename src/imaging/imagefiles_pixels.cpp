// Drawing decoded photo pixels on white, whole or row by row.
#include "imaging/imagefiles_pixels.h"

#include <algorithm>
#include <cstring>

namespace parvula::imaging {

TPixelGraphic::TPixelGraphic(TGraphicKind kind, int width, int height, int channels,
    TAlphaKind alpha, TSharedBytes file, TSampleOrder order)
    : m_kind(kind)
    , m_width(width)
    , m_height(height)
    , m_channels(channels)
    , m_alpha(channels == 4 ? alpha : TAlphaKind::None)
    , m_order(order)
    , m_file(std::move(file))
    , m_pixels(std::make_unique_for_overwrite<std::uint8_t[]>(
          static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * channels))
{
}

TBytes TPixelGraphic::EncodeSelf() const { return TBytes(m_file.view.begin(), m_file.view.end()); }

void TPixelGraphic::DrawRowOnto(int y, std::uint8_t* bgr) const
{
    const std::uint8_t* src = Row(y);
    const int step = m_channels;
    // Where red and blue sit in a pixel, and where each drawn sample (blue first) comes from.
    const int red = m_order == TSampleOrder::Rgb ? 0 : 2;
    const int blue = 2 - red;
    const int from[3] = { blue, 1, red };
    switch (m_alpha) {
    case TAlphaKind::None:
        if (m_order == TSampleOrder::Bgr && step == 3) {
            std::memcpy(bgr, src, static_cast<std::size_t>(m_width) * 3);
            break;
        }
        for (int x = 0; x < m_width; ++x, src += step, bgr += 3) {
            bgr[0] = src[blue];
            bgr[1] = src[1];
            bgr[2] = src[red];
        }
        break;
    case TAlphaKind::Straight:
        for (int x = 0; x < m_width; ++x, src += step, bgr += 3)
            if (src[3] > 0)
                BlendPixel(bgr, src[red], src[1], src[blue], src[3]);
        break;
    case TAlphaKind::Premultiplied:
        // The colour already carries its cover: what lies beneath shows through by the rest,
        // rounded to the nearest; a damaged sample above its alpha cannot overflow.
        for (int x = 0; x < m_width; ++x, src += step, bgr += 3) {
            const int rest = 255 - src[3];
            if (rest == 255)
                continue;
            for (int c = 0; c < 3; ++c) {
                const int value = src[from[c]] + (bgr[c] * rest + 127) / 255;
                bgr[c] = static_cast<std::uint8_t>(std::min(value, 255));
            }
        }
        break;
    }
}

void TPixelGraphic::DrawOnto(TBitmap& target) const
{
    const int w = std::min(m_width, target.Width());
    const int h = std::min(m_height, target.Height());
    if (w <= 0 || h <= 0)
        return;
    const int bytes = target.BitsPerPixel() / 8;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(m_width) * 3);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* dst = target.ScanLine(y);
        for (int x = 0; x < w; ++x)
            std::memcpy(&row[static_cast<std::size_t>(x) * 3],
                dst + static_cast<std::size_t>(x) * bytes, 3);
        DrawRowOnto(y, row.data());
        for (int x = 0; x < w; ++x)
            std::memcpy(dst + static_cast<std::size_t>(x) * bytes,
                &row[static_cast<std::size_t>(x) * 3], 3);
    }
}

namespace {

    class TPixelRows final : public TRowReader {
    public:
        explicit TPixelRows(const TPixelGraphic& graphic)
            : m_graphic(graphic)
        {
        }
        int Width() const override { return m_graphic.Width(); }
        int Height() const override { return m_graphic.Height(); }
        void ReadRow(std::uint8_t* bgr) override
        {
            // Past the last row there is nothing to draw: white, as beneath a transparent pixel.
            if (m_next >= m_graphic.Height() || m_graphic.Alpha() != TAlphaKind::None)
                std::memset(bgr, 255, static_cast<std::size_t>(m_graphic.Width()) * 3);
            if (m_next >= m_graphic.Height())
                return;
            m_graphic.DrawRowOnto(m_next++, bgr);
        }

    private:
        const TPixelGraphic& m_graphic;
        int m_next = 0;
    };

} // namespace

void CheckDeclaredSpatialExtents(std::span<const std::uint8_t> bytes, const char* format)
{
    // An 'ispe' property: its type, four bytes of version and flags, width and height big-endian.
    constexpr std::size_t kBoxBytes = 16;
    for (std::size_t at = 0; bytes.size() >= kBoxBytes && at <= bytes.size() - kBoxBytes; ++at) {
        if (std::memcmp(bytes.data() + at, "ispe", 4) != 0)
            continue;
        const auto big = [&](std::size_t i) {
            const std::uint8_t* p = bytes.data() + at + i;
            return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16
                | static_cast<std::uint32_t>(p[2]) << 8 | p[3];
        };
        const std::uint32_t width = big(8);
        const std::uint32_t height = big(12);
        if (width > 0 && height > 0)
            CheckPhotoSize(width, height, format);
    }
}

std::unique_ptr<TRowReader> OpenPixelRows(const TGraphic& graphic)
{
    return std::make_unique<TPixelRows>(static_cast<const TPixelGraphic&>(graphic));
}

} // namespace parvula::imaging
