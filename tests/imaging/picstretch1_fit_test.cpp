// Tests of FitToBox: the target size table, "nothing to do", drawing on white, nearest neighbour.
#include "imaging/picstretch1.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace parvula::imaging {
namespace {

    TBitmap Rows24(const std::vector<std::vector<TRgb>>& rows)
    {
        TBitmap bitmap(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 24);
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x) {
                const TRgb c = rows[y][x];
                std::uint8_t* p = bitmap.ScanLine(y) + 3 * x;
                p[0] = c.b;
                p[1] = c.g;
                p[2] = c.r;
            }
        return bitmap;
    }

    TRgb Grey(int v)
    {
        const auto b = static_cast<std::uint8_t>(v);
        return TRgb { b, b, b };
    }

    // A w x h grey gradient with some texture, so that smoothing kernels change it.
    TBitmap Gradient(int w, int h)
    {
        std::vector<std::vector<TRgb>> rows(h, std::vector<TRgb>(w));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                rows[y][x] = Grey((x * 5 + y * 3 + ((x ^ y) & 1) * 40) % 256);
        return Rows24(rows);
    }

    TPicture PictureOf(TBitmap bitmap)
    {
        TPicture picture;
        picture.Assign(std::move(bitmap));
        return picture;
    }

    std::vector<std::uint8_t> Pixels(const TBitmap& bitmap)
    {
        std::vector<std::uint8_t> bytes;
        for (int y = 0; y < bitmap.Height(); ++y)
            bytes.insert(bytes.end(), bitmap.ScanLine(y),
                bitmap.ScanLine(y) + (bitmap.Width() * bitmap.BitsPerPixel() + 7) / 8);
        return bytes;
    }

    const std::filesystem::path CorporaDir = PARVULA_CORPORA_DIR;

    // A folder of its own under the system's temporary folder, removed afterwards.
    class TTempDir {
    public:
        TTempDir()
        {
            m_path = std::filesystem::temp_directory_path()
                / ("parvula-fit-"
                    + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-"
                    + ::testing::UnitTest::GetInstance()->current_test_info()->name());
            std::filesystem::create_directories(m_path);
        }
        ~TTempDir()
        {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
        }
        const std::filesystem::path& Path() const { return m_path; }

    private:
        std::filesystem::path m_path;
    };

    // The tables' shorthand for the direction: -1 shrink only, 0 both ways, 1 enlarge only.
    TFitDirection Direction(int direction)
    {
        if (direction < 0)
            return TFitDirection::ShrinkOnly;
        return direction > 0 ? TFitDirection::EnlargeOnly : TFitDirection::BothWays;
    }

} // namespace

TEST(FitToBoxTest, TheFilterListsIndexNamesItsKernelTableRow)
{
    EXPECT_EQ(FilterOfListIndex(-1), TFilter::None); // no item selected
    EXPECT_EQ(FilterOfListIndex(-3), TFilter::None);
    const char* const names[]
        = { "none", "Box", "Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell" };
    for (int index = 0; index < KernelCount; ++index) {
        const TFilter filter = FilterOfListIndex(index);
        EXPECT_EQ(KernelOf(filter).name, names[index]);
        EXPECT_EQ(KernelOf(filter).filter == nullptr, filter == TFilter::None) << names[index];
    }
    EXPECT_THROW(FilterOfListIndex(KernelCount), EImageError);
}

