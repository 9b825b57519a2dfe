// The EXIF orientation tag, read with bounds checks on every step, and the eight upright views.
#include "imaging/orientation.h"

#include <cstring>
#include <memory>
#include <vector>

#include "imaging/imagefiles_internal.h"

namespace parvula::imaging {

namespace {

    constexpr std::uint16_t kOrientationTag = 0x0112;
    constexpr std::uint16_t kTypeShort = 3;

    // A TIFF structure's numbers in its own byte order; every read checks its bounds.
    class TTiffReader {
    public:
        TTiffReader(std::span<const std::uint8_t> data, bool bigEndian)
            : m_data(data)
            , m_bigEndian(bigEndian)
        {
        }
        bool U16(std::size_t at, std::uint16_t& v) const
        {
            if (at > m_data.size() || m_data.size() - at < 2)
                return false;
            v = m_bigEndian ? static_cast<std::uint16_t>(m_data[at] << 8 | m_data[at + 1])
                            : static_cast<std::uint16_t>(m_data[at + 1] << 8 | m_data[at]);
            return true;
        }
        bool U32(std::size_t at, std::uint32_t& v) const
        {
            std::uint16_t a = 0;
            std::uint16_t b = 0;
            if (!U16(at, a) || !U16(at + 2, b))
                return false;
            v = m_bigEndian ? (std::uint32_t(a) << 16 | b) : (std::uint32_t(b) << 16 | a);
            return true;
        }

    private:
        std::span<const std::uint8_t> m_data;
        bool m_bigEndian;
    };

    // The orientation in a TIFF structure (EXIF data without its "Exif" mark), or 0.
    int OrientationInTiff(std::span<const std::uint8_t> tiff)
    {
        if (tiff.size() < 8)
            return 0;
        bool bigEndian = false;
        if (tiff[0] == 'M' && tiff[1] == 'M')
            bigEndian = true;
        else if (!(tiff[0] == 'I' && tiff[1] == 'I'))
            return 0;
        const TTiffReader r(tiff, bigEndian);
        std::uint16_t magic = 0;
        std::uint32_t ifd = 0;
        std::uint16_t count = 0;
        if (!r.U16(2, magic) || magic != 42 || !r.U32(4, ifd) || !r.U16(ifd, count))
            return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t entry = std::size_t(ifd) + 2 + std::size_t(i) * 12;
            std::uint16_t tag = 0;
            std::uint16_t type = 0;
            std::uint32_t n = 0;
            std::uint16_t value = 0;
            if (!r.U16(entry, tag) || !r.U16(entry + 2, type) || !r.U32(entry + 4, n)
                || !r.U16(entry + 8, value))
                return 0;
            if (tag == kOrientationTag)
                return type == kTypeShort && n == 1 && value >= 1 && value <= 8 ? value : 0;
        }
        return 0;
    }

    constexpr std::uint8_t kExifMark[6] = { 'E', 'x', 'i', 'f', 0, 0 };

    // The orientation in an APP1 segment's payload ("Exif\0\0" and a TIFF structure), or 0.
    int OrientationInExif(std::span<const std::uint8_t> app1)
    {
        if (app1.size() < 14 || std::memcmp(app1.data(), kExifMark, 6) != 0)
            return 0;
        return OrientationInTiff(app1.subspan(6));
    }

    bool SwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

} // namespace

int JpegOrientation(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return 1;
    std::size_t at = 2;
    // The segments before the image data; EXIF comes in one of them.
    while (at + 4 <= bytes.size()) {
        if (bytes[at] != 0xFF)
            return 1;
        const std::uint8_t marker = bytes[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // start of scan, end of image
            return 1;
        const std::size_t length = std::size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length < 2 || bytes.size() - (at + 2) < length)
            return 1;
        if (marker == 0xE1) {
            const int o = OrientationInExif(bytes.subspan(at + 4, length - 2));
            if (o != 0)
                return o;
        }
        at += 2 + length;
    }
    return 1;
}

