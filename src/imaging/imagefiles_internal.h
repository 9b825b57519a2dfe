// The graphic kinds behind TPicture and the entry points each format file offers the others.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "imaging/imagefiles.h"
#include "imaging/imagefiles_bitmap.h"

namespace parvula::imaging {

using TBytes = std::vector<std::uint8_t>;

// Bytes a graphic keeps: a view kept valid by a shared owner, which is either the graphic's own
// vector or whatever holds the memory (a mapped file).
struct TSharedBytes {
    std::shared_ptr<const void> owner;
    std::span<const std::uint8_t> view;
    // Told by a decoder that streams through the bytes that it is done, for this pass, with
    // those before an offset (the owner may give their memory back); may be empty.
    std::function<void(std::size_t)> letGo;
    static TSharedBytes Own(TBytes bytes);
};

// Draws a bitmap by the bitmap rules: colours copied, the transparent colour skipped when the
// bitmap's mark is on.
void DrawBitmapOnto(const TBitmap& source, TBitmap& target);

// How a graphic's stored numbers are meant to be seen: the file's embedded ICC profile, or the
// coded colour description of a HEIF or AVIF file (ITU-T H.273 codes). Nothing set means the
// file says nothing, and its numbers are taken as sRGB.
struct TColourDescription {
    std::vector<std::uint8_t> icc;
    // H.273 colour primaries and transfer characteristics; 2 is "unspecified".
    int primaries = 2;
    int transfer = 2;
    bool Empty() const { return icc.empty() && primaries == 2 && transfer == 2; }
};

// One graphic of a picture. Drawing always targets a 24-bit bitmap at its top-left corner.
class TGraphic {
public:
    virtual ~TGraphic() = default;
    virtual TGraphicKind Kind() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void DrawOnto(TBitmap& target) const = 0;
    // The graphic in its own kind's file format.
    virtual TBytes EncodeSelf() const = 0;
    // The file's own bytes where the graphic keeps them (a JPEG), else none; valid while the
    // graphic lives.
    virtual std::span<const std::uint8_t> StoredBytes() const { return {}; }
    // The colour description the file carries; readers of formats that have none keep this.
    virtual TColourDescription Colours() const { return {}; }
    // Decoding without the profile a decoder applies itself (a CMYK JPEG's) from now on.
    virtual void KeepStoredColours() { }
    // The EXIF orientation (1 to 8) a reader took from the file outside a JPEG's own segments;
    // 1 when the file records none or its library turns the picture itself.
    virtual int StoredOrientation() const { return 1; }
};

class TBitmapGraphic final : public TGraphic {
public:
    explicit TBitmapGraphic(TBitmap bitmap)
        : m_bitmap(std::move(bitmap))
    {
    }
    TGraphicKind Kind() const override { return TGraphicKind::Bitmap; }
    int Width() const override { return m_bitmap.Width(); }
    int Height() const override { return m_bitmap.Height(); }
    void DrawOnto(TBitmap& target) const override { DrawBitmapOnto(m_bitmap, target); }
    TBytes EncodeSelf() const override;
    TBitmap& Bitmap() { return m_bitmap; }
    const TBitmap& Bitmap() const { return m_bitmap; }

private:
    TBitmap m_bitmap;
};

// The depth of the bitmaps that pictures of other kinds convert to.
inline constexpr int DisplayBitsPerPixel = 24;

// The conversion to a bitmap: white, the graphic drawn on it; 200 x 40 white when empty.
TBitmap ConvertToBitmap(const TPicture& picture);

// The first byte of pixel (x, y) of a 24- or 32-bit bitmap.
inline std::uint8_t* PixelAt(TBitmap& bitmap, int x, int y)
{
    return bitmap.ScanLine(y) + static_cast<std::size_t>(x) * (bitmap.BitsPerPixel() / 8);
}

// Throws EImageError unless width x height lies within the per-image limits.
void CheckImageSize(std::int64_t width, std::int64_t height, const char* format);
// The same for the photo formats read through their libraries, whose messages name the file: a
// side of 0 pixels is refused too.
void CheckPhotoSize(std::int64_t width, std::int64_t height, const char* format);

// Writes an opaque pixel of a 24-bit target, or blends alpha 0..255 over what lies there.
inline void BlendPixel(std::uint8_t* dst, std::uint8_t r, std::uint8_t g, std::uint8_t b, int alpha)
{
    if (alpha >= 255) {
        dst[0] = b;
        dst[1] = g;
        dst[2] = r;
    } else if (alpha > 0) {
        // Rounded to the nearest: (x * 255 + 127) / 255 keeps opaque 255 and transparent 0 exact.
        const int inv = 255 - alpha;
        dst[0] = static_cast<std::uint8_t>((b * alpha + dst[0] * inv + 127) / 255);
        dst[1] = static_cast<std::uint8_t>((g * alpha + dst[1] * inv + 127) / 255);
        dst[2] = static_cast<std::uint8_t>((r * alpha + dst[2] * inv + 127) / 255);
    }
}

// Per-format readers and encoders (each in its own imagefiles_<format>.cpp).
TBitmap DecodeBmp(std::span<const std::uint8_t> bytes);
// A device-independent bitmap: info header at data[0], then masks and palette; pixels at
// pixelOffset from data, or right after the palette when pixelOffset is 0. For an icon image the
// header's height counts the colour rows and the mask rows and is halved. pixelsEnd receives the
// offset just past the pixel rows (where an icon's mask begins).
TBitmap DecodeDib(const std::uint8_t* data, std::size_t size, std::size_t pixelOffset, bool icon,
    std::size_t* pixelsEnd);
TBytes EncodeBmpBytes(const TBitmap& bitmap);

std::unique_ptr<TGraphic> ReadJpeg(TSharedBytes bytes);
std::unique_ptr<TGraphic> ReadJpeg(TBytes bytes);
TBytes EncodeJpegBytes(const TBitmap& bitmap, int quality);
// The rows of a JPEG graphic for the resampler; the graphic must outlive the reader.
std::unique_ptr<TRowReader> OpenJpegRows(const TGraphic& jpeg);

// Reads the header; the rows are decoded from the bytes whenever they are needed (the span
// variant keeps a copy of its bytes).
std::unique_ptr<TGraphic> ReadPng(std::span<const std::uint8_t> bytes);
std::unique_ptr<TGraphic> ReadPng(TSharedBytes bytes);
// The rows of a PNG graphic drawn on white (an interlaced one decoded whole first).
std::unique_ptr<TRowReader> OpenPngRows(const TGraphic& png);
TBytes EncodePngBytes(const TBitmap& bitmap);

std::unique_ptr<TGraphic> ReadGif(std::span<const std::uint8_t> bytes);
// The rows of a GIF graphic's first frame drawn on white.
std::unique_ptr<TRowReader> OpenGifRows(const TGraphic& gif);
TBytes EncodeGifBytes(const TBitmap& bitmap);

std::unique_ptr<TGraphic> ReadIco(TBytes bytes);
// Keeps the bytes' owner: the icon writes the file's own bytes when it writes itself.
std::unique_ptr<TGraphic> ReadIco(TSharedBytes bytes);

// The photo formats read through their libraries; each graphic keeps the file's bytes, which it
// writes when it writes itself.
std::unique_ptr<TGraphic> ReadHeif(TSharedBytes bytes);
// The metadata blocks of a HEIF file's primary image, for the metadata copy: the first EXIF
// block's TIFF structure (without the offset that leads it) and the first XMP packet; empty
// where the file has none or libheif cannot read it.
struct THeifMetadata {
    TBytes exif;
    std::string xmp;
};
THeifMetadata HeifMetadata(std::span<const std::uint8_t> bytes);
std::unique_ptr<TGraphic> ReadAvif(TSharedBytes bytes);
std::unique_ptr<TGraphic> ReadWebp(TSharedBytes bytes);
std::unique_ptr<TGraphic> ReadTiff(TSharedBytes bytes);
// A 24-bit, 32-bit or paletted bitmap as lossy WebP; alpha 0 for the transparent colour when the
// bitmap's mark is on.
TBytes EncodeWebpBytes(const TBitmap& bitmap, int quality);

} // namespace parvula::imaging
