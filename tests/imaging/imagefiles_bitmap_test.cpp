// TBitmap storage, palette access and the picture's drawing of bitmaps.
#include <gtest/gtest.h>

#include "imaging/imagefiles.h"

using namespace parvula::imaging;

TEST(Bitmap, RowsArePaddedToFourBytes)
{
    struct Case {
        int width, bits;
        std::size_t stride;
    };
    for (const Case c : { Case { 1, 1, 4 }, Case { 33, 1, 8 }, Case { 7, 4, 4 }, Case { 9, 4, 8 },
             Case { 5, 8, 8 }, Case { 3, 24, 12 }, Case { 5, 24, 16 }, Case { 3, 32, 12 } }) {
        TBitmap b(c.width, 2, c.bits);
        EXPECT_EQ(b.Stride(), c.stride) << c.width << "x" << c.bits;
        if (b.IsPaletted()) {
            EXPECT_EQ(b.Palette().size(), std::size_t { 1 } << c.bits);
        }
    }
}

TEST(Bitmap, PackedIndicesUseTheMostSignificantBitsFirst)
{
    TBitmap one(10, 1, 1);
    one.SetPixelIndex(0, 0, 1);
    one.SetPixelIndex(9, 0, 1);
    EXPECT_EQ(one.ScanLine(0)[0], 0x80);
    EXPECT_EQ(one.ScanLine(0)[1], 0x40);
    EXPECT_EQ(one.PixelIndex(9, 0), 1);
    EXPECT_EQ(one.PixelIndex(8, 0), 0);

    TBitmap four(3, 1, 4);
    four.SetPixelIndex(0, 0, 0xA);
    four.SetPixelIndex(1, 0, 0x5);
    four.SetPixelIndex(2, 0, 0xF);
    EXPECT_EQ(four.ScanLine(0)[0], 0xA5);
    EXPECT_EQ(four.ScanLine(0)[1], 0xF0);
    four.SetPixelIndex(0, 0, 0x3);
    EXPECT_EQ(four.ScanLine(0)[0], 0x35);
}

TEST(Bitmap, ConvertTo24KeepsColoursAndMark)
{
    TBitmap b(2, 2, 4);
    b.Palette()[3] = TRgb { 1, 2, 3 };
    b.SetPixelIndex(1, 1, 3);
    b.SetTransparent(true);
    b.ConvertTo24();
    EXPECT_EQ(b.BitsPerPixel(), 24);
    EXPECT_TRUE(b.Transparent());
    EXPECT_EQ(b.PixelColor(1, 1), (TRgb { 1, 2, 3 }));
    EXPECT_EQ(b.PixelColor(0, 0), TRgb {});

    TBitmap w(2, 1, 32);
    w.Fill(TRgb { 9, 8, 7 });
    w.ConvertTo24();
    EXPECT_EQ(w.PixelColor(1, 0), (TRgb { 9, 8, 7 }));
}

TEST(Bitmap, RefusesBadDepthsAndSizesBeyondTheLimits)
{
    EXPECT_THROW(TBitmap(1, 1, 16), EImageError);
    EXPECT_THROW(TBitmap(-1, 1, 24), EImageError);
    EXPECT_THROW(TBitmap(65536, 1, 24), EImageError);
    EXPECT_THROW(TBitmap(20000, 20000, 24), EImageError); // 400 megapixels
    EXPECT_NO_THROW(TBitmap(65535, 1, 24));
}

TEST(PictureBitmap, DrawOntoSkipsTheTransparentColourOnlyWithTheMark)
{
    TBitmap src(2, 2, 24);
    src.Fill(TRgb { 0, 0, 255 });
    src.ScanLine(0)[0] = 0x10; // top-left differs from the bottom-left key colour
    TPicture pic;
    pic.Assign(src);
    EXPECT_EQ(pic.Kind(), TGraphicKind::Bitmap);
    EXPECT_EQ(pic.Width(), 2);

    TBitmap target(3, 3, 24);
    target.Fill(TRgb { 255, 255, 255 });
    pic.DrawOnto(target);
    EXPECT_EQ(target.PixelColor(1, 1), (TRgb { 0, 0, 255 }));
    EXPECT_EQ(target.PixelColor(2, 2), (TRgb { 255, 255, 255 }));

    pic.SetTransparentMark(true);
    target.Fill(TRgb { 255, 255, 255 });
    pic.DrawOnto(target);
    EXPECT_EQ(target.PixelColor(1, 1), (TRgb { 255, 255, 255 }));
    EXPECT_EQ(target.PixelColor(0, 0), (TRgb { 0x10, 0, 255 }));
}
