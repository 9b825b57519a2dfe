// Tests of MonoTint, ToGrey and the colour values below 0.
#include "imaging/pic1.h"

#include "imaging/imagefiles_internal.h"

#include <cstdint>
#include <set>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace parvula::imaging {
namespace {

    TRgb Rgb(int r, int g, int b)
    {
        return TRgb { static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
            static_cast<std::uint8_t>(r) };
    }
    TRgb Grey(int v) { return Rgb(v, v, v); }

    // TColor: red in the low byte, then green, then blue.
    std::int32_t TColor(int r, int g, int b) { return r | (g << 8) | (b << 16); }

    TPicture PictureOfRow(const std::vector<TRgb>& row)
    {
        TBitmap bitmap(static_cast<int>(row.size()), 1, 24);
        for (std::size_t x = 0; x < row.size(); ++x) {
            std::uint8_t* p = bitmap.ScanLine(0) + 3 * x;
            p[0] = row[x].b;
            p[1] = row[x].g;
            p[2] = row[x].r;
        }
        TPicture picture;
        picture.Assign(std::move(bitmap));
        return picture;
    }

    std::vector<TRgb> RowOf(const TPicture& picture)
    {
        std::vector<TRgb> row;
        for (int x = 0; x < picture.Width(); ++x)
            row.push_back(picture.Bitmap()->PixelColor(x, 0));
        return row;
    }

    const TRgb Ink = Rgb(200, 10, 60);
    const std::int32_t InkColor = TColor(200, 10, 60);

} // namespace

TEST(ToGreyTest, WeightsDropTheFraction)
{
    const std::vector<std::pair<TRgb, int>> cases {
        { Grey(255), 255 },
        { Grey(0), 0 },
        { Rgb(255, 0, 0), 76 },
        { Rgb(0, 255, 0), 150 },
        { Rgb(0, 0, 255), 27 },
        { Rgb(10, 20, 30), 18 },
        { Grey(137), 137 },
    };
    std::vector<TRgb> row;
    for (const auto& c : cases)
        row.push_back(c.first);
    TPicture picture = PictureOfRow(row);
    ToGrey(picture);
    for (std::size_t x = 0; x < cases.size(); ++x)
        EXPECT_EQ(picture.Bitmap()->PixelColor(static_cast<int>(x), 0), Grey(cases[x].second)) << x;
}

TEST(MonoTintTest, ToleranceIsInclusiveOnEveryChannel)
{
    // Top-left grey 100 is the background; 30 away on either side still is, 31 is not.
    TPicture picture = PictureOfRow({ Grey(100), Grey(130), Grey(131), Grey(70), Grey(69) });
    MonoTint(picture, { InkColor, 30, BackgroundFromTopLeft, true });
    EXPECT_EQ(RowOf(picture), (std::vector<TRgb> { Grey(100), Grey(100), Ink, Grey(100), Ink }));

    // Without the grey step each channel is compared with the top-left pixel's own.
    const TRgb key = Rgb(100, 150, 200);
    TPicture colour = PictureOfRow(
        { key, Rgb(130, 120, 230), Rgb(100, 150, 231), Rgb(69, 150, 200), Rgb(100, 181, 200) });
    MonoTint(colour, { InkColor, 30, BackgroundFromTopLeft, false });
    EXPECT_EQ(RowOf(colour), (std::vector<TRgb> { key, key, Ink, Ink, Ink }));
}

TEST(MonoTintTest, DarkTopLeftPixelMakesTheDarkGreysBackground)
{
    std::vector<TRgb> row { Grey(10) };
    for (int v = 0; v <= 60; v += 5)
        row.push_back(Grey(v));
    row.push_back(Grey(41));
    TPicture picture = PictureOfRow(row);
    MonoTint(picture, { InkColor, 30, BackgroundFromTopLeft, true });
    const std::vector<TRgb> result = RowOf(picture);
    for (std::size_t x = 1; x < row.size(); ++x)
        EXPECT_EQ(result[x], row[x].r <= 40 ? Grey(10) : Ink) << int(row[x].r);
}

TEST(MonoTintTest, WhiteBackgroundPhotoBecomesTwoColours)
{
    // A dark object on a slightly uneven white: every grey from 225 up counts as background.
    TPicture picture = PictureOfRow(
        { Grey(255), Rgb(250, 240, 235), Grey(226), Rgb(40, 30, 20), Rgb(120, 90, 60), Grey(224) });
    MonoTint(picture, { InkColor, 30, BackgroundFromTopLeft, true });
    const TRgb white = Grey(255);
    EXPECT_EQ(RowOf(picture), (std::vector<TRgb> { white, white, white, Ink, Ink, Ink }));
    EXPECT_EQ(picture.Bitmap()->BitsPerPixel(), 24);
}