TEST(FitTargetSizeTest, BoxTable)
{
    struct Case {
        int pw, ph, maxW, maxH;
        bool keep;
        int direction;
        std::optional<TFitSize> expected;
    };
    const std::optional<TFitSize> unchanged;
    const Case cases[] = {
        { 400, 300, 200, 0, true, 0, TFitSize { 200, 150 } },
        { 400, 300, 0, 150, true, 0, TFitSize { 200, 150 } },
        { 400, 300, 100, 100, true, 0, TFitSize { 100, 75 } },
        { 300, 400, 100, 100, true, 0, TFitSize { 75, 100 } },
        { 40, 20, 100, 100, true, 0, TFitSize { 100, 50 } }, // enlarged to touch the box
        { 100, 50, 100, 100, true, 0, TFitSize { 100, 50 } }, // the box differs: still scaled
        { 3, 2, 0, 3, true, 0, TFitSize { 4, 3 } }, // 4.5 rounds to the even 4
        { 5, 2, 0, 3, true, 0, TFitSize { 8, 3 } }, // 7.5 rounds to the even 8
        { 400, 300, 0, 0, true, 0, unchanged },
        { 400, 300, -5, -1, true, 0, unchanged },
        { 400, 300, 400, 300, true, 0, unchanged },
        // Direction tests look at the box.
        { 400, 300, 500, 500, true, -1, unchanged },
        { 400, 300, 100, 100, true, -1, TFitSize { 100, 75 } },
        { 400, 300, 500, 200, true, -1, TFitSize { 267, 200 } },
        { 400, 300, 100, 100, true, 1, unchanged },
        { 400, 300, 500, 500, true, 1, TFitSize { 500, 375 } },
        { 400, 300, 100, 500, true, 1, TFitSize { 100, 75 } }, // enlarging box, final size smaller
        // Keep aspect off: a missing side is the picture's own.
        { 400, 300, 50, 0, false, 0, TFitSize { 50, 300 } },
        { 400, 300, 0, 0, false, 0, unchanged },
        { 400, 300, 400, 0, false, 0, unchanged },
        { 400, 300, 10, 20, false, 0, TFitSize { 10, 20 } },
        // A side that rounds to 0 gets one pixel.
        { 1000, 4, 100, 0, true, 0, TFitSize { 100, 1 } },
        { 4, 1000, 100, 100, true, 0, TFitSize { 1, 100 } },
        // A division by a picture side of 0, or a size beyond int: left unchanged.
        { 0, 0, 100, 100, true, 0, unchanged },
        { 0, 10, 100, 0, true, 0, unchanged },
        { 65535, 1, 0, INT_MAX, true, 0, unchanged },
        // No division by the side of 0 here: the target reaches the scaling (which then fails).
        { 0, 0, 10, 20, false, 0, TFitSize { 10, 20 } },
    };
    for (const Case& c : cases) {
        const std::optional<TFitSize> size
            = FitTargetSize(c.pw, c.ph, { c.maxW, c.maxH, c.keep, Direction(c.direction) });
        EXPECT_EQ(size, c.expected) << c.pw << "x" << c.ph << " in " << c.maxW << "x" << c.maxH
                                    << " keep " << c.keep << " direction " << c.direction;
    }
}

TEST(FitToBoxTest, NothingToDoLeavesThePictureExactlyAsItWas)
{
    struct Case {
        int maxW, maxH, direction;
    };
    for (const Case& c :
        { Case { 0, 0, 0 }, Case { 6, 4, 0 }, Case { 50, 50, -1 }, Case { 3, 2, 1 } }) {
        // An 8-bit bitmap with its mark on: any conversion would show in the depth or the mark.
        TBitmap bitmap(6, 4, 8);
        for (int i = 0; i < 256; ++i)
            bitmap.Palette()[i] = Grey(255 - i);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                bitmap.SetPixelIndex(x, y, x * 40 + y);
        bitmap.SetTransparent(true);
        const std::vector<std::uint8_t> before = Pixels(bitmap);
        TPicture picture = PictureOf(bitmap);
        FitToBox(picture, { c.maxW, c.maxH, true, Direction(c.direction), TFilter::Lanczos3 });
        ASSERT_NE(picture.Bitmap(), nullptr);
        EXPECT_EQ(picture.Bitmap()->BitsPerPixel(), 8) << c.maxW << "x" << c.maxH;
        EXPECT_TRUE(picture.Bitmap()->Transparent());
        EXPECT_EQ(Pixels(*picture.Bitmap()), before);
    }
}

TEST(FitToBoxTest, JpegLeftAloneStaysTheSameJpeg)
{
    const TTempDir dir;
    TPicture source = PictureOf(Gradient(16, 8));
    const std::optional<TEncodedFile> file = EncodeJpeg(source, dir.Path() / "photo.jpg", 80);
    ASSERT_TRUE(file.has_value());
    std::ofstream(file->path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file->bytes.data()),
            static_cast<std::streamsize>(file->bytes.size()));

    TPicture picture;
    LoadFromFile(picture, file->path);
    FitToBox(picture, { 0, 0, true, TFitDirection::BothWays, TFilter::Lanczos3 });
    FitToBox(picture, { 16, 8, true, TFitDirection::BothWays, TFilter::Lanczos3 });
    FitToBox(picture, { 8, 4, true, TFitDirection::EnlargeOnly, TFilter::None });
    ASSERT_EQ(picture.Kind(), TGraphicKind::Jpeg);
    // Still the stored bytes: a save at quality 100 writes them unchanged.
    const std::optional<TEncodedFile> again = EncodeJpeg(picture, dir.Path() / "again.jpg", 100);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->bytes, file->bytes);
}

