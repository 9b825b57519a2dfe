// Tests of the resampling kernels, the weight lists and Resample, down to the output byte.
#include "imaging/picstretch1.h"

#include <bit>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace parvula::imaging {
namespace {

    // A 24-bit bitmap from a function of (x, y, channel); channel 0 is blue.
    template <typename F> TBitmap MakeBitmap(int w, int h, F value)
    {
        TBitmap bitmap(w, h, 24);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    bitmap.ScanLine(y)[3 * x + c] = static_cast<std::uint8_t>(value(x, y, c));
        return bitmap;
    }

    // The pattern the golden values below were computed from: rough enough that the wide kernels
    // overshoot and get clamped.
    int Pattern(int x, int y, int c) { return (x * 53 + y * 97 + c * 31 + x * y * 7) % 256; }

    std::vector<int> Bytes(const TBitmap& bitmap)
    {
        std::vector<int> bytes;
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < 3 * bitmap.Width(); ++x)
                bytes.push_back(bitmap.ScanLine(y)[x]);
        return bytes;
    }

    std::vector<int> ResampleBytes(TBitmap source, int dw, int dh, int filterIndex)
    {
        TBitmap dest(dw, dh, 24);
        Resample(source, dest, KernelTable[filterIndex].filter, KernelTable[filterIndex].support);
        return Bytes(dest);
    }

    // Summed weight per source index of one list.
    std::map<int, double> Totals(const TWeightList& list)
    {
        std::map<int, double> totals;
        for (const TWeight& entry : list)
            totals[entry.index] += entry.weight;
        return totals;
    }

    std::uint32_t Bits(float value) { return std::bit_cast<std::uint32_t>(value); }

} // namespace

