// BMP: the writer's headers and row padding, round trips of every depth, the reader's variants
// (RLE, bit fields, top-down, the old core header) and damaged or hostile files.
#include <gtest/gtest.h>

#include "imaging/imagefiles.h"
#include "imaging/imaging_support.h"

using namespace parvula::imaging;
using namespace parvula::imaging::test;

namespace {

// A BMP file with a 40-byte header; extra holds masks and palette, data the pixel bytes.
TBytes MakeBmp(std::int32_t width, std::int32_t height, int bits, std::uint32_t compression,
    const TBytes& extra, const TBytes& data, std::uint32_t colorsUsed = 0)
{
    TBytes out = { 'B', 'M' };
    Put32(out, static_cast<std::uint32_t>(54 + extra.size() + data.size()));
    Put32(out, 0);
    Put32(out, static_cast<std::uint32_t>(54 + extra.size()));
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height));
    Put16(out, 1);
    Put16(out, static_cast<std::uint32_t>(bits));
    Put32(out, compression);
    Put32(out, static_cast<std::uint32_t>(data.size()));
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, colorsUsed);
    Put32(out, 0);
    out.insert(out.end(), extra.begin(), extra.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// Palette entries blue, green, red, 0 for index i: red = 10 * i.
TBytes Palette(int entries)
{
    TBytes p;
    for (int i = 0; i < entries; ++i)
        p.insert(p.end(), { 0, 0, static_cast<std::uint8_t>(10 * i), 0 });
    return p;
}

TBitmap LoadBmp(const TTempDir& dir, const TBytes& bytes)
{
    TPicture picture = LoadBytes(dir, "t.bmp", bytes);
    EXPECT_EQ(picture.Kind(), TGraphicKind::Bitmap);
    return *picture.Bitmap();
}

} // namespace

TEST(BmpWriter, HeadersAndPaddedRowsFromTheBottomUp)
{
    TTempDir dir;
    struct Case {
        int bits;
        std::uint32_t paletteBytes;
        std::uint32_t stride;
    };
    for (const Case c : { Case { 24, 0, 16 }, Case { 8, 1024, 8 }, Case { 4, 64, 4 },
             Case { 1, 8, 4 }, Case { 32, 0, 20 } }) {
        SCOPED_TRACE(c.bits);
        TBitmap bitmap(5, 3, c.bits);
        if (bitmap.IsPaletted()) {
            bitmap.Palette()[1] = TRgb { 7, 8, 9 };
            bitmap.SetPixelIndex(4, 2, 1);
        } else {
            bitmap.Fill(TRgb { 1, 2, 3 });
            bitmap.ScanLine(2)[0] = 0xEE; // the bottom row's first byte
        }
        TPicture picture;
        picture.Assign(bitmap);
        EXPECT_TRUE(SaveByExtension(picture, dir / "h.bmp"));
        const TBytes file = ReadBytes(dir / "h.bmp");
        const std::uint32_t offset = 54 + c.paletteBytes;
        ASSERT_EQ(file.size(), offset + 3 * c.stride);
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        EXPECT_EQ(LittleEndian32(file, 2), file.size());
        EXPECT_EQ(LittleEndian32(file, 6), 0u);
        EXPECT_EQ(LittleEndian32(file, 10), offset);
        EXPECT_EQ(LittleEndian32(file, 14), 40u);
        EXPECT_EQ(LittleEndian32(file, 18), 5u);
        EXPECT_EQ(LittleEndian32(file, 22), 3u);
        EXPECT_EQ(LittleEndian16(file, 26), 1);
        EXPECT_EQ(LittleEndian16(file, 28), c.bits);
        EXPECT_EQ(LittleEndian32(file, 30), 0u);
        EXPECT_EQ(LittleEndian32(file, 34), 3 * c.stride);
        if (c.paletteBytes > 0) {
            EXPECT_EQ(TBytes(file.begin() + 58, file.begin() + 62), (TBytes { 7, 8, 9, 0 }));
        }
        if (c.bits == 24) {
            EXPECT_EQ(file[offset], 0xEE); // bottom row first
            EXPECT_EQ(TBytes(file.begin() + offset + 15, file.begin() + offset + 16),
                TBytes { 0 }); // padding
        }
        if (c.bits == 8) {
            EXPECT_EQ(file[offset + 4], 1);
        }
    }
}

