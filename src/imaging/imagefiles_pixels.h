// The graphic of the photo formats that their libraries decode at once (HEIF, AVIF, WebP, TIFF):
// 8-bit colour samples and maybe alpha as the library gave them, drawn on white by the PNG
// rules, and the rows of that drawing for the resampler.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/imagefiles_internal.h"

namespace parvula::imaging {

// How the fourth sample of a pixel is meant.
enum class TAlphaKind {
    None, // no fourth sample, or one that is to be ignored
    Straight, // colour as seen at full cover
    Premultiplied, // colour already multiplied by alpha (libtiff's RGBA reading gives this)
};

// The order of a pixel's colour samples. Blue first is the drawing's own order, so a library
// that can write it spares every row a reordering.
enum class TSampleOrder { Rgb, Bgr };

class TPixelGraphic final : public TGraphic {
public:
    // channels: 3 (the colour samples in order) or 4 (then alpha); the reader fills every
    // pixel. The size must have passed CheckPhotoSize.
    TPixelGraphic(TGraphicKind kind, int width, int height, int channels, TAlphaKind alpha,
        TSharedBytes file, TSampleOrder order = TSampleOrder::Rgb);

    TGraphicKind Kind() const override { return m_kind; }
    int Width() const override { return m_width; }
    int Height() const override { return m_height; }
    void DrawOnto(TBitmap& target) const override;
    TBytes EncodeSelf() const override;
    std::span<const std::uint8_t> StoredBytes() const override { return m_file.view; }
    TColourDescription Colours() const override { return m_colours; }
    int StoredOrientation() const override { return m_orientation; }

    int Channels() const { return m_channels; }
    TAlphaKind Alpha() const { return m_alpha; }
    std::size_t RowBytes() const { return static_cast<std::size_t>(m_width) * m_channels; }
    std::uint8_t* Row(int y) { return m_pixels.get() + RowBytes() * static_cast<std::size_t>(y); }
    const std::uint8_t* Row(int y) const
    {
        return m_pixels.get() + RowBytes() * static_cast<std::size_t>(y);
    }
    std::uint8_t* Pixels() { return m_pixels.get(); }

    void SetColours(TColourDescription colours) { m_colours = std::move(colours); }
    void SetStoredOrientation(int orientation) { m_orientation = orientation; }
    // One row as drawn over what bgr holds (3 bytes a pixel, blue first).
    void DrawRowOnto(int y, std::uint8_t* bgr) const;

private:
    TGraphicKind m_kind;
    int m_width;
    int m_height;
    int m_channels;
    TAlphaKind m_alpha;
    TSampleOrder m_order;
    TSharedBytes m_file;
    // Not cleared: the pages are only taken as the decoder writes them, so a file that fails
    // early never holds the memory its header asked for.
    std::unique_ptr<std::uint8_t[]> m_pixels;
    TColourDescription m_colours;
    int m_orientation = 1;
};

// For a HEIF or AVIF file its library refused: the sizes its 'ispe' boxes declare checked by
// CheckPhotoSize, so a file that claims a huge picture is told as such rather than as damaged.
// Searches only inside the bytes; throws nothing when no box declares too much.
void CheckDeclaredSpatialExtents(std::span<const std::uint8_t> bytes, const char* format);

// The rows of a TPixelGraphic drawn on white, for the resampler; the graphic must outlive the
// reader.
std::unique_ptr<TRowReader> OpenPixelRows(const TGraphic& graphic);

} // namespace parvula::imaging
