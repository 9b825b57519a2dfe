// Turned pictures without turning them first: the streamed passes for every EXIF orientation
// against "turn upright, then resample" (Upright, then Resample with the plain loops), for every
// kernel and instruction-set level, shrinking and enlarging, odd sizes, one-pixel sides, rows
// wider and columns taller than the rings; FitToBox on turned JPEGs (kernels, nearest, a box that
// keeps the size) and the benchmark's turned photos.
#include "imaging/picstretch1.h"
#include "imaging/imaging_support.h"
#include "imaging/orientation.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace parvula::imaging {
namespace {

    using test::PixelBytes;
    using test::RoughBitmap;
    using test::TBytes;
    using test::TLevelGuard;

    // Hands out each row once, from the top, and counts them.
    class TCountedRows final : public TRowReader {
    public:
        explicit TCountedRows(const TBitmap& bitmap)
            : m_bitmap(bitmap)
        {
        }
        int Width() const override { return m_bitmap.Width(); }
        int Height() const override { return m_bitmap.Height(); }
        void ReadRow(std::uint8_t* bgr) override
        {
            if (m_next >= m_bitmap.Height())
                throw EError(TCode::JpegNoMoreRows);
            const std::uint8_t* row = m_bitmap.ScanLine(m_next++);
            std::copy(row, row + 3 * m_bitmap.Width(), bgr);
        }
        int RowsRead() const { return m_next; }

    private:
        const TBitmap& m_bitmap;
        int m_next = 0;
    };

    // The reference: the picture turned upright as a whole, then resampled with the plain loops.
    std::vector<std::uint8_t> TurnThenResample(
        const TBitmap& stored, int orientation, int dw, int dh, int filter)
    {
        const TLevelGuard guard;
        SetSimdLevel(TSimdLevel::Scalar);
        TBitmap upright = Upright(stored, orientation);
        TBitmap dest(dw, dh, 24);
        const TKernelEntry& kernel = KernelTable[static_cast<std::size_t>(filter)];
        Resample(upright, dest, kernel.filter, kernel.support);
        return PixelBytes(dest);
    }

    std::vector<TSimdLevel> Levels()
    {
        std::vector<TSimdLevel> levels { TSimdLevel::Scalar };
        for (TSimdLevel level : { TSimdLevel::Sse2, TSimdLevel::Avx2, TSimdLevel::Avx512 }) {
            if (level <= SupportedSimdLevel())
                levels.push_back(level);
            else
                std::printf("[   NOTE   ] level %d is not on this processor: not compared\n",
                    static_cast<int>(level));
        }
        return levels;
    }

    struct TSizeCase {
        int sw, sh; // stored
        int dw, dh; // upright destination
    };

    // Shrinking and enlarging on either side, one-pixel sides, sides the kernels mirror past,
    // counts that leave partial blocks; stored rows wider than the ring of turned pixels and
    // stored columns taller than the ring of decoded rows (both passes of a turned picture);
    // lines made several at once over long lists, the ring wrapping under them.
    const TSizeCase kSizes[] = {
        { 97, 61, 23, 17 },
        { 23, 17, 97, 61 },
        { 61, 97, 17, 23 },
        { 200, 133, 71, 37 },
        { 1, 1, 5, 3 },
        { 1, 29, 7, 1 },
        { 29, 1, 1, 7 },
        { 3, 2, 2, 3 },
        { 64, 33, 33, 64 },
        { 301, 7, 19, 100 },
        { 13, 250, 40, 9 },
        { 1500, 19, 5, 37 },
        { 9, 1200, 37, 4 },
        { 5, 2000, 300, 3 },
        { 300, 7, 5, 701 },
        { 7, 150, 391, 5 },
        { 70, 900, 25, 40 },
    };

} // namespace

TEST(TurnedResampleTest, EveryOrientationStreamsToTheBytesOfTurningFirst)
{
    const TLevelGuard guard;
    const std::vector<TSimdLevel> levels = Levels();
    unsigned seed = 300;
    for (const TSizeCase& size : kSizes) {
        const TBitmap stored = RoughBitmap(size.sw, size.sh, seed++);
        for (int orientation = 1; orientation <= 8; ++orientation) {
            for (int filter = 1; filter < KernelCount; ++filter) {
                const std::vector<std::uint8_t> reference
                    = TurnThenResample(stored, orientation, size.dw, size.dh, filter);
                const TKernelEntry& kernel = KernelTable[static_cast<std::size_t>(filter)];
                for (TSimdLevel level : levels) {
                    SetSimdLevel(level);
                    TCountedRows rows(stored);
                    TBitmap dest(size.dw, size.dh, 24);
                    ResampleRows(rows, dest, kernel.filter, kernel.support, orientation);
                    EXPECT_EQ(rows.RowsRead(), size.sh);
                    EXPECT_EQ(PixelBytes(dest), reference)
                        << "orientation " << orientation << ", level " << static_cast<int>(level)
                        << ", filter " << filter << ", " << size.sw << "x" << size.sh << " -> "
                        << size.dw << "x" << size.dh;
                }
            }
        }
    }
}