TEST(KernelTest, ValuesAreRoundedExactlyWhereSinglePrecisionIsStored)
{
    // Bit patterns computed separately from the formulas (double arithmetic, float stores).
    // Lanczos3 at 1 is not 0: pi is rounded to float before the sine.
    struct Case {
        TFilterFunc filter;
        float x;
        std::uint32_t bits;
    };
    const Case cases[] = {
        { Lanczos3Filter, 1.0f, 0xb2c5ae88 },
        { Lanczos3Filter, 0.5f, 0x3f1ba11c },
        { Lanczos3Filter, -2.5f, 0x3cc734a1 },
        { MitchellFilter, 0.0f, 0x3f638e39 },
        { MitchellFilter, 1.0f, 0x3d638e39 },
        { MitchellFilter, -1.5f, 0xbd0e38e3 },
        { BSplineFilter, 0.0f, 0x3f2aaaab },
        { BSplineFilter, 1.5f, 0x3caaaaab },
        { BellFilter, 1.0f, 0x3e000000 },
        { BellFilter, 0.7f, 0x3ea3d70b },
        { HermiteFilter, 0.3f, 0x3f48b439 },
        { TriangleFilter, -0.3f, 0x3f333333 },
        // Arguments at which storing |x|^2, the polynomial or |x|/3 in float changes the result.
        { MitchellFilter, 1.3f, 0xbcf54e38 },
        { MitchellFilter, 0.1f, 0x3f5ebbf5 },
        { BSplineFilter, 0.8474337458610535f, 0x3e8170a2 },
        { Lanczos3Filter, 2.8568742275238037f, 0x3b1e67f3 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Bits(c.filter(c.x)), c.bits) << "x = " << c.x;
}

TEST(KernelTest, SupportEdgesAndBoxAsymmetry)
{
    EXPECT_EQ(BoxFilter(0.5f), 1.0f);
    EXPECT_EQ(BoxFilter(-0.5f), 0.0f);
    EXPECT_EQ(BoxFilter(0.0f), 1.0f);
    for (int k = 2; k < KernelCount; ++k) {
        const TKernelEntry& kernel = KernelTable[k];
        SCOPED_TRACE(std::string(kernel.name));
        EXPECT_EQ(kernel.filter(kernel.support), 0.0f);
        EXPECT_EQ(kernel.filter(-kernel.support), 0.0f);
        EXPECT_NE(kernel.filter(kernel.support - 0.25f), 0.0f);
        for (float x : { 0.1f, 0.5f, 0.75f, 1.2f, 1.9f, 2.7f })
            EXPECT_EQ(Bits(kernel.filter(x)), Bits(kernel.filter(-x))) << x;
    }
}

TEST(KernelTest, TableRowsMatchTheFilterList)
{
    const char* names[]
        = { "none", "Box", "Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell" };
    const float supports[] = { 0.0f, 0.5f, 1.0f, 1.0f, 1.5f, 2.0f, 3.0f, 2.0f };
    for (int k = 0; k < KernelCount; ++k) {
        EXPECT_EQ(KernelTable[k].name, names[k]);
        EXPECT_EQ(KernelTable[k].support, supports[k]);
        EXPECT_EQ(KernelTable[k].filter == nullptr, k == 0);
    }
}

TEST(WeightListTest, TriangleFourToTwoMirrorsTheFirstPixelOnceAndRepeatsTheLast)
{
    const TWeightLists lists
        = BuildWeightLists(2, 4, ResampleScale(2, 4), TriangleFilter, KernelTable[2].support);
    ASSERT_EQ(lists.size(), 2u);
    const std::map<int, double> column0 = Totals(lists[0]);
    const std::map<int, double> column1 = Totals(lists[1]);
    ASSERT_EQ(column0.size(), 3u);
    EXPECT_NEAR(column0.at(0), 3.0 / 9, 1e-6);
    EXPECT_NEAR(column0.at(1), 4.0 / 9, 1e-6);
    EXPECT_NEAR(column0.at(2), 2.0 / 9, 1e-6);
    ASSERT_EQ(column1.size(), 3u);
    EXPECT_NEAR(column1.at(1), 1.0 / 9, 1e-6);
    EXPECT_NEAR(column1.at(2), 3.0 / 9, 1e-6);
    EXPECT_NEAR(column1.at(3), 5.0 / 9, 1e-6);
    // Entries follow the source positions j = -2 .. 2, mirrored: 2, 1, 0, 1, 2.
    std::vector<int> order;
    for (const TWeight& entry : lists[0])
        order.push_back(entry.index);
    EXPECT_EQ(order, (std::vector<int> { 2, 1, 0, 1, 2 }));
}

TEST(WeightListTest, BellAtSameSizeInTheMiddleAndAtBothEnds)
{
    const TWeightLists lists = BuildWeightLists(5, 5, ResampleScale(5, 5), BellFilter, 1.5f);
    ASSERT_EQ(lists.size(), 5u);
    EXPECT_EQ(
        Totals(lists[2]), (std::map<int, double> { { 1, 0.125 }, { 2, 0.75 }, { 3, 0.125 } }));
    EXPECT_EQ(Totals(lists[0]), (std::map<int, double> { { 0, 0.75 }, { 1, 0.25 } }));
    EXPECT_EQ(Totals(lists[4]), (std::map<int, double> { { 3, 0.125 }, { 4, 0.875 } }));
    // Zero weights (Bell at +-2) are never stored.
    for (const TWeightList& list : lists)
        for (const TWeight& entry : list)
            EXPECT_NE(entry.weight, 0.0f);
}

TEST(WeightListTest, OnePixelSourceUsesCentresIOverDestLength)
{
    EXPECT_EQ(ResampleScale(4, 1), 4.0f);
    const TWeightLists lists = BuildWeightLists(4, 1, ResampleScale(4, 1), TriangleFilter, 1.0f);
    ASSERT_EQ(lists.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        // With Triangle the first entry comes from j = 0 and weighs 1 - centre.
        ASSERT_FALSE(lists[i].empty());
        EXPECT_EQ(lists[i][0].weight, 1.0f - i / 4.0f) << i;
        for (const TWeight& entry : lists[i])
            EXPECT_EQ(entry.index, 0);
    }
}

TEST(WeightListTest, ScalesAreCornerAlignedAndNeverZero)
{
    EXPECT_EQ(ResampleScale(2, 4), static_cast<float>(1.0 / 3));
    EXPECT_EQ(ResampleScale(7, 3), 3.0f);
    EXPECT_EQ(ResampleScale(5, 5), 1.0f);
    // A 1-pixel destination from a longer line: DW / SW instead of 0 / (SW - 1).
    EXPECT_EQ(ResampleScale(1, 8), 0.125f);
    EXPECT_EQ(ResampleScale(1, 1), 1.0f);
}

TEST(WeightListTest, IndicesStayInsideLinesShorterThanTheKernel)
{
    // Lanczos3 and B-spline reach further than a mirror of 1 to 3 pixels can cover.
    for (int k = 1; k < KernelCount; ++k)
        for (int length = 1; length <= 3; ++length)
            for (int dest = 1; dest <= 5; ++dest) {
                const TWeightLists lists = BuildWeightLists(dest, length,
                    ResampleScale(dest, length), KernelTable[k].filter, KernelTable[k].support);
                for (const TWeightList& list : lists)
                    for (const TWeight& entry : list) {
                        EXPECT_GE(entry.index, 0);
                        EXPECT_LT(entry.index, length);
                    }
            }
}

TEST(ResampleTest, TriangleAndHermiteCopyAtTheSameSize)
{
    const TBitmap source = MakeBitmap(7, 5, Pattern);
    for (int k : { 2, 3 })
        EXPECT_EQ(ResampleBytes(source, 7, 5, k), Bytes(source)) << KernelTable[k].name;
}

TEST(ResampleTest, UnnormalisedBoxShrinksAUniformRowTo80_160_80)
{
    const TBitmap source = MakeBitmap(4, 1, [](int, int, int) { return 120; });
    EXPECT_EQ(ResampleBytes(source, 3, 1, 1),
        (std::vector<int> { 80, 80, 80, 160, 160, 160, 80, 80, 80 }));
}

TEST(ResampleTest, HalfwaySumsRoundToEven)
{
    // Triangle 2 -> 3 puts the middle pixel halfway: 0.5 a + 0.5 b.
    const int row[2][3] = { { 10, 10, 2 }, { 11, 13, 3 } };
    const TBitmap source = MakeBitmap(2, 1, [&](int x, int, int c) { return row[x][c]; });
    const std::vector<int> bytes = ResampleBytes(source, 3, 1, 2);
    // 10.5 -> 10, 11.5 -> 12, 2.5 -> 2.
    EXPECT_EQ(
        std::vector<int>(bytes.begin() + 3, bytes.begin() + 6), (std::vector<int> { 10, 12, 2 }));
}

TEST(ResampleTest, SumsRoundedPerEntryAndWeightsDividedByTheScaleFactor)
{
    // Rows where a sum kept in double until the end, or a weight multiplied by the scale instead
    // of divided by 1 / scale, changes a byte. Expected bytes computed separately.
    struct Case {
        std::vector<int> row;
        int dest;
        int filter;
        std::vector<int> expected;
    };
    const Case cases[] = {
        { { 137, 121 }, 1, 5, { 127 } },
        { { 36, 224, 220, 114, 25, 125, 207, 9, 157 }, 8, 1,
            { 31, 196, 192, 122, 109, 181, 8, 137 } },
    };
    for (const Case& c : cases) {
        const TBitmap source = MakeBitmap(
            static_cast<int>(c.row.size()), 1, [&](int x, int, int) { return c.row[x]; });
        const std::vector<int> bytes = ResampleBytes(source, c.dest, 1, c.filter);
        std::vector<int> blue;
        for (std::size_t i = 0; i < bytes.size(); i += 3)
            blue.push_back(bytes[i]);
        EXPECT_EQ(blue, c.expected) << KernelTable[c.filter].name;
    }
}

TEST(ResampleTest, OvershootAtAHardEdgeIsClamped)
{
    // A step from 0 to 255: Lanczos3 and Mitchell ring on both sides of it.
    const TBitmap source = MakeBitmap(8, 1, [](int x, int, int) { return x < 4 ? 0 : 255; });
    for (int k : { 6, 7 }) {
        SCOPED_TRACE(std::string(KernelTable[k].name));
        const TWeightLists lists = BuildWeightLists(
            19, 8, ResampleScale(19, 8), KernelTable[k].filter, KernelTable[k].support);
        const std::vector<int> bytes = ResampleBytes(source, 19, 1, k);
        bool above = false;
        bool below = false;
        for (int i = 0; i < 19; ++i) {
            double sum = 0;
            for (const TWeight& entry : lists[i])
                sum += (entry.index < 4 ? 0 : 255) * static_cast<double>(entry.weight);
            if (sum > 255.5) {
                above = true;
                EXPECT_EQ(bytes[3 * i], 255) << i;
            }
            if (sum < -0.5) {
                below = true;
                EXPECT_EQ(bytes[3 * i], 0) << i;
            }
        }
        EXPECT_TRUE(above);
        EXPECT_TRUE(below);
    }
}

TEST(ResampleTest, MatchesIndependentlyComputedBytesForEveryKernel)
{
    // 5 x 3 of Pattern -> 3 x 4: the horizontal pass shrinks, the vertical one enlarges.
    const std::vector<int> expected[] = {
        {},
        { 26, 58, 88, 80, 110, 142, 186, 216, 120, 127, 158, 189, 187, 218, 121, 51, 82, 113, 127,
            158, 189, 187, 218, 121, 51, 82, 113, 100, 130, 34, 38, 70, 100, 172, 204, 106 },
        { 26, 58, 88, 106, 137, 168, 199, 230, 69, 93, 125, 155, 137, 168, 114, 110, 141, 108, 118,
            149, 137, 126, 157, 103, 107, 138, 105, 100, 130, 34, 72, 103, 134, 189, 220, 59 },
        { 26, 58, 88, 106, 137, 168, 199, 230, 69, 101, 132, 163, 141, 172, 108, 100, 131, 113, 120,
            151, 149, 132, 163, 99, 98, 129, 110, 100, 130, 34, 72, 103, 134, 189, 220, 59 },
        { 66, 96, 120, 114, 145, 140, 160, 190, 98, 106, 137, 146, 126, 157, 120, 113, 144, 107,
            120, 151, 129, 120, 151, 109, 109, 140, 103, 91, 122, 65, 94, 125, 116, 164, 195, 84 },
        { 79, 110, 127, 115, 146, 133, 147, 178, 104, 105, 136, 138, 121, 152, 122, 120, 151, 106,
            116, 147, 122, 116, 147, 112, 116, 147, 102, 92, 123, 77, 100, 131, 111, 154, 185, 90 },
        { 16, 47, 71, 103, 134, 182, 209, 240, 65, 100, 131, 173, 139, 170, 112, 94, 125, 111, 145,
            175, 169, 132, 163, 84, 70, 101, 117, 86, 117, 14, 68, 99, 147, 205, 236, 58 },
        { 41, 72, 102, 109, 140, 156, 183, 214, 83, 102, 133, 158, 133, 164, 116, 106, 137, 109,
            125, 156, 141, 125, 156, 103, 99, 130, 107, 91, 122, 44, 82, 113, 128, 181, 212, 71 },
    };
    const TBitmap source = MakeBitmap(5, 3, Pattern);
    for (int k = 1; k < KernelCount; ++k)
        EXPECT_EQ(ResampleBytes(source, 3, 4, k), expected[k]) << KernelTable[k].name;
}

TEST(ResampleTest, TinySourcesAgainstWideKernelsStayInsideTheirLines)
{
    // Mirrored positions beyond the line read its nearest pixel; 1-pixel destinations from
    // longer sources scale by DW / SW. Expected bytes computed separately.
    struct Case {
        int sw, sh, dw, dh, filter;
        std::vector<int> bytes;
    };
    const Case cases[] = {
        { 3, 1, 2, 1, 6, { 19, 50, 81, 99, 130, 161 } },
        { 1, 1, 3, 2, 4, { 0, 31, 62, 0, 31, 62, 0, 31, 62, 0, 31, 62, 0, 31, 62, 0, 31, 62 } },
        { 5, 2, 1, 1, 6, { 109, 140, 132 } },
        { 2, 5, 7, 1, 7,
            { 97, 128, 100, 97, 128, 102, 97, 128, 107, 97, 128, 115, 97, 128, 123, 97, 128, 130,
                98, 129, 135 } },
        { 1, 3, 4, 1, 5, { 112, 143, 77, 112, 143, 77, 112, 143, 77, 112, 143, 77 } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResampleBytes(MakeBitmap(c.sw, c.sh, Pattern), c.dw, c.dh, c.filter), c.bytes)
            << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " "
            << KernelTable[c.filter].name;
}

TEST(ResampleTest, DestinationWithoutPixelsIsLeftEmpty)
{
    for (auto [w, h] : { std::pair { 0, 3 }, std::pair { 3, 0 } }) {
        TBitmap source = MakeBitmap(4, 2, Pattern);
        TBitmap dest(w, h, 24);
        EXPECT_NO_THROW(Resample(source, dest, Lanczos3Filter, 3.0f));
        EXPECT_EQ(dest.Width(), w);
        EXPECT_EQ(dest.Height(), h);
    }
}

TEST(ResampleTest, EmptySourceFailsBeforeTouchingTheDestination)
{
    for (auto [w, h] : { std::pair { 0, 4 }, std::pair { 4, 0 }, std::pair { 0, 0 } }) {
        TBitmap source(w, h, 24);
        TBitmap dest(3, 3, 8);
        dest.SetPixelIndex(1, 1, 7);
        try {
            Resample(source, dest, TriangleFilter, 1.0f);
            ADD_FAILURE() << "no error for " << w << "x" << h;
        } catch (const EImageError& e) {
            EXPECT_STREQ(e.what(), "Source bitmap too small");
        }
        EXPECT_EQ(dest.BitsPerPixel(), 8);
        EXPECT_EQ(dest.PixelIndex(1, 1), 7);
    }
}

TEST(ResampleTest, PalettedSourceIsResampledAsItsColours)
{
    TBitmap paletted(4, 3, 8);
    for (int i = 0; i < 256; ++i)
        paletted.Palette()[i] = TRgb { static_cast<std::uint8_t>(i),
            static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i * 7) };
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            paletted.SetPixelIndex(x, y, Pattern(x, y, 0));
    const TBitmap direct = MakeBitmap(4, 3, [&](int x, int y, int c) {
        const TRgb colour = paletted.PixelColor(x, y);
        return c == 0 ? colour.b : c == 1 ? colour.g : colour.r;
    });
    TBitmap dest(3, 5, 1);
    Resample(paletted, dest, MitchellFilter, 2.0f);
    EXPECT_EQ(paletted.BitsPerPixel(), 24);
    EXPECT_EQ(dest.BitsPerPixel(), 24);
    EXPECT_EQ(Bytes(dest), ResampleBytes(direct, 3, 5, 7));
}

} // namespace parvula::imaging
