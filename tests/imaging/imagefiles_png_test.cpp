// PNG: the writer's exact chunks and data, the drawing rules for alpha and colour keys, a PNG
// picture writing itself, and damaged files.
#include <cmath>

#include <gtest/gtest.h>

#include "imaging/imagefiles.h"
#include "imaging/imaging_support.h"

using namespace parvula::imaging;
using namespace parvula::imaging::test;

namespace {

std::vector<std::string> ChunkTypes(const std::vector<TPngChunk>& chunks)
{
    std::vector<std::string> types;
    for (const TPngChunk& c : chunks)
        if (types.empty() || types.back() != c.type)
            types.push_back(c.type);
    return types;
}

TBytes ImageData(const std::vector<TPngChunk>& chunks)
{
    TBytes data;
    for (const TPngChunk& c : chunks)
        if (c.type == "IDAT")
            data.insert(data.end(), c.data.begin(), c.data.end());
    return data;
}

TBytes SavePng(TPicture& picture, const TTempDir& dir, const std::string& name = "out.png")
{
    EXPECT_TRUE(SaveAsPng(picture, dir / name));
    return ReadBytes(dir / name);
}

} // namespace

TEST(PngWriter, TrueColourBitmapGivesRgbRowsWithTheSubFilter)
{
    TTempDir dir;
    TPicture picture;
    TBitmap bitmap = NoiseBitmap(7, 5, 1);
    picture.Assign(bitmap);
    const std::vector<TPngChunk> chunks = PngChunks(SavePng(picture, dir));
    EXPECT_EQ(ChunkTypes(chunks), (std::vector<std::string> { "IHDR", "IDAT", "IEND" }));
    const TBytes& ihdr = chunks[0].data;
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(BigEndian32(ihdr, 0), 7u);
    EXPECT_EQ(BigEndian32(ihdr, 4), 5u);
    EXPECT_EQ(TBytes(ihdr.begin() + 8, ihdr.end()), (TBytes { 8, 2, 0, 0, 0 }));

    const TBytes rows = Inflate(ImageData(chunks));
    ASSERT_EQ(rows.size(), 5u * (1 + 7 * 3));
    for (int y = 0; y < 5; ++y) {
        const std::uint8_t* row = rows.data() + y * 22;
        EXPECT_EQ(row[0], 1) << "row " << y;
        // Undo Sub: each byte adds the byte one pixel (3 bytes) to its left, 0 at the start.
        std::vector<int> rgb(21);
        for (int i = 0; i < 21; ++i)
            rgb[i] = (row[1 + i] + (i >= 3 ? rgb[i - 3] : 0)) & 0xFF;
        for (int x = 0; x < 7; ++x) {
            const TRgb c = bitmap.PixelColor(x, y);
            EXPECT_EQ((TRgb { static_cast<std::uint8_t>(rgb[3 * x + 2]),
                          static_cast<std::uint8_t>(rgb[3 * x + 1]),
                          static_cast<std::uint8_t>(rgb[3 * x]) }),
                c);
        }
    }
}

TEST(PngWriter, TransparencyMarkGivesTheKeyColourAsSixteenBitSamples)
{
    TTempDir dir;
    TBitmap bitmap = SolidBitmap(4, 3, TRgb { 200, 200, 200 });
    bitmap.ScanLine(2)[0] = 30; // bottom-left: blue 30, green 20, red 10
    bitmap.ScanLine(2)[1] = 20;
    bitmap.ScanLine(2)[2] = 10;
    TPicture picture;
    picture.Assign(bitmap);
    picture.SetTransparentMark(true);
    const std::vector<TPngChunk> chunks = PngChunks(SavePng(picture, dir));
    EXPECT_EQ(ChunkTypes(chunks), (std::vector<std::string> { "IHDR", "tRNS", "IDAT", "IEND" }));
    EXPECT_EQ(chunks[1].data, (TBytes { 0x00, 0x0A, 0x00, 0x14, 0x00, 0x1E }));

    // Read back, the key colour is not drawn: it stays white.
    TPicture reloaded = Load(dir / "out.png");
    const TBitmap drawn = ToBitmap(reloaded);
    EXPECT_EQ(drawn.PixelColor(0, 2), (TRgb { 255, 255, 255 }));
    EXPECT_EQ(drawn.PixelColor(1, 2), (TRgb { 200, 200, 200 }));
}

TEST(PngWriter, LargeDataIsCutIntoChunksOf65535Bytes)
{
    TTempDir dir;
    TPicture picture;
    picture.Assign(NoiseBitmap(300, 300, 7)); // incompressible: about 270 kB of deflate data
    const std::vector<TPngChunk> chunks = PngChunks(SavePng(picture, dir));
    std::vector<std::size_t> sizes;
    for (const TPngChunk& c : chunks)
        if (c.type == "IDAT")
            sizes.push_back(c.data.size());
    ASSERT_GE(sizes.size(), 4u);
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i)
        EXPECT_EQ(sizes[i], 65535u);
    EXPECT_GT(sizes.back(), 0u);
    EXPECT_LE(sizes.back(), 65535u);
    EXPECT_EQ(ChunkTypes(chunks), (std::vector<std::string> { "IHDR", "IDAT", "IEND" }));
}

