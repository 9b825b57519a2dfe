// FitToBox: the target size of a picture in the size box, and the scaling into it.
#include "imaging/picstretch1.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "imaging/imagefiles_internal.h"
#include "imaging/orientation.h"

namespace parvula::imaging {

namespace {

    // Any failure of the size computation: caught in FitTargetSize and turned into "leave the
    // picture as it is".
    struct ESizeComputation { };

    double Ratio(int numerator, int denominator)
    {
        if (denominator == 0)
            throw ESizeComputation {};
        return static_cast<double>(numerator) / denominator;
    }

    // To the nearest whole number, exactly halfway to the even one (3 x 1.5 = 4.5 gives 4).
    int RoundHalfEven(double value)
    {
        if (!std::isfinite(value) || value > INT_MAX || value < INT_MIN)
            throw ESizeComputation {};
        const double whole = std::floor(value);
        const double fraction = value - whole;
        long long result = static_cast<long long>(whole);
        if (fraction > 0.5 || (fraction == 0.5 && (result & 1) != 0))
            ++result;
        if (result > INT_MAX)
            throw ESizeComputation {};
        return static_cast<int>(result);
    }

} // namespace

TFilter FilterOfListIndex(int index)
{
    if (index >= KernelCount)
        throw EError(TCode::UnknownFilter, {}, { std::to_string(index) });
    return index <= 0 ? TFilter::None : static_cast<TFilter>(index);
}

const TKernelEntry& KernelOf(TFilter filter)
{
    return KernelTable[static_cast<std::size_t>(filter)];
}

std::optional<TFitSize> FitTargetSize(
    int pictureWidth, int pictureHeight, const TFitOptions& options)
{
    const int pw = pictureWidth;
    const int ph = pictureHeight;
    int w = options.maxWidth;
    int h = options.maxHeight;
    const bool keepAspect = options.keepAspect;
    try {
        if (w <= 0 && h <= 0) {
            w = pw;
            h = ph;
        }
        if (!keepAspect) {
            if (w <= 0)
                w = pw;
            if (h <= 0)
                h = ph;
        }
        // The tests below look at the box, not at the final size: a 100 x 50 picture in a
        // 100 x 100 box passes them and is scaled to its own size.
        if (w == pw && h == ph)
            return std::nullopt;
        if (options.direction == TFitDirection::ShrinkOnly
            && !((0 < w && w < pw) || (0 < h && h < ph)))
            return std::nullopt;
        if (options.direction == TFitDirection::EnlargeOnly && !(w > pw || h > ph))
            return std::nullopt;
        if (keepAspect && w > 0 && h > 0) {
            const double pictureRatio = Ratio(pw, ph);
            if (Ratio(w, h) >= pictureRatio)
                w = RoundHalfEven(pictureRatio * h);
            else
                h = RoundHalfEven(Ratio(ph, pw) * w);
        }
        if (w <= 0)
            w = RoundHalfEven(Ratio(pw, ph) * h);
        if (h <= 0)
            h = RoundHalfEven(Ratio(ph, pw) * w);
    } catch (const ESizeComputation&) {
        return std::nullopt;
    }
    // An extreme aspect ratio (1000 x 4 into a box 100 wide) rounds a side to 0; a bitmap without
    // pixels is no thumbnail, so such a side gets one pixel.
    return TFitSize { std::max(w, 1), std::max(h, 1) };
}

void TBitmapRowReader::ReadRow(std::uint8_t* bgr)
{
    if (m_next >= m_bitmap.Height())
        throw EError(TCode::JpegNoMoreRows);
    const std::uint8_t* row = m_bitmap.ScanLine(m_next++);
    std::copy(row, row + 3 * static_cast<std::size_t>(m_bitmap.Width()), bgr);
}

void StretchNearest(const TBitmap& source, TBitmap& dest, int orientation)
{
    const int sw = source.Width();
    const int sh = source.Height();
    const int dw = dest.Width();
    const int dh = dest.Height();
    if (dw == 0 || dh == 0)
        return;
    if (sw < 1 || sh < 1)
        throw EError(TCode::SourceBitmapTooSmall);
    if (source.BitsPerPixel() != 24 || dest.BitsPerPixel() != 24)
        throw EError(TCode::StretchDepth);
    int uw = 0;
    int uh = 0;
    UprightSize(orientation, sw, sh, uw, uh);
    // Destination pixel i takes upright pixel floor((2i + 1) * S / (2 * D)), the one under its
    // centre: whole rows and columns are dropped or repeated evenly and symmetrically, and the
    // index is always below S. 64-bit integers: no rounding question and no overflow.
    std::vector<int> columns(static_cast<std::size_t>(dw));
    for (int x = 0; x < dw; ++x)
        columns[static_cast<std::size_t>(x)] = static_cast<int>((2LL * x + 1) * uw / (2LL * dw));
    if (orientation < 2 || orientation > 8) {
        for (int y = 0; y < dh; ++y) {
            const int sy = static_cast<int>((2LL * y + 1) * sh / (2LL * dh));
            const std::uint8_t* in = source.ScanLine(sy);
            std::uint8_t* out = dest.ScanLine(y);
            for (int x = 0; x < dw; ++x, out += 3)
                std::memcpy(out, in + 3 * columns[static_cast<std::size_t>(x)], 3);
        }
        return;
    }
    for (int y = 0; y < dh; ++y) {
        const int uy = static_cast<int>((2LL * y + 1) * uh / (2LL * dh));
        std::uint8_t* out = dest.ScanLine(y);
        for (int x = 0; x < dw; ++x, out += 3) {
            int sx = 0;
            int sy = 0;
            StoredPosition(orientation, sw, sh, columns[static_cast<std::size_t>(x)], uy, sx, sy);
            std::memcpy(out, source.ScanLine(sy) + 3 * static_cast<std::size_t>(sx), 3);
        }
    }
}

namespace {

