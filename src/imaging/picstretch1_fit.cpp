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

namespace {

    // Destination pixel i takes upright pixel floor((2i + 1) * S / (2 * D)), the one under its
    // centre: whole rows and columns are dropped or repeated evenly and symmetrically, and the
    // index is always below S. 64-bit integers: no rounding question and no overflow.
    int NearestIndex(int i, int sourceLength, int destLength)
    {
        return static_cast<int>((2LL * i + 1) * sourceLength / (2LL * destLength));
    }

} // namespace

void StretchNearest(const TBitmap& source, TBitmap& dest, int orientation)
{
    // Refused where the row version would go on to copy pixels: it takes 24-bit rows only.
    if (dest.Width() > 0 && dest.Height() > 0 && source.Width() > 0 && source.Height() > 0
        && source.BitsPerPixel() != 24)
        throw EError(TCode::StretchDepth);
    TBitmapRowReader rows(source);
    StretchNearestRows(rows, dest, orientation);
}

void StretchNearestRows(TRowReader& source, TBitmap& dest, int orientation)
{
    const int sw = source.Width();
    const int sh = source.Height();
    const int dw = dest.Width();
    const int dh = dest.Height();
    if (dw == 0 || dh == 0)
        return;
    if (sw < 1 || sh < 1)
        throw EError(TCode::SourceBitmapTooSmall);
    if (dest.BitsPerPixel() != 24)
        throw EError(TCode::StretchDepth);
    if (orientation < 1 || orientation > 8)
        orientation = 1;
    int uw = 0;
    int uh = 0;
    UprightSize(orientation, sw, sh, uw, uh);
    // Each line of the destination (a row; a column when the picture lies on its side) takes
    // its pixels from one stored row, and along the line from the same stored columns.
    const bool onItsSide = orientation >= 5;
    const int lines = onItsSide ? dw : dh;
    const int length = onItsSide ? dh : dw;
    std::vector<int> storedRow(static_cast<std::size_t>(lines));
    std::vector<int> storedColumn(static_cast<std::size_t>(length));
    int sx = 0;
    int sy = 0;
    for (int line = 0; line < lines; ++line) {
        if (onItsSide)
            StoredPosition(orientation, sw, sh, NearestIndex(line, uw, dw), 0, sx, sy);
        else
            StoredPosition(orientation, sw, sh, 0, NearestIndex(line, uh, dh), sx, sy);
        storedRow[static_cast<std::size_t>(line)] = sy;
    }
    for (int k = 0; k < length; ++k) {
        if (onItsSide)
            StoredPosition(orientation, sw, sh, 0, NearestIndex(k, uh, dh), sx, sy);
        else
            StoredPosition(orientation, sw, sh, NearestIndex(k, uw, dw), 0, sx, sy);
        storedColumn[static_cast<std::size_t>(k)] = 3 * sx;
    }
    // The lines in the order their stored rows arrive.
    std::vector<int> order(static_cast<std::size_t>(lines));
    for (int line = 0; line < lines; ++line)
        order[static_cast<std::size_t>(line)] = line;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return storedRow[static_cast<std::size_t>(a)] < storedRow[static_cast<std::size_t>(b)];
    });
    std::vector<std::uint8_t> row(static_cast<std::size_t>(sw) * 3);
    int read = 0; // rows read so far
    for (const int line : order) {
        while (read <= storedRow[static_cast<std::size_t>(line)]) {
            source.ReadRow(row.data());
            ++read;
        }
        for (int k = 0; k < length; ++k) {
            std::uint8_t* out = onItsSide ? dest.ScanLine(k) + 3 * static_cast<std::size_t>(line)
                                          : dest.ScanLine(line) + 3 * static_cast<std::size_t>(k);
            std::memcpy(out, row.data() + storedColumn[static_cast<std::size_t>(k)], 3);
        }
    }
    for (; read < sh; ++read)
        source.ReadRow(row.data());
}

namespace {

    // The picture drawn on white into a new 24-bit bitmap: transparent and partly transparent
    // parts end up on white; a GIF shows its first frame.
    TBitmap DrawnOnWhite(const TPicture& picture)
    {
        TBitmap source(picture.Width(), picture.Height(), 24);
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
    // horizontal pass or the nearest-neighbour copy, so the whole picture is never held, turned
    // or not.
    if (std::unique_ptr<TRowReader> rows = OpenRowReader(picture)) {
        TBitmap target(size->width, size->height, 24);
        if (kernel) {
            const TKernelEntry& entry = KernelOf(options.filter);
            ResampleRows(*rows, target, entry.filter, entry.support, orientation);
        } else {
            StretchNearestRows(*rows, target, orientation);
        }
        rows.reset(); // it reads the picture's bytes, which the assignment replaces
        picture.Assign(std::move(target));
        return;
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