TEST(BmpRoundTrip, EveryDepthKeepsPaletteAndPixels)
{
    TTempDir dir;
    for (const int bits : { 1, 4, 8, 24, 32 }) {
        SCOPED_TRACE(bits);
        TBitmap bitmap(11, 5, bits);
        if (bitmap.IsPaletted()) {
            const int entries = 1 << bits;
            for (int i = 0; i < entries; ++i)
                bitmap.Palette()[i]
                    = TRgb { static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 3 };
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 11; ++x)
                    bitmap.SetPixelIndex(x, y, (x * 7 + y) % entries);
        } else {
            bitmap = NoiseBitmap(11, 5, 4);
            if (bits == 32)
                bitmap = [&] {
                    TBitmap wide(11, 5, 32);
                    for (int y = 0; y < 5; ++y)
                        for (int x = 0; x < 11; ++x) {
                            const TRgb c = bitmap.PixelColor(x, y);
                            std::uint8_t* p = wide.ScanLine(y) + 4 * x;
                            p[0] = c.b;
                            p[1] = c.g;
                            p[2] = c.r;
                        }
                    return wide;
                }();
        }
        TPicture picture;
        picture.Assign(bitmap);
        EXPECT_TRUE(SaveByExtension(picture, dir / "r.bmp"));
        TPicture reloaded = Load(dir / "r.bmp");
        ASSERT_NE(reloaded.Bitmap(), nullptr);
        const TBitmap& back = *reloaded.Bitmap();
        EXPECT_EQ(back.BitsPerPixel(), bits);
        EXPECT_EQ(back.Palette(), bitmap.Palette());
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 11; ++x)
                ASSERT_EQ(back.PixelColor(x, y), bitmap.PixelColor(x, y)) << x << "," << y;
    }
}

TEST(BmpReader, RunLengthEncodedImages)
{
    TTempDir dir;
    // RLE8, 5 x 3, bottom row first: a run of 3 x index 1, an absolute block of 3 (padded to an
    // even length; its third pixel falls off the right edge), end of line; in the middle row a
    // delta of (1 right, 1 up) into the top row, a run of 2 x index 5 there, end of bitmap.
    const TBytes rle8 = { 3, 1, 0, 3, 2, 3, 4, 0, 0, 0, 0, 2, 1, 1, 2, 5, 0, 1 };
    const TBitmap b8 = LoadBmp(dir, MakeBmp(5, 3, 8, 1, Palette(256), rle8));
    const std::vector<std::vector<int>> expected8
        = { { 0, 0, 0, 0, 0 }, { 0, 0, 0, 0, 0 }, { 1, 1, 1, 2, 3 } };
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            int want = expected8[y][x];
            if (y == 0 && x >= 1 && x <= 2)
                want = 5;
            EXPECT_EQ(b8.PixelIndex(x, y), want) << x << "," << y;
        }

    // RLE4, 6 x 1: a run of 5 alternating 1 and 2, then an absolute block of 1 pixel (index 7).
    const TBytes rle4 = { 5, 0x12, 0, 3, 0x7A, 0xB0, 0, 1 };
    const TBitmap b4 = LoadBmp(dir, MakeBmp(6, 1, 4, 2, Palette(16), rle4));
    const int expected4[6] = { 1, 2, 1, 2, 1, 7 };
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(b4.PixelIndex(x, 0), expected4[x]) << x;
}

TEST(BmpReader, BitFieldsSixteenBitsTopDownAndTheCoreHeader)
{
    TTempDir dir;
    {
        // 16 bits 5-6-5 through masks: pure red, pure green, mid blue.
        TBytes masks;
        Put32(masks, 0xF800);
        Put32(masks, 0x07E0);
        Put32(masks, 0x001F);
        const TBytes data = { 0x00, 0xF8, 0xE0, 0x07, 0x10, 0x00, 0, 0 };
        const TBitmap b = LoadBmp(dir, MakeBmp(3, 1, 16, 3, masks, data));
        EXPECT_EQ(b.BitsPerPixel(), 24);
        EXPECT_EQ(b.PixelColor(0, 0), (TRgb { 0, 0, 255 }));
        EXPECT_EQ(b.PixelColor(1, 0), (TRgb { 0, 255, 0 }));
        EXPECT_EQ(b.PixelColor(2, 0), (TRgb { 132, 0, 0 })); // 16 of 31, scaled and rounded
    }
    {
        // 16 bits without masks are 5-5-5.
        const TBytes data = { 0x00, 0x7C, 0, 0 };
        EXPECT_EQ(
            LoadBmp(dir, MakeBmp(1, 1, 16, 0, {}, data)).PixelColor(0, 0), (TRgb { 0, 0, 255 }));
    }
    {
        // 32 bits with masks in an unusual order (blue high, red low).
        TBytes masks;
        Put32(masks, 0x000000FF);
        Put32(masks, 0x0000FF00);
        Put32(masks, 0xFF000000);
        const TBytes data = { 0x11, 0x22, 0x00, 0x33 };
        EXPECT_EQ(LoadBmp(dir, MakeBmp(1, 1, 32, 3, masks, data)).PixelColor(0, 0),
            (TRgb { 0x33, 0x22, 0x11 }));
    }
    {
        // Top-down 24 bits: the first stored row is the top one.
        const TBytes data = { 1, 2, 3, 0, 4, 5, 6, 0 };
        const TBitmap b = LoadBmp(dir, MakeBmp(1, -2, 24, 0, {}, data));
        EXPECT_EQ(b.PixelColor(0, 0), (TRgb { 1, 2, 3 }));
        EXPECT_EQ(b.PixelColor(0, 1), (TRgb { 4, 5, 6 }));
    }
    {
        // The 12-byte core header with 3-byte palette entries.
        TBytes file = { 'B', 'M' };
        Put32(file, 14 + 12 + 6 + 4);
        Put32(file, 0);
        Put32(file, 14 + 12 + 6);
        Put32(file, 12);
        Put16(file, 2);
        Put16(file, 1);
        Put16(file, 1);
        Put16(file, 1);
        file.insert(file.end(), { 1, 2, 3, 4, 5, 6, 0x40, 0, 0, 0 });
        const TBitmap b = LoadBmp(dir, file);
        EXPECT_EQ(b.PixelColor(0, 0), (TRgb { 1, 2, 3 }));
        EXPECT_EQ(b.PixelColor(1, 0), (TRgb { 4, 5, 6 }));
    }
    {
        // A palette shorter than the depth allows: the missing entries read black.
        const TBytes data = { 0x01, 0, 0, 0 };
        const TBitmap b = LoadBmp(dir, MakeBmp(2, 1, 4, 0, Palette(2), data, 2));
        EXPECT_EQ(b.PixelColor(1, 0), (TRgb { 0, 0, 10 }));
    }
}

