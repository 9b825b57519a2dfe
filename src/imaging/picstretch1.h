// Resampling kernels and their table, weight lists, the two-pass resampler and FitToBox.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "imaging/imagefiles.h"
#include "imaging/imagefiles_bitmap.h"

namespace parvula::imaging {

// A reconstruction kernel: single precision in and out. Each kernel computes in double and
// rounds to float exactly where its definition stores an intermediate value, so the output
// bytes of Resample are reproducible to the last bit.
using TFilterFunc = float (*)(float x);

float BoxFilter(float x);
float TriangleFilter(float x);
float HermiteFilter(float x);
float BellFilter(float x);
float BSplineFilter(float x);
float Lanczos3Filter(float x);
float MitchellFilter(float x);

// sin(a) / a with a = pi * v rounded to float first; 1 at v = 0. Not rounded to float itself:
// Lanczos3 multiplies two of them in double.
double SinC(float v);

struct TKernelEntry {
    std::string_view name;
    TFilterFunc filter; // nullptr for row 0, "none"
    float support; // radius in source pixels at scale 1
};

inline constexpr int KernelCount = 8;

// Indexed by the filter index of the main window's filter list: 0 "none" to 7 "Mitchell".
extern const std::array<TKernelEntry, KernelCount> KernelTable;

// The filters, in the order of the kernel table and of the window's filter list.
enum class TFilter { None, Box, Triangle, Hermite, Bell, BSpline, Lanczos3, Mitchell };

// The filter of an item index of the window's filter list (edFilter): 1 to 7 a kernel; 0
// ("none"), -1 (no item selected) or less: no filter, plain stretching. An index past the list
// throws EImageError.
TFilter FilterOfListIndex(int index);
// The filter's row of the kernel table.
const TKernelEntry& KernelOf(TFilter filter);

// One contribution of a source pixel to one destination pixel.
struct TWeight {
    int index; // source pixel in the line, always within 0 .. length - 1
    float weight;
};
using TWeightList = std::vector<TWeight>;
using TWeightLists = std::vector<TWeightList>; // one list per destination position

// The scale of one pass: corner-aligned (dest - 1) / (source - 1), or dest / source when either
// side is a single pixel (a 1-pixel destination would otherwise give a scale of 0).
float ResampleScale(int destLength, int sourceLength);

// The weight lists of one pass, one per destination position 0 .. destLength - 1. Entries keep
// the order of the source positions that produced them; zero weights are left out; the weights
// are not normalised. Positions beyond the line are mirrored, then clamped into it.
TWeightLists BuildWeightLists(
    int destLength, int sourceLength, float scale, TFilterFunc filter, float support);

// Applies a set of weight lists to one line of 3-byte pixels: output pixel k (at
// output + k * outputStep) is computed from the input pixels at input + index * inputStep with
// lists[k]. The only place where pixels of either pass are computed.
void ApplyWeightLists(const std::uint8_t* input, std::ptrdiff_t inputStep,
    const TWeightLists& lists, std::uint8_t* output, std::ptrdiff_t outputStep);

// The instruction sets the pixel loops may use. Every level computes the same bytes as the plain
// loops of ApplyWeightLists: the same double-precision products and sums, each rounded to float
// after every entry, in list order; only several rows (horizontal pass) or several bytes of a
// row (vertical pass) are computed side by side.
enum class TSimdLevel { Scalar = 0, Sse2 = 1, Avx2 = 2, Avx512 = 3 };

// The best level this processor and build support.
TSimdLevel SupportedSimdLevel();
// The level in use: the environment variable PARVULA_SIMD (scalar, sse2, avx2, avx512) when set,
// else the supported one; never above the supported one.
TSimdLevel ActiveSimdLevel();
// Selects a level for the whole process (tests and benchmarks compare them); a level above the
// supported one selects the supported one. Returns the level now in use.
TSimdLevel SetSimdLevel(TSimdLevel level);

// Scales the rows of an opaque picture, read once from top to bottom, into the whole of dest
// without holding the whole source: each row goes straight into the horizontal pass. Gives the
// bytes of Resample on the bitmap those rows make up, turned upright first by the EXIF
// orientation (2 to 8; dest has the upright size): the upright picture's passes in their order,
// only laid out along the stored rows, so the bytes are those of Resample(Upright(...)).
// Destination pixels are written as soon as their source rows are in, so a reader that fails
// part way leaves dest partly written (everything that can fail before that leaves it
// untouched).
void ResampleRows(
    TRowReader& source, TBitmap& dest, TFilterFunc filter, float support, int orientation = 1);

// The rows of a 24-bit bitmap, for the whole-picture path of a turned picture.
class TBitmapRowReader final : public TRowReader {
public:
    explicit TBitmapRowReader(const TBitmap& bitmap)
        : m_bitmap(bitmap)
    {
    }
    int Width() const override { return m_bitmap.Width(); }
    int Height() const override { return m_bitmap.Height(); }
    void ReadRow(std::uint8_t* bgr) override;

private:
    const TBitmap& m_bitmap;
    int m_next = 0;
};

// Scales source into the whole of dest (dest's size is the target size). Throws EImageError
// "Source bitmap too small" before touching anything when the source has no pixels. Both
// bitmaps end up with 24 bits per pixel.
void Resample(TBitmap& source, TBitmap& dest, TFilterFunc filter, float support);

// Nearest-neighbour stretching of a 24-bit source into the whole of a 24-bit dest: every
// destination pixel is a copy of the source pixel under its centre. With an EXIF orientation of
// 2 to 8 the source is taken as turned upright (dest has the upright size), without turning it.
void StretchNearest(const TBitmap& source, TBitmap& dest, int orientation = 1);
// The same pixels from rows that arrive top to bottom, holding one row: every source row is read,
// so a decoding error arrives as in a whole decode.
void StretchNearestRows(TRowReader& source, TBitmap& dest, int orientation = 1);

struct TFitSize {
    int width;
    int height;
    friend bool operator==(const TFitSize&, const TFitSize&) = default;
};

// Which pictures the box changes.
enum class TFitDirection {
    ShrinkOnly, // a picture that fits in the box keeps its size
    BothWays, // smaller pictures are enlarged until they touch the box
    EnlargeOnly, // a picture that reaches the box keeps its size
};

// How FitToBox fits a picture. A maximum of 0 or less sets no side of its own; both 0 keep the
// picture's size.
struct TFitOptions {
    int maxWidth = 0;
    int maxHeight = 0;
    // false: a missing side takes the picture's own, and the sides are set independently
    bool keepAspect = true;
    TFitDirection direction = TFitDirection::BothWays;
    TFilter filter = TFilter::None; // None: nearest-neighbour stretching
    // The EXIF orientation the picture is turned upright by (2 to 8) before it is fitted; the
    // box then applies to the upright view, and the picture ends up upright even when the box
    // leaves its size as it is. 1 (and any other value): as stored.
    int orientation = 1;
};

// The target size of FitToBox, or nullopt when the picture is to be left as it is (nothing to
// do, or the computation would divide by a picture side of 0 or overflow). The filter plays no
// part.
std::optional<TFitSize> FitTargetSize(
    int pictureWidth, int pictureHeight, const TFitOptions& options);

// Fits the picture into the box: replaces it by a 24-bit bitmap of the target size, drawn on
// white and scaled with the filter's kernel or by nearest neighbour. When there is nothing to do
// the picture is left exactly as it was (or, with an orientation, only turned upright). Pictures
// whose rows stream are never held whole; the others hold one full-size bitmap besides their
// own graphic.
void FitToBox(TPicture& picture, const TFitOptions& options);

} // namespace parvula::imaging