// A very small box from a tall stored picture: its lines lie so far apart that making four at
// once would keep too many decoded rows, so fewer are made together.
TEST(TurnedResampleTest, LinesFarApartStreamToTheBytesOfTurningFirst)
{
    const TLevelGuard guard;
    const TBitmap stored = RoughBitmap(4700, 1200, 41);
    const TKernelEntry& kernel = KernelOf(TFilter::Lanczos3);
    for (int orientation : { 6, 8 }) {
        const std::vector<std::uint8_t> reference
            = TurnThenResample(stored, orientation, 12, 3, static_cast<int>(TFilter::Lanczos3));
        for (TSimdLevel level : Levels()) {
            SetSimdLevel(level);
            TCountedRows rows(stored);
            TBitmap dest(12, 3, 24);
            ResampleRows(rows, dest, kernel.filter, kernel.support, orientation);
            EXPECT_EQ(PixelBytes(dest), reference)
                << "orientation " << orientation << ", level " << static_cast<int>(level);
        }
    }
}

namespace {

    TBytes JpegOf(const TBitmap& bitmap, int quality)
    {
        TPicture picture;
        picture.Assign(bitmap);
        return EncodeJpeg(picture, "x.jpg", quality)->bytes;
    }

    // The decoded bitmap of a JPEG picture (the picture itself stays a JPEG).
    TBitmap Decoded(const TPicture& jpeg)
    {
        TBitmap bitmap(jpeg.Width(), jpeg.Height(), 24);
        bitmap.Fill(TRgb { 255, 255, 255 });
        jpeg.DrawOnto(bitmap);
        return bitmap;
    }

} // namespace

TEST(TurnedResampleTest, FitToBoxTurnsJpegsAsTurningTheDecodedPictureFirstWould)
{
    const TLevelGuard guard;
    const test::TTempDir dir;
    const TBytes file = JpegOf(RoughBitmap(77, 52, 7), 90);
    const TBitmap stored = Decoded(test::LoadBytes(dir, "s.jpg", file));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const TBitmap upright = Upright(stored, orientation);
        // A kernel and nearest-neighbour stretching, shrinking and enlarging, and a box that keeps
        // the size (the picture is only turned).
        struct TCase {
            int box;
            TFilter filter;
        };
        for (const TCase c : { TCase { 30, TFilter::Lanczos3 }, TCase { 120, TFilter::Mitchell },
                 TCase { 30, TFilter::None }, TCase { 120, TFilter::None },
                 TCase { 0, TFilter::Lanczos3 } }) {
            TFitOptions options { c.box, c.box, true, TFitDirection::BothWays, c.filter };
            SetSimdLevel(TSimdLevel::Scalar);
            TPicture whole;
            whole.Assign(upright);
            FitToBox(whole, options);
            SetSimdLevel(SupportedSimdLevel());
            TPicture jpeg = test::LoadBytes(dir, "t.jpg", file);
            options.orientation = orientation;
            FitToBox(jpeg, options);
            ASSERT_EQ(jpeg.Kind(),
                orientation == 1 && c.box == 0 ? TGraphicKind::Jpeg : TGraphicKind::Bitmap);
            if (jpeg.Kind() != TGraphicKind::Bitmap)
                continue;
            EXPECT_EQ(PixelBytes(*jpeg.Bitmap()), PixelBytes(*whole.Bitmap()))
                << "orientation " << orientation << ", box " << c.box << ", filter "
                << static_cast<int>(c.filter);
        }
    }
}

TEST(TurnedResampleTest, BenchmarkTurnedPhotosStreamToTheBytesOfTurningFirst)
{
    const char* configured = std::getenv("PARVULA_PHOTO_CORPUS");
    const std::filesystem::path dir
        = std::filesystem::path(configured ? configured : "/tmp/parvula-photos") / "jpg-turned";
    if (!std::filesystem::is_directory(dir))
        GTEST_SKIP() << "the benchmark's turned photos are absent (bench/run.sh builds them)";
    std::vector<std::filesystem::path> photos;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        photos.push_back(entry.path());
    std::sort(photos.begin(), photos.end());
    const TLevelGuard guard;
    // The first three photos carry orientations 6, 8 and 3; a whole-picture reference with the
    // plain loops takes about a second each.
    for (std::size_t i = 0; i < std::min<std::size_t>(3, photos.size()); ++i) {
        TPicture photo = test::Load(photos[i]);
        const int orientation = PictureOrientation(photo);
        TFitOptions options { 200, 200, true, TFitDirection::BothWays, TFilter::Lanczos3 };
        SetSimdLevel(TSimdLevel::Scalar);
        TPicture whole;
        whole.Assign(Upright(Decoded(test::Load(photos[i])), orientation));
        FitToBox(whole, options);
        SetSimdLevel(SupportedSimdLevel());
        options.orientation = orientation;
        FitToBox(photo, options);
        ASSERT_EQ(photo.Kind(), TGraphicKind::Bitmap);
        EXPECT_EQ(PixelBytes(*photo.Bitmap()), PixelBytes(*whole.Bitmap()))
            << photos[i] << ", orientation " << orientation;
    }
}

} // namespace parvula::imaging