TEST(BmpReader, DamagedAndHostileFilesFailWithAnImageError)
{
    TTempDir dir;
    const TBytes good = MakeBmp(3, 2, 24, 0, {}, TBytes(24, 7));
    std::vector<std::pair<std::string, TBytes>> cases;
    for (const std::size_t cut :
        { std::size_t { 0 }, std::size_t { 10 }, std::size_t { 30 }, good.size() - 1 })
        cases.emplace_back(
            "cut at " + std::to_string(cut), TBytes(good.begin(), good.begin() + cut));
    cases.emplace_back("too wide", MakeBmp(70000, 1, 24, 0, {}, TBytes(16, 0)));
    cases.emplace_back("400 megapixels", MakeBmp(20000, 20000, 24, 0, {}, TBytes(16, 0)));
    cases.emplace_back("most negative height", MakeBmp(1, INT32_MIN, 24, 0, {}, TBytes(16, 0)));
    cases.emplace_back("zero width", MakeBmp(0, 1, 24, 0, {}, TBytes(16, 0)));
    cases.emplace_back("2 bits", MakeBmp(1, 1, 2, 0, Palette(4), TBytes(4, 0)));
    cases.emplace_back("jpeg inside", MakeBmp(1, 1, 24, 4, {}, TBytes(4, 0)));
    cases.emplace_back("palette larger than the depth",
        MakeBmp(1, 1, 8, 0, Palette(4), TBytes(4, 0), 0xFF000006u));
    cases.emplace_back(
        "rle without its end", MakeBmp(4, 4, 8, 1, Palette(256), { 4, 1, 0, 0, 4, 1 }));
    cases.emplace_back(
        "rle absolute block past the end", MakeBmp(4, 1, 8, 1, Palette(256), { 0, 200, 1 }));
    cases.emplace_back("rle top-down", MakeBmp(1, -1, 8, 1, Palette(256), { 1, 1, 0, 1 }));
    cases.emplace_back(
        "bit fields at 24 bits", MakeBmp(1, 1, 24, 3, TBytes(12, 0xFF), TBytes(4, 0)));
    TBytes offset = good;
    offset[10] = 0xFF; // pixel data beyond the file
    offset[11] = 0xFF;
    cases.emplace_back("offset", offset);
    TBytes headerSize = good;
    headerSize[14] = 66;
    cases.emplace_back("header size 66", headerSize);
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        WriteBytes(dir / "bad.bmp", bytes);
        TPicture picture;
        EXPECT_THROW(LoadFromFile(picture, dir / "bad.bmp"), EImageError);
    }
}

TEST(BmpReader, LimitMessagesNameTheLimit)
{
    TTempDir dir;
    WriteBytes(dir / "wide.bmp", MakeBmp(70000, 1, 24, 0, {}, {}));
    WriteBytes(dir / "big.bmp", MakeBmp(20000, 20000, 24, 0, {}, {}));
    TPicture picture;
    for (const auto& [name, limit] :
        { std::pair { "wide.bmp", "65535" }, { "big.bmp", "128 Megapixel" } }) {
        try {
            LoadFromFile(picture, dir / name);
            ADD_FAILURE() << name << " loaded";
        } catch (const EImageError& error) {
            EXPECT_NE(std::string(error.what()).find(limit), std::string::npos) << error.what();
        }
    }
}
