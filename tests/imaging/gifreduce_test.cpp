// ReduceToPalette: the octree's leaves and merging order, the palette's order, and the mapping.
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "imaging/gifreduce.h"
#include "imaging/imagefiles.h"
#include "imaging/imaging_support.h"

using namespace parvula::imaging;
using namespace parvula::imaging::test;

namespace {

void SetColour(TBitmap& bitmap, int x, int y, TRgb c)
{
    std::uint8_t* p = bitmap.ScanLine(y) + 3 * x;
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
}

std::vector<TRgb> UsedPalette(const TReducedImage& reduced)
{
    return std::vector<TRgb>(
        reduced.bitmap.Palette().begin(), reduced.bitmap.Palette().begin() + reduced.colourCount);
}

} // namespace

TEST(ReduceToPalette, TwoDistinctColoursAreKeptExactlyInTreeOrder)
{
    const TRgb a { 30, 20, 10 }; // red 10: bit 7 clear, so child 0 at the root
    const TRgb b { 50, 100, 200 }; // red 200: child 4, after a
    TBitmap source(5, 4, 24);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            SetColour(source, x, y, (x + y) % 2 ? a : b);
    const TBitmap copy = source;
    const TReducedImage reduced = ReduceToPalette(source);
    EXPECT_EQ(reduced.colourCount, 2);
    EXPECT_EQ(UsedPalette(reduced), (std::vector<TRgb> { a, b }));
    EXPECT_EQ(reduced.bitmap.BitsPerPixel(), 8);
    EXPECT_EQ(reduced.bitmap.Palette().size(), 256u);
    EXPECT_EQ(reduced.bitmap.Palette()[2], TRgb {});
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(reduced.bitmap.PixelIndex(x, y), (x + y) % 2 ? 0 : 1);
    // Colours differing only below the six high bits of a channel still split: 4 = bit 2.
    TBitmap close(2, 1, 24);
    SetColour(close, 1, 0, TRgb { 0, 0, 4 });
    EXPECT_EQ(ReduceToPalette(close).colourCount, 2);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(std::memcmp(copy.ScanLine(y), source.ScanLine(y), copy.Stride()), 0);
}

TEST(ReduceToPalette, ColoursSharingTheSixHighBitsShareTheirMean)
{
    struct Case {
        std::vector<TRgb> pixels;
        TRgb mean;
    };
    const std::vector<Case> cases = {
        { { TRgb { 0, 0, 0 }, TRgb { 1, 1, 1 } }, TRgb { 0, 0, 0 } }, // 1/2 drops to 0
        { { TRgb { 0, 0, 0 }, TRgb { 3, 3, 3 }, TRgb { 3, 3, 3 }, TRgb { 0, 0, 0 } },
            TRgb { 1, 1, 1 } },
        { { TRgb { 252, 8, 3 }, TRgb { 255, 11, 3 }, TRgb { 255, 11, 3 } }, TRgb { 254, 10, 3 } },
    };
    for (const Case& c : cases) {
        TBitmap source(static_cast<int>(c.pixels.size()), 1, 24);
        for (std::size_t x = 0; x < c.pixels.size(); ++x)
            SetColour(source, static_cast<int>(x), 0, c.pixels[x]);
        const TReducedImage reduced = ReduceToPalette(source);
        EXPECT_EQ(reduced.colourCount, 1);
        EXPECT_EQ(reduced.bitmap.Palette()[0], c.mean);
        for (std::size_t x = 0; x < c.pixels.size(); ++x)
            EXPECT_EQ(reduced.bitmap.PixelIndex(static_cast<int>(x), 0), 0);
    }
}

TEST(ReduceToPalette, UniformPictureGivesOneColour)
{
    const TRgb colour { 77, 66, 55 };
    const TReducedImage reduced = ReduceToPalette(SolidBitmap(9, 7, colour));
    EXPECT_EQ(reduced.colourCount, 1);
    EXPECT_EQ(reduced.bitmap.Palette()[0], colour);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(reduced.bitmap.PixelIndex(x, y), 0);
}

TEST(ReduceToPalette, TheNewestBranchIsMergedFirst)
{
    // Two colours under one level-5 node (p, q), 253 colours under a level-5 node each, then
    // two more under one new level-5 node (a, b): the 257th leaf merges the newest node, so a
    // and b become their mean while p and q, as old as the tree, stay exact.
    const TRgb p { 128, 0, 0 }, q { 132, 0, 0 }, a { 64, 0, 0 }, b { 68, 0, 0 };
    TBitmap source(257, 1, 24);
    std::vector<TRgb> kept = { p, q };
    SetColour(source, 0, 0, p);
    SetColour(source, 1, 0, q);
    for (int i = 0; i < 253; ++i) {
        const TRgb c { 0, static_cast<std::uint8_t>((i >> 5) << 3),
            static_cast<std::uint8_t>((i & 31) << 3) };
        kept.push_back(c);
        SetColour(source, i + 2, 0, c);
    }
    SetColour(source, 255, 0, a);
    SetColour(source, 256, 0, b);
    const TReducedImage reduced = ReduceToPalette(source);
    ASSERT_EQ(reduced.colourCount, 256);
    const std::vector<TRgb> palette = UsedPalette(reduced);
    for (const TRgb& c : kept)
        EXPECT_NE(std::find(palette.begin(), palette.end(), c), palette.end());
    EXPECT_NE(std::find(palette.begin(), palette.end(), (TRgb { 66, 0, 0 })), palette.end());
}

TEST(ReduceToPalette, ManyColoursDitherToAtMost256WhileKeepingTheAverage)
{
    // A smooth two-way gradient of 4096 colours.
    TBitmap source(128, 128, 24);
    double sum[3] = { 0, 0, 0 };
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const TRgb c { static_cast<std::uint8_t>(x * 2), static_cast<std::uint8_t>(y * 2),
                static_cast<std::uint8_t>((x + y) % 256) };
            SetColour(source, x, y, c);
            sum[0] += c.r;
            sum[1] += c.g;
            sum[2] += c.b;
        }
    const TReducedImage reduced = ReduceToPalette(source);
    EXPECT_LE(reduced.colourCount, 256);
    EXPECT_GT(reduced.colourCount, 64);
    double out[3] = { 0, 0, 0 };
    double worst = 0;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const int index = reduced.bitmap.PixelIndex(x, y);
            ASSERT_LT(index, reduced.colourCount);
            const TRgb c = reduced.bitmap.Palette()[index];
            const TRgb s = source.PixelColor(x, y);
            out[0] += c.r;
            out[1] += c.g;
            out[2] += c.b;
            worst = std::max({ worst, std::abs(double(c.r) - s.r), std::abs(double(c.g) - s.g),
                std::abs(double(c.b) - s.b) });
        }
    // Error diffusion keeps the mean colour; the limited error keeps every pixel near its own.
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(out[c] / (128 * 128), sum[c] / (128 * 128), 1.0) << "channel " << c;
    EXPECT_LT(worst, 64);
}

TEST(ReduceToPalette, RefusesOtherDepths)
{
    EXPECT_THROW(ReduceToPalette(TBitmap(2, 2, 32)), EImageError);
    EXPECT_THROW(ReduceToPalette(TBitmap(2, 2, 8)), EImageError);
}