TEST(PngWriter, PaletteBitmapsKeepDepthPaletteAndEveryPixel)
{
    for (const int bits : { 1, 4, 8 }) {
        SCOPED_TRACE(bits);
        TTempDir dir;
        const int entries = 1 << bits;
        TBitmap bitmap(9, 4, bits);
        for (int i = 0; i < entries; ++i)
            bitmap.Palette()[i] = TRgb { static_cast<std::uint8_t>(i * 7),
                static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i * 3) };
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 9; ++x)
                bitmap.SetPixelIndex(x, y, (x * 5 + y * 3) % entries);
        TPicture picture;
        picture.Assign(bitmap);
        const std::vector<TPngChunk> chunks = PngChunks(SavePng(picture, dir));
        EXPECT_EQ(
            ChunkTypes(chunks), (std::vector<std::string> { "IHDR", "PLTE", "IDAT", "IEND" }));
        EXPECT_EQ(chunks[0].data[8], bits);
        EXPECT_EQ(chunks[0].data[9], 3);
        EXPECT_EQ(chunks[1].data.size(), static_cast<std::size_t>(entries) * 3);
        EXPECT_EQ(chunks[1].data[3 * (entries - 1)], bitmap.Palette()[entries - 1].r);

        TPicture reloaded = Load(dir / "out.png");
        const TBitmap drawn = ToBitmap(reloaded);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 9; ++x)
                ASSERT_EQ(drawn.PixelColor(x, y), bitmap.PixelColor(x, y)) << x << "," << y;
    }
}

TEST(PngWriter, PaletteTransparencyEndsAtTheFirstEntryOfTheKeyColour)
{
    TTempDir dir;
    TBitmap bitmap(3, 2, 4);
    const TRgb key { 1, 2, 3 };
    bitmap.Palette()[2] = key;
    bitmap.Palette()[5] = key;
    bitmap.Palette()[1] = TRgb { 50, 60, 70 };
    bitmap.SetPixelIndex(0, 1, 5); // bottom-left uses the later entry of the same colour
    bitmap.SetPixelIndex(1, 1, 1);
    bitmap.SetTransparent(true);
    TPicture picture;
    picture.Assign(bitmap);
    const std::vector<TPngChunk> chunks = PngChunks(SavePng(picture, dir));
    ASSERT_EQ(
        ChunkTypes(chunks), (std::vector<std::string> { "IHDR", "PLTE", "tRNS", "IDAT", "IEND" }));
    EXPECT_EQ(chunks[2].data, (TBytes { 255, 255, 0 }));
}

TEST(PngWriter, ThirtyTwoBitBitmapDropsItsFourthByte)
{
    TTempDir dir;
    TBitmap bitmap(2, 1, 32);
    bitmap.Fill(TRgb { 3, 2, 1 });
    bitmap.ScanLine(0)[3] = 0x77;
    TPicture picture;
    picture.Assign(bitmap);
    const std::vector<TPngChunk> chunks = PngChunks(SavePng(picture, dir));
    EXPECT_EQ(chunks[0].data[9], 2);
    EXPECT_EQ(Inflate(ImageData(chunks)), (TBytes { 1, 1, 2, 3, 0, 0, 0 }));
}

TEST(PngDrawing, PartialAlphaIsBlendedOverWhiteAndZeroAlphaNotDrawn)
{
    TTempDir dir;
    // RGBA 8-bit: opaque red, half-transparent blue, fully transparent black, 1/255 green.
    const TBytes rows = { 255, 0, 0, 255, 0, 0, 255, 128, 0, 0, 0, 0, 0, 255, 0, 1 };
    TPicture picture = LoadBytes(dir, "a.png", MakePng(4, 1, 8, 6, rows));
    EXPECT_EQ(picture.Kind(), TGraphicKind::Png);
    const TBitmap drawn = ToBitmap(picture);
    EXPECT_EQ(drawn.PixelColor(0, 0), (TRgb { 0, 0, 255 }));
    const TRgb half = drawn.PixelColor(1, 0);
    EXPECT_NEAR(half.b, 255.0, 0.5);
    EXPECT_NEAR(half.r, 255.0 * 127 / 255, 1.0);
    EXPECT_NEAR(half.g, 255.0 * 127 / 255, 1.0);
    EXPECT_EQ(drawn.PixelColor(2, 0), (TRgb { 255, 255, 255 }));
    EXPECT_EQ(drawn.PixelColor(3, 0), (TRgb { 254, 255, 254 }));
}