int ExifBlockOrientation(std::span<const std::uint8_t> exif)
{
    // Writers of WebP's EXIF chunk differ on whether it starts with the mark of a JPEG segment.
    if (exif.size() >= 6 && std::memcmp(exif.data(), kExifMark, 6) == 0)
        exif = exif.subspan(6);
    const int orientation = OrientationInTiff(exif);
    return orientation == 0 ? 1 : orientation;
}

int PictureOrientation(const TPicture& picture)
{
    if (picture.Empty())
        return 1;
    if (picture.Kind() != TGraphicKind::Jpeg)
        return picture.Graphic()->StoredOrientation();
    return JpegOrientation(picture.Graphic()->StoredBytes());
}

void UprightSize(int orientation, int width, int height, int& uprightWidth, int& uprightHeight)
{
    uprightWidth = SwapsSides(orientation) ? height : width;
    uprightHeight = SwapsSides(orientation) ? width : height;
}

void StoredPosition(int orientation, int width, int height, int x, int y, int& sx, int& sy)
{
    const int w = width;
    const int h = height;
    sx = x;
    sy = y;
    switch (orientation) {
    case 2:
        sx = w - 1 - x;
        break;
    case 3:
        sx = w - 1 - x;
        sy = h - 1 - y;
        break;
    case 4:
        sy = h - 1 - y;
        break;
    case 5:
        sx = y;
        sy = x;
        break;
    case 6:
        sx = y;
        sy = h - 1 - x;
        break;
    case 7:
        sx = w - 1 - y;
        sy = h - 1 - x;
        break;
    case 8:
        sx = w - 1 - y;
        sy = x;
        break;
    default:
        break;
    }
}

TBitmap Upright(const TBitmap& source, int orientation)
{
    TBitmap src = source;
    src.ConvertTo24();
    const int w = src.Width();
    const int h = src.Height();
    int ow = 0;
    int oh = 0;
    UprightSize(orientation, w, h, ow, oh);
    TBitmap out(ow, oh, 24);
    for (int y = 0; y < oh; ++y) {
        std::uint8_t* row = out.ScanLine(y);
        for (int x = 0; x < ow; ++x) {
            int sx = 0;
            int sy = 0;
            StoredPosition(orientation, w, h, x, y, sx, sy);
            std::memcpy(row + 3 * x, src.ScanLine(sy) + 3 * sx, 3);
        }
    }
    return out;
}

void TurnUpright(TPicture& picture, int orientation)
{
    if (orientation < 2 || orientation > 8 || picture.Empty())
        return;
    std::unique_ptr<TRowReader> rows = OpenRowReader(picture);
    if (!rows) {
        TBitmap drawn(picture.Width(), picture.Height(), 24);
        drawn.Fill({ 255, 255, 255 });
        picture.DrawOnto(drawn);
        picture.Assign(Upright(drawn, orientation));
        return;
    }
    // Stored row sy lands on an upright column (5 to 8) or row (2 to 4); each pixel once.
    const int w = rows->Width();
    const int h = rows->Height();
    int ow = 0;
    int oh = 0;
    UprightSize(orientation, w, h, ow, oh);
    TBitmap out(ow, oh, 24);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
    const bool transposed = orientation >= 5;
    for (int sy = 0; sy < h; ++sy) {
        rows->ReadRow(row.data());
        for (int sx = 0; sx < w; ++sx) {
            // The inverse of StoredPosition: where stored pixel (sx, sy) shows.
            int x = transposed ? sy : sx;
            int y = transposed ? sx : sy;
            if (orientation == 2 || orientation == 3 || orientation == 6 || orientation == 7)
                x = ow - 1 - x;
            if (orientation == 3 || orientation == 4 || orientation == 7 || orientation == 8)
                y = oh - 1 - y;
            std::memcpy(out.ScanLine(y) + 3 * static_cast<std::size_t>(x),
                row.data() + 3 * static_cast<std::size_t>(sx), 3);
        }
    }
    rows.reset(); // it reads the picture's bytes, which the assignment replaces
    picture.Assign(std::move(out));
}

} // namespace parvula::imaging