TEST(MonoTintTest, UniformPictureBecomesAllBackground)
{
    TPicture picture = PictureOfRow(std::vector<TRgb>(5, Rgb(12, 34, 56)));
    MonoTint(picture, { InkColor, 0, BackgroundFromTopLeft, true });
    const TRgb grey = Grey((77 * 12 + 151 * 34 + 28 * 56) >> 8);
    EXPECT_EQ(RowOf(picture), std::vector<TRgb>(5, grey));
}

TEST(MonoTintTest, OnlyTheThreeLowBytesOfAColourCount)
{
    // A positive value with a non-zero top byte, and a given background likewise.
    TPicture picture = PictureOfRow({ Grey(0), Grey(250), Grey(10) });
    MonoTint(picture, { 0x7F0000FF, 20, 0x01FFFFFF, true });
    EXPECT_EQ(RowOf(picture), (std::vector<TRgb> { Rgb(255, 0, 0), Grey(255), Rgb(255, 0, 0) }));
}

TEST(MonoTintTest, ValuesBelowZeroNameSystemColours)
{
    struct Case {
        std::int32_t colour;
        TRgb expected;
    };
    const Case cases[] = {
        { static_cast<std::int32_t>(0xFF000005), Grey(255) }, // window
        { static_cast<std::int32_t>(0x8000000D), Rgb(0, 120, 215) }, // highlight
        { static_cast<std::int32_t>(0xFF000008), Grey(0) }, // window text
        { static_cast<std::int32_t>(0xFF00001A), Rgb(0, 102, 204) }, // hot-tracked item
        { -1, Grey(0) }, // index 255: no such colour
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResolveColor(c.colour), c.expected) << std::hex << c.colour;
        // As the ink, and (other than -1, which means "top-left") as the given background.
        TPicture picture = PictureOfRow({ Grey(128), Grey(128) });
        MonoTint(picture, { c.colour, 0, TColor(1, 2, 3), false });
        EXPECT_EQ(RowOf(picture)[0], c.expected);
        if (c.colour != -1) {
            TPicture keyed = PictureOfRow({ c.expected, Grey(128) });
            MonoTint(keyed, { InkColor, 0, c.colour, false });
            EXPECT_EQ(RowOf(keyed), (std::vector<TRgb> { c.expected, Ink }));
        }
    }
}

TEST(MonoTintTest, ConvertsPalettedBitmapsAndKeepsTheMark)
{
    TBitmap bitmap(3, 2, 4);
    bitmap.Palette()[1] = Rgb(250, 250, 250);
    bitmap.Palette()[2] = Rgb(0, 0, 90);
    for (int x = 0; x < 3; ++x) {
        bitmap.SetPixelIndex(x, 0, 1);
        bitmap.SetPixelIndex(x, 1, x == 1 ? 2 : 1);
    }
    bitmap.SetTransparent(true);
    TPicture picture;
    picture.Assign(std::move(bitmap));
    MonoTint(picture, { InkColor, 30, BackgroundFromTopLeft, false });
    const TBitmap& result = *picture.Bitmap();
    EXPECT_EQ(result.BitsPerPixel(), 24);
    EXPECT_TRUE(result.Transparent());
    std::set<std::tuple<int, int, int>> colours;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const TRgb c = result.PixelColor(x, y);
            colours.insert({ c.r, c.g, c.b });
        }
    EXPECT_EQ(
        colours, (std::set<std::tuple<int, int, int>> { { 250, 250, 250 }, { 200, 10, 60 } }));
    EXPECT_EQ(result.PixelColor(1, 1), Ink);
}

TEST(MonoTintTest, OtherGraphicsAreDrawnOnWhiteFirst)
{
    // A PNG whose colour key (the bottom-left colour) is transparent: those pixels are white
    // when the tint sees them, so with a white given background they stay white.
    TBitmap bitmap(3, 1, 24);
    bitmap.Fill(Rgb(0, 200, 0));
    bitmap.ScanLine(0)[3 * 1 + 2] = 90;
    bitmap.SetTransparent(true);
    TPicture source;
    source.Assign(std::move(bitmap));
    const std::optional<TEncodedFile> png = EncodePng(source, "key.png");
    ASSERT_TRUE(png.has_value());
    TPicture picture;
    picture.SetGraphic(ReadPng(png->bytes));
    ASSERT_EQ(picture.Kind(), TGraphicKind::Png);
    MonoTint(picture, { InkColor, 10, TColor(255, 255, 255), true });
    ASSERT_NE(picture.Bitmap(), nullptr);
    EXPECT_EQ(RowOf(picture), (std::vector<TRgb> { Grey(255), Ink, Grey(255) }));
}

TEST(MonoTintTest, EmptyPictureStaysEmpty)
{
    TPicture picture;
    MonoTint(picture, { InkColor, 30, BackgroundFromTopLeft, true });
    EXPECT_TRUE(picture.Empty());
}

} // namespace parvula::imaging