    // The picture drawn on white into a new 24-bit bitmap: from its rows where they stream (a
    // JPEG; a PNG, drawn on white as it decodes), so that no decoded copy is kept beside it.
    TBitmap DrawnOnWhite(const TPicture& picture)
    {
        TBitmap source(picture.Width(), picture.Height(), 24);
        if (std::unique_ptr<TRowReader> rows = OpenRowReader(picture)) {
            for (int y = 0; y < source.Height(); ++y)
                rows->ReadRow(source.ScanLine(y));
            return source;
        }
        // Transparent and partly transparent parts end up on white; a GIF shows its first frame.
        source.Fill(TRgb { 255, 255, 255 });
        picture.DrawOnto(source);
        return source;
    }

} // namespace

void FitToBox(TPicture& picture, const TFitOptions& options)
{
    const int orientation
        = options.orientation >= 2 && options.orientation <= 8 ? options.orientation : 1;
    int uprightWidth = 0;
    int uprightHeight = 0;
    UprightSize(orientation, picture.Width(), picture.Height(), uprightWidth, uprightHeight);
    const std::optional<TFitSize> size = FitTargetSize(uprightWidth, uprightHeight, options);
    if (!size) {
        TurnUpright(picture, orientation);
        return;
    }
    const bool kernel = options.filter != TFilter::None;

    // Rows that stream (a JPEG's; a PNG's, drawn on white row by row) go straight into the
    // horizontal pass, so the whole picture is never held, turned or not.
    if (kernel) {
        TBitmap target(size->width, size->height, 24);
        if (std::unique_ptr<TRowReader> rows = OpenRowReader(picture)) {
            const TKernelEntry& entry = KernelOf(options.filter);
            ResampleRows(*rows, target, entry.filter, entry.support, orientation);
            rows.reset(); // it reads the picture's bytes, which the assignment replaces
            picture.Assign(std::move(target));
            return;
        }
    }

    // A 24-bit bitmap without its transparency mark draws as itself: it is read where it is.
    // Anything else is drawn on white once, into the only full-size bitmap of this path.
    std::optional<TBitmap> drawn;
    const TBitmap* own = picture.Bitmap();
    if (!own || own->BitsPerPixel() != 24 || own->Transparent())
        own = &drawn.emplace(DrawnOnWhite(picture));
    TBitmap target(size->width, size->height, 24);
    if (kernel) {
        const TKernelEntry& entry = KernelOf(options.filter);
        TBitmapRowReader rows(*own);
        ResampleRows(rows, target, entry.filter, entry.support, orientation);
    } else {
        StretchNearest(*own, target, orientation);
    }
    // Replaced only now: a failure above leaves the picture's earlier graphic in place.
    picture.Assign(std::move(target));
}

} // namespace parvula::imaging
