// TPicture, loading by extension, the conversion to a bitmap and the writers.
#include "imaging/imagefiles.h"

#include <algorithm>
#include <cstring>

#include "imaging/imagefiles_internal.h"

namespace parvula::imaging {

void TBitmapGraphic::DrawOnto(TBitmap& target) const
{
    const int w = std::min(m_bitmap.Width(), target.Width());
    const int h = std::min(m_bitmap.Height(), target.Height());
    const bool keyed = m_bitmap.Transparent() && m_bitmap.Width() > 0 && m_bitmap.Height() > 0;
    const TRgb key = keyed ? m_bitmap.TransparentColor() : TRgb {};
    const int bytes = target.BitsPerPixel() / 8;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* dst = target.ScanLine(y);
        for (int x = 0; x < w; ++x, dst += bytes) {
            const TRgb c = m_bitmap.PixelColor(x, y);
            if (keyed && c == key)
                continue;
            dst[0] = c.b;
            dst[1] = c.g;
            dst[2] = c.r;
        }
    }
}

TPicture::TPicture() = default;
TPicture::~TPicture() = default;
TPicture::TPicture(TPicture&&) noexcept = default;
TPicture& TPicture::operator=(TPicture&&) noexcept = default;

TGraphicKind TPicture::Kind() const { return m_graphic ? m_graphic->Kind() : TGraphicKind::Empty; }

int TPicture::Width() const { return m_graphic ? m_graphic->Width() : 0; }

int TPicture::Height() const { return m_graphic ? m_graphic->Height() : 0; }

TBitmap* TPicture::Bitmap()
{
    if (Kind() != TGraphicKind::Bitmap)
        return nullptr;
    return &static_cast<TBitmapGraphic*>(m_graphic.get())->Bitmap();
}

const TBitmap* TPicture::Bitmap() const
{
    if (Kind() != TGraphicKind::Bitmap)
        return nullptr;
    return &static_cast<const TBitmapGraphic*>(m_graphic.get())->Bitmap();
}

void TPicture::Assign(TBitmap bitmap)
{
    m_graphic = std::make_unique<TBitmapGraphic>(std::move(bitmap));
}

void TPicture::SetTransparentMark(bool on)
{
    if (TBitmap* bitmap = Bitmap())
        bitmap->SetTransparent(on);
}

void TPicture::DrawOnto(TBitmap& target) const
{
    if (!m_graphic)
        return;
    if (target.BitsPerPixel() != 24 && target.BitsPerPixel() != 32)
        throw EImageError("DrawOnto: the target must be a 24- or 32-bit bitmap");
    m_graphic->DrawOnto(target);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) { m_graphic = std::move(graphic); }

} // namespace parvula::imaging