TEST(PngDrawing, ColourKeysOfEveryKindAreNotDrawn)
{
    TTempDir dir;
    struct Case {
        const char* name;
        int depth, type;
        TBytes rows;
        TBytes trns;
        TRgb opaque; // the colour of the second pixel
    };
    const std::vector<Case> cases = {
        // Grey 16-bit: the key compares all 16 bits, so 0x1234 is keyed and 0x1235 is not.
        { "grey16", 16, 0, { 0x12, 0x34, 0x12, 0x35 }, { 0x12, 0x34 }, TRgb { 0x12, 0x12, 0x12 } },
        // Grey 2-bit: samples 1 (keyed) and 2 scale to 170.
        { "grey2", 2, 0, { 0x60 }, { 0x00, 0x01 }, TRgb { 170, 170, 170 } },
        // RGB 8-bit.
        { "rgb8", 8, 2, { 10, 20, 30, 10, 20, 31 }, { 0, 10, 0, 20, 0, 30 }, TRgb { 31, 20, 10 } },
        // Palette: entry 0 has alpha 0, entry 1 no tRNS entry and so is opaque.
        { "palette", 8, 3, { 0, 1 }, { 0 }, TRgb { 6, 5, 4 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TPngChunk> before;
        if (c.type == 3)
            before.push_back(TPngChunk { "PLTE", { 1, 2, 3, 4, 5, 6 } });
        before.push_back(TPngChunk { "tRNS", c.trns });
        TPicture picture = LoadBytes(
            dir, std::string(c.name) + ".png", MakePng(2, 1, c.depth, c.type, c.rows, before));
        const TBitmap drawn = ToBitmap(picture);
        EXPECT_EQ(drawn.PixelColor(0, 0), (TRgb { 255, 255, 255 }));
        EXPECT_EQ(drawn.PixelColor(1, 0), c.opaque);
    }
}

TEST(PngDrawing, PaletteIndexBeyondThePaletteIsBlackNotARead)
{
    TTempDir dir;
    TPicture picture = LoadBytes(
        dir, "p.png", MakePng(2, 1, 8, 3, { 0, 200 }, { TPngChunk { "PLTE", { 9, 9, 9 } } }));
    const TBitmap drawn = ToBitmap(picture);
    EXPECT_EQ(drawn.PixelColor(0, 0), (TRgb { 9, 9, 9 }));
    EXPECT_EQ(drawn.PixelColor(1, 0), (TRgb { 0, 0, 0 }));
}

TEST(PngSelf, WritesItsChunksBackAndItsDataAnew)
{
    TTempDir dir;
    const TBytes rows = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12 };
    const TPngChunk text { "tEXt", { 'k', 0, 'v' } };
    const TPngChunk time { "tIME", { 0x07, 0xEA, 12, 10, 1, 2, 3 } };
    TPicture picture = LoadBytes(dir, "in.png", MakePng(2, 2, 8, 2, rows, { text }, { time }));
    EXPECT_TRUE(SaveByExtension(picture, dir / "out.png"));
    const std::vector<TPngChunk> chunks = PngChunks(ReadBytes(dir / "out.png"));
    EXPECT_EQ(
        ChunkTypes(chunks), (std::vector<std::string> { "IHDR", "tEXt", "IDAT", "tIME", "IEND" }));
    EXPECT_EQ(chunks[1].data, text.data);
    EXPECT_EQ(chunks[3].data, time.data);
    const TBytes data = Inflate(ImageData(chunks));
    ASSERT_EQ(data.size(), 14u);
    EXPECT_EQ(data[0], 1);
    EXPECT_EQ(data[7], 1);
    EXPECT_EQ(data[4], 4 - 1); // Sub: the first byte of the second pixel minus the first pixel's
    EXPECT_EQ(picture.Kind(), TGraphicKind::Png);

    // SaveAsPng of a PNG picture writes the same.
    EXPECT_TRUE(SaveAsPng(picture, dir / "again.PNG"));
    EXPECT_EQ(ReadBytes(dir / "again.png"), ReadBytes(dir / "out.png"));
}

TEST(PngReader, DamagedFilesFailWithAnImageError)
{
    TTempDir dir;
    const TBytes good = MakePng(3, 3, 8, 2, TBytes(27, 100));
    std::vector<std::pair<std::string, TBytes>> cases;
    for (const std::size_t cut : { std::size_t { 0 }, std::size_t { 7 }, std::size_t { 20 },
             std::size_t { 40 }, good.size() - 20, good.size() - 1 })
        cases.emplace_back(
            "cut at " + std::to_string(cut), TBytes(good.begin(), good.begin() + cut));
    TBytes badCrc = good;
    badCrc[29] ^= 1; // IHDR's CRC
    cases.emplace_back("IHDR CRC", badCrc);
    TBytes hugeChunk = good;
    hugeChunk[33] = 0x7F; // IDAT length far beyond the file
    cases.emplace_back("IDAT length", hugeChunk);
    cases.emplace_back("huge size", MakePng(70000, 1, 8, 0, TBytes(70000, 0)));
    TBytes depth = good;
    depth[24] = 7; // bit depth 7 does not exist
    cases.emplace_back("bit depth", depth);
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        WriteBytes(dir / "bad.png", bytes);
        TPicture picture;
        try {
            LoadFromFile(picture, dir / "bad.png");
            ADD_FAILURE() << "loaded";
        } catch (const EImageError& e) {
            // German texts of ours only: no libpng message gets through.
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("PNG: ", 0), 0u) << text;
            for (const char* english : { "CRC", "error", "chunk", "Invalid", "Not", "Read" })
                EXPECT_EQ(text.find(english), std::string::npos) << text;
        }
    }
}