TEST(FitToBoxTest, ResultIsA24BitBitmapDrawnOnWhiteWithTheMarkOff)
{
    // The bottom-left colour is the transparent one while the mark is on: it is not drawn, so it
    // comes out white.
    const TRgb red { 0, 0, 200 };
    const TRgb blue { 200, 0, 0 };
    TBitmap bitmap = Rows24({ { blue, red }, { red, blue } });
    bitmap.SetTransparent(true);
    TPicture picture = PictureOf(std::move(bitmap));
    FitToBox(picture, { 4, 4, true, TFitDirection::BothWays, TFilter::None });
    ASSERT_NE(picture.Bitmap(), nullptr);
    const TBitmap& result = *picture.Bitmap();
    EXPECT_EQ(result.BitsPerPixel(), 24);
    EXPECT_FALSE(result.Transparent());
    const TRgb white = Grey(255);
    EXPECT_EQ(Pixels(result),
        Pixels(Rows24({ { blue, blue, white, white }, { blue, blue, white, white },
            { white, white, blue, blue }, { white, white, blue, blue } })));
}

TEST(FitToBoxTest, OwnSizeThroughALargerBoxIsStillScaled)
{
    const TBitmap source = Gradient(100, 50);
    TPicture triangle = PictureOf(source);
    FitToBox(triangle, { 100, 100, true, TFitDirection::BothWays, TFilter::Triangle });
    ASSERT_NE(triangle.Bitmap(), nullptr);
    EXPECT_EQ(Pixels(*triangle.Bitmap()), Pixels(source));

    TPicture bell = PictureOf(source);
    FitToBox(bell, { 100, 100, true, TFitDirection::BothWays, TFilter::Bell });
    ASSERT_NE(bell.Bitmap(), nullptr);
    EXPECT_EQ(bell.Width(), 100);
    EXPECT_EQ(bell.Height(), 50);
    EXPECT_NE(Pixels(*bell.Bitmap()), Pixels(source));
}

TEST(FitToBoxTest, FilterIndexSelectsItsKernelTableRow)
{
    const TBitmap source = Gradient(9, 7);
    for (int k = 1; k < KernelCount; ++k) {
        TPicture picture = PictureOf(source);
        FitToBox(picture, { 5, 0, true, TFitDirection::BothWays, FilterOfListIndex(k) });
        TBitmap copy = source;
        TBitmap expected(5, 4, 24);
        Resample(copy, expected, KernelTable[k].filter, KernelTable[k].support);
        ASSERT_NE(picture.Bitmap(), nullptr);
        EXPECT_EQ(Pixels(*picture.Bitmap()), Pixels(expected)) << KernelTable[k].name;
    }
}

TEST(FitToBoxTest, NearestNeighbourCopiesWholeRowsAndColumns)
{
    const std::vector<TRgb> row { Grey(10), Grey(20), Grey(30), Grey(40) };
    TPicture enlarged = PictureOf(Rows24({ row }));
    FitToBox(enlarged, { 8, 2, false, TFitDirection::BothWays, TFilter::None });
    const std::vector<TRgb> doubled { row[0], row[0], row[1], row[1], row[2], row[2], row[3],
        row[3] };
    ASSERT_NE(enlarged.Bitmap(), nullptr);
    EXPECT_EQ(Pixels(*enlarged.Bitmap()), Pixels(Rows24({ doubled, doubled })));

    // Shrinking takes the pixel under each target pixel's centre: 5 -> 2 keeps columns 1 and 3.
    TPicture shrunk = PictureOf(Rows24({ { Grey(1), Grey(2), Grey(3), Grey(4), Grey(5) } }));
    FitToBox(shrunk, { 2, 1, false, TFitDirection::BothWays, FilterOfListIndex(-3) });
    ASSERT_NE(shrunk.Bitmap(), nullptr);
    EXPECT_EQ(Pixels(*shrunk.Bitmap()), Pixels(Rows24({ { Grey(2), Grey(4) } })));

    // Uneven factors in both directions still introduce no value that was not there.
    const TBitmap source = Gradient(13, 7);
    std::set<int> values;
    for (std::uint8_t v : Pixels(source))
        values.insert(v);
    for (auto [w, h] : { std::pair { 5, 11 }, std::pair { 29, 3 }, std::pair { 1, 1 } }) {
        TPicture picture = PictureOf(source);
        FitToBox(picture, { w, h, false, TFitDirection::BothWays, TFilter::None });
        ASSERT_NE(picture.Bitmap(), nullptr);
        EXPECT_EQ(picture.Width(), w);
        for (std::uint8_t v : Pixels(*picture.Bitmap()))
            EXPECT_TRUE(values.count(v)) << int(v);
    }
}

TEST(FitToBoxTest, ExtremeAspectRatioGivesAOnePixelSide)
{
    for (int filter : { 0, 6 }) {
        TPicture picture = PictureOf(Gradient(1000, 4));
        FitToBox(picture, { 100, 0, true, TFitDirection::BothWays, FilterOfListIndex(filter) });
        EXPECT_EQ(picture.Width(), 100);
        EXPECT_EQ(picture.Height(), 1);
    }
}

TEST(FitToBoxTest, ScalingErrorsReachTheCallerAndKeepThePicture)
{
    // A picture without pixels: kept when the size computation would divide by its side, and
    // refused by the scaling when it gets a target without dividing.
    for (int filter : { 0, 2 }) {
        TPicture empty;
        FitToBox(empty, { 10, 10, true, TFitDirection::BothWays, FilterOfListIndex(filter) });
        EXPECT_TRUE(empty.Empty());
        try {
            FitToBox(empty, { 10, 10, false, TFitDirection::BothWays, FilterOfListIndex(filter) });
            ADD_FAILURE() << "no error with filter " << filter;
        } catch (const EImageError& e) {
            EXPECT_STREQ(e.what(), "Source bitmap too small");
        }
        EXPECT_TRUE(empty.Empty());
    }
}

TEST(FitToBoxTest, TransparentPngComesOutOnWhite)
{
    // A PNG whose colour key (the bottom-left colour, green) marks transparent pixels.
    const TRgb green { 0, 255, 0 };
    const TRgb blue { 255, 0, 0 };
    TBitmap bitmap
        = Rows24({ { blue, green, blue }, { green, blue, blue }, { green, green, blue } });
    bitmap.SetTransparent(true);
    TPicture source = PictureOf(std::move(bitmap));
    const TTempDir dir;
    const std::optional<TEncodedFile> file = EncodePng(source, dir.Path() / "key.png");
    ASSERT_TRUE(file.has_value());
    std::ofstream(file->path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file->bytes.data()),
            static_cast<std::streamsize>(file->bytes.size()));

    TPicture picture;
    LoadFromFile(picture, file->path);
    ASSERT_EQ(picture.Kind(), TGraphicKind::Png);
    FitToBox(picture, { 6, 6, true, TFitDirection::BothWays, TFilter::None });
    ASSERT_NE(picture.Bitmap(), nullptr);
    const TRgb white = Grey(255);
    TBitmap expected
        = Rows24({ { blue, white, blue }, { white, blue, blue }, { white, white, blue } });
    TBitmap doubled(6, 6, 24);
    StretchNearest(expected, doubled);
    EXPECT_EQ(Pixels(*picture.Bitmap()), Pixels(doubled));
}

TEST(FitToBoxTest, AnimatedGifComesOutAsItsFirstFrameOnWhite)
{
    const std::filesystem::path folder = CorporaDir / "valid/gif/gif-test-suite";
    if (!std::filesystem::exists(folder))
        GTEST_SKIP() << "image corpus not found at " << CorporaDir;
    // The reference renderings are PNGs of the composited frames with transparency kept.
    const auto fitted = [](const std::filesystem::path& path) {
        TPicture picture;
        LoadFromFile(picture, path);
        FitToBox(picture, { 50, 50, true, TFitDirection::BothWays, TFilter::None });
        return Pixels(*picture.Bitmap());
    };
    const std::vector<std::uint8_t> gif = fitted(folder / "animated_transparent_loop.gif");
    EXPECT_EQ(gif, fitted(folder / "animated_transparent_loop.ref.png"));
    EXPECT_NE(gif, fitted(folder / "animated_transparent_loop.f1.ref.png"));
    EXPECT_NE(std::count(gif.begin(), gif.end(), 255), 0);
}

} // namespace parvula::imaging
