// GIF: the writer's header, colour table and graphic control extension, the first frame's
// drawing (and its streamed rows), a GIF writing itself with all its frames, and damaged files.
#include <cstring>

#include <gif_lib.h>
#include <gtest/gtest.h>

#include "imaging/imagefiles.h"
#include "imaging/imaging_support.h"
#include "imaging/picstretch1.h"

using namespace parvula::imaging;
using namespace parvula::imaging::test;

namespace {

struct TTestFrame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<GifColorType> local;
    TBytes pixels; // rows in display order
    int transparent = -1;
    bool interlaced = false;
};

int AppendOutput(GifFileType* gif, const GifByteType* data, int count)
{
    auto* out = static_cast<TBytes*>(gif->UserData);
    out->insert(out->end(), data, data + count);
    return count;
}

// A GIF built with giflib's own writer; an extra loop extension before the first frame and a
// comment after the last.
TBytes MakeGif(int width, int height, const std::vector<GifColorType>& global,
    const std::vector<TTestFrame>& frames, bool extras = false)
{
    TBytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, AppendOutput, &error);
    EGifSetGifVersion(gif, true);
    ColorMapObject* map = global.empty()
        ? nullptr
        : GifMakeMapObject(static_cast<int>(global.size()), global.data());
    EXPECT_EQ(EGifPutScreenDesc(gif, width, height, 8, 0, map), GIF_OK);
    GifFreeMapObject(map);
    if (extras) {
        EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
        const GifByteType loop[3] = { 1, 0, 0 };
        EGifPutExtensionBlock(gif, 3, loop);
        EGifPutExtensionTrailer(gif);
    }
    for (const TTestFrame& f : frames) {
        if (f.transparent >= 0) {
            const GifByteType gce[4] = { 1, 0, 0, static_cast<GifByteType>(f.transparent) };
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce);
        }
        ColorMapObject* local = f.local.empty()
            ? nullptr
            : GifMakeMapObject(static_cast<int>(f.local.size()), f.local.data());
        if (!local && gif->Image.ColorMap) { // giflib would drop the previous table unfreed
            GifFreeMapObject(gif->Image.ColorMap);
            gif->Image.ColorMap = nullptr;
        }
        EXPECT_EQ(
            EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlaced, local), GIF_OK);
        GifFreeMapObject(local);
        std::vector<int> order;
        if (f.interlaced) {
            for (const auto& [start, step] : { std::pair { 0, 8 }, { 4, 8 }, { 2, 4 }, { 1, 2 } })
                for (int y = start; y < f.height; y += step)
                    order.push_back(y);
        } else {
            for (int y = 0; y < f.height; ++y)
                order.push_back(y);
        }
        for (const int y : order) {
            TBytes line(f.pixels.begin() + y * f.width, f.pixels.begin() + (y + 1) * f.width);
            EXPECT_EQ(EGifPutLine(gif, line.data(), f.width), GIF_OK);
        }
    }
    if (extras)
        EGifPutExtension(gif, COMMENT_EXT_FUNC_CODE, 5, "hello");
    EGifCloseFile(gif, &error);
    return out;
}

// The whole file through giflib's slurp, for inspecting what we wrote.
struct TSlurped {
    GifFileType* gif = nullptr;
    TBytes bytes;
    std::size_t pos = 0;
    ~TSlurped()
    {
        int error = 0;
        if (gif)
            DGifCloseFile(gif, &error);
    }
};

int SlurpInput(GifFileType* gif, GifByteType* out, int count)
{
    auto* s = static_cast<TSlurped*>(gif->UserData);
    const std::size_t n
        = std::min<std::size_t>(static_cast<std::size_t>(count), s->bytes.size() - s->pos);
    std::memcpy(out, s->bytes.data() + s->pos, n);
    s->pos += n;
    return static_cast<int>(n);
}

void Slurp(TSlurped& s, const TBytes& bytes)
{
    s.bytes = bytes;
    int error = 0;
    s.gif = DGifOpen(&s, SlurpInput, &error);
    ASSERT_NE(s.gif, nullptr);
    ASSERT_EQ(DGifSlurp(s.gif), GIF_OK);
}

TBitmap TwoColours(TRgb a, TRgb b)
{
    TBitmap bitmap(5, 4, 24);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            const TRgb c = (x * y) % 3 ? a : b;
            std::uint8_t* p = bitmap.ScanLine(y) + 3 * x;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    return bitmap;
}

const GifColorType Red { 255, 0, 0 }, Green { 0, 255, 0 }, Blue { 0, 0, 255 }, Black { 0, 0, 0 };

} // namespace

TEST(GifWriter, TwoColourBitmapKeepsBothColoursExactly)
{
    TTempDir dir;
    const TRgb a { 30, 20, 10 }, b { 50, 100, 200 };
    const TBitmap bitmap = TwoColours(a, b);
    TPicture picture;
    picture.Assign(bitmap);
    EXPECT_TRUE(SaveAsGif(picture, dir / "two.gif"));
    const TBytes file = ReadBytes(dir / "two.gif");
    ASSERT_GT(file.size(), 13u + 10 + 768);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF87a");
    EXPECT_EQ(LittleEndian16(file, 6), 5);
    EXPECT_EQ(LittleEndian16(file, 8), 4);
    EXPECT_EQ(file[10] & 0x80, 0) << "no global colour table";
    EXPECT_EQ(file[11], 0);
    EXPECT_EQ(file[12], 0);
    // The frame follows directly: at 0,0, not interlaced, a local table of 256 entries.
    EXPECT_EQ(file[13], 0x2C);
    EXPECT_EQ(LittleEndian32(file, 14), 0u);
    EXPECT_EQ(LittleEndian16(file, 18), 5);
    EXPECT_EQ(LittleEndian16(file, 20), 4);
    EXPECT_EQ(file[22], 0x87);
    EXPECT_EQ(file.back(), 0x3B);

    TPicture reloaded = Load(dir / "two.gif");
    const TBitmap drawn = ToBitmap(reloaded);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(drawn.PixelColor(x, y), bitmap.PixelColor(x, y)) << x << "," << y;
    EXPECT_EQ(picture.Bitmap()->BitsPerPixel(), 24);
}

TEST(GifWriter, TransparencyMarkGivesGif89aAndTheKeyColoursIndex)
{
    TTempDir dir;
    const TRgb a { 30, 20, 10 }, b { 50, 100, 200 };
    TPicture picture;
    picture.Assign(TwoColours(a, b)); // bottom-left (0,3) is b
    picture.SetTransparentMark(true);
    EXPECT_TRUE(SaveAsGif(picture, dir / "t.gif"));
    const TBytes file = ReadBytes(dir / "t.gif");
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF89a");
    ASSERT_EQ(TBytes(file.begin() + 13, file.begin() + 19),
        (TBytes { 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00 }));
    const int index = file[19];
    EXPECT_EQ(file[20], 0x00);
    const std::size_t table = 13 + 8 + 10;
    EXPECT_EQ((TRgb { file[table + 3 * index + 2], file[table + 3 * index + 1],
                  file[table + 3 * index] }),
        b);

    TPicture reloaded = Load(dir / "t.gif");
    const TBitmap drawn = ToBitmap(reloaded);
    EXPECT_EQ(drawn.PixelColor(0, 3), (TRgb { 255, 255, 255 }));
    EXPECT_EQ(drawn.PixelColor(1, 1), a);
}

TEST(GifWriter, PaletteBitmapsKeepTheirPaletteAndIndices)
{
    struct Case {
        int bits;
        int tableBits; // the packed field's size code + 1
    };
    for (const Case c : { Case { 1, 1 }, Case { 4, 4 }, Case { 8, 8 } }) {
        SCOPED_TRACE(c.bits);
        TTempDir dir;
        TBitmap bitmap(7, 3, c.bits);
        const int entries = 1 << c.bits;
        for (int i = 0; i < entries; ++i)
            bitmap.Palette()[i]
                = TRgb { static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 3), 9 };
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x)
                bitmap.SetPixelIndex(x, y, (x * 11 + y * 5) % entries);
        TPicture picture;
        picture.Assign(bitmap);
        EXPECT_TRUE(SaveAsGif(picture, dir / "p.gif"));
        TSlurped s;
        Slurp(s, ReadBytes(dir / "p.gif"));
        ASSERT_EQ(s.gif->ImageCount, 1);
        const SavedImage& image = s.gif->SavedImages[0];
        ASSERT_NE(image.ImageDesc.ColorMap, nullptr);
        EXPECT_EQ(image.ImageDesc.ColorMap->BitsPerPixel, c.tableBits);
        for (int i = 0; i < entries; ++i) {
            const GifColorType& g = image.ImageDesc.ColorMap->Colors[i];
            ASSERT_EQ((TRgb { g.Blue, g.Green, g.Red }), bitmap.Palette()[i]);
        }
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x)
                ASSERT_EQ(image.RasterBits[y * 7 + x], bitmap.PixelIndex(x, y));
        EXPECT_EQ(picture.Bitmap()->BitsPerPixel(), c.bits);

        // And back through our own reader: every pixel keeps its colour.
        TPicture reloaded = Load(dir / "p.gif");
        const TBitmap drawn = ToBitmap(reloaded);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x)
                ASSERT_EQ(drawn.PixelColor(x, y), bitmap.PixelColor(x, y)) << x << "," << y;
    }
}

TEST(GifWriter, TransparentIndexIsTheLastEntryOfTheKeyColour)
{
    TTempDir dir;
    TBitmap bitmap(2, 2, 4);
    const TRgb key { 1, 2, 3 };
    bitmap.Palette()[3] = key;
    bitmap.Palette()[9] = key;
    bitmap.Palette()[12] = key;
    bitmap.SetPixelIndex(0, 1, 3);
    bitmap.SetTransparent(true);
    TPicture picture;
    picture.Assign(bitmap);
    EXPECT_TRUE(SaveAsGif(picture, dir / "k.gif"));
    const TBytes file = ReadBytes(dir / "k.gif");
    EXPECT_EQ(file[13], 0x21);
    EXPECT_EQ(file[19], 12);
}

TEST(GifWriter, NoExactKeyColourAfterReductionMeansNoTransparency)
{
    TTempDir dir;
    TBitmap bitmap = NoiseBitmap(64, 64, 21); // far more than 256 colours
    TPicture picture;
    picture.Assign(bitmap);
    picture.SetTransparentMark(true);
    EXPECT_TRUE(SaveAsGif(picture, dir / "n.gif"));
    const TBytes file = ReadBytes(dir / "n.gif");
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF87a");
    EXPECT_EQ(file[13], 0x2C);
}

namespace {

// The first frame's streamed rows are its drawing on white, and fitting the GIF (which streams
// them) gives the bytes of fitting that drawing, by a kernel and by nearest neighbour.
void ExpectStreamsAsDrawn(const TTempDir& dir, const TBytes& file)
{
    TPicture picture = LoadBytes(dir, "s.gif", file);
    const TBitmap drawn = ToBitmap(picture);
    const std::unique_ptr<TRowReader> rows = OpenRowReader(picture);
    ASSERT_NE(rows, nullptr);
    TBitmap streamed(rows->Width(), rows->Height(), 24);
    for (int y = 0; y < streamed.Height(); ++y)
        rows->ReadRow(streamed.ScanLine(y));
    EXPECT_EQ(PixelBytes(streamed), PixelBytes(drawn));
    for (const TFilter filter : { TFilter::Lanczos3, TFilter::None }) {
        const TFitOptions options { 4, 4, true, TFitDirection::BothWays, filter };
        TPicture whole;
        whole.Assign(drawn);
        FitToBox(whole, options);
        TPicture gif = LoadBytes(dir, "t.gif", file);
        FitToBox(gif, options);
        EXPECT_EQ(PixelBytes(*gif.Bitmap()), PixelBytes(*whole.Bitmap()))
            << "filter " << static_cast<int>(filter);
    }
}

} // namespace

TEST(GifDrawing, FirstFrameAtItsPositionWithItsTransparencyClippedToTheScreen)
{
    TTempDir dir;
    TTestFrame first;
    first.left = 2;
    first.top = 1;
    first.width = 3;
    first.height = 2;
    first.pixels = { 0, 1, 2, 3, 2, 1 };
    first.local = { Red, Green, Blue, Black };
    first.transparent = 0;
    TTestFrame offScreen = first;
    offScreen.left = 4;
    offScreen.top = 3;
    offScreen.width = 4;
    offScreen.height = 4;
    offScreen.pixels.assign(16, 1);
    offScreen.transparent = -1;
    TTestFrame later;
    later.width = 6;
    later.height = 5;
    later.pixels.assign(30, 2);

    {
        const TBytes file = MakeGif(6, 5, { Black, Black }, { first, later });
        ExpectStreamsAsDrawn(dir, file);
        TPicture picture = LoadBytes(dir, "a.gif", file);
        EXPECT_EQ(picture.Kind(), TGraphicKind::Gif);
        EXPECT_EQ(picture.Width(), 6);
        EXPECT_EQ(picture.Height(), 5);
        const TBitmap drawn = ToBitmap(picture);
        const TRgb white { 255, 255, 255 };
        EXPECT_EQ(drawn.PixelColor(0, 0), white);
        EXPECT_EQ(drawn.PixelColor(2, 1), white); // transparent index 0
        EXPECT_EQ(drawn.PixelColor(3, 1), (TRgb { 0, 255, 0 }));
        EXPECT_EQ(drawn.PixelColor(4, 1), (TRgb { 255, 0, 0 }));
        EXPECT_EQ(drawn.PixelColor(2, 2), (TRgb { 0, 0, 0 }));
        EXPECT_EQ(drawn.PixelColor(0, 4), white); // the later all-blue frame is never shown
    }
    {
        // A frame reaching past the screen is drawn only where it overlaps it.
        const TBytes file = MakeGif(6, 5, {}, { offScreen });
        ExpectStreamsAsDrawn(dir, file);
        TPicture picture = LoadBytes(dir, "b.gif", file);
        const TBitmap drawn = ToBitmap(picture);
        EXPECT_EQ(drawn.Width(), 6);
        EXPECT_EQ(drawn.PixelColor(5, 4), (TRgb { 0, 255, 0 }));
        EXPECT_EQ(drawn.PixelColor(3, 4), (TRgb { 255, 255, 255 }));
    }
    {
        // Indices beyond a 2-entry table are not drawn and never read past it.
        TTestFrame wild;
        wild.width = 2;
        wild.height = 1;
        wild.pixels = { 1, 3 };
        const TBytes file = MakeGif(2, 1, { Red, Green }, { wild });
        ExpectStreamsAsDrawn(dir, file);
        TPicture picture = LoadBytes(dir, "c.gif", file);
        const TBitmap drawn = ToBitmap(picture);
        EXPECT_EQ(drawn.PixelColor(0, 0), (TRgb { 0, 255, 0 }));
        EXPECT_EQ(drawn.PixelColor(1, 0), (TRgb { 255, 255, 255 }));
    }
}

TEST(GifDrawing, InterlacedRowsLandInTheirPlace)
{
    TTempDir dir;
    TTestFrame frame;
    frame.width = 1;
    frame.height = 11;
    frame.interlaced = true;
    std::vector<GifColorType> table(16);
    for (int y = 0; y < 16; ++y)
        table[y] = GifColorType { static_cast<GifByteType>(y * 10), 0, 0 };
    for (int y = 0; y < 11; ++y)
        frame.pixels.push_back(static_cast<std::uint8_t>(y));
    const TBytes file = MakeGif(1, 11, table, { frame });
    ExpectStreamsAsDrawn(dir, file);
    TPicture picture = LoadBytes(dir, "i.gif", file);
    const TBitmap drawn = ToBitmap(picture);
    for (int y = 0; y < 11; ++y)
        EXPECT_EQ(drawn.PixelColor(0, y).r, y * 10) << y;
}

TEST(GifSelf, WritesEveryFrameAndExtensionBack)
{
    TTempDir dir;
    TTestFrame one;
    one.width = 3;
    one.height = 2;
    one.pixels = { 0, 1, 0, 1, 0, 1 };
    one.transparent = 1;
    TTestFrame two;
    two.left = 1;
    two.width = 2;
    two.height = 2;
    two.pixels = { 2, 3, 3, 2 };
    two.local = { Blue, Green, Red, Black };
    const TBytes original = MakeGif(3, 2, { Red, Green }, { one, two, one }, true);
    TPicture picture = LoadBytes(dir, "anim.gif", original);
    EXPECT_TRUE(SaveByExtension(picture, dir / "copy.gif"));
    TSlurped before, after;
    Slurp(before, original);
    Slurp(after, ReadBytes(dir / "copy.gif"));
    EXPECT_EQ(std::string(after.bytes.begin(), after.bytes.begin() + 6), "GIF89a");
    ASSERT_EQ(after.gif->ImageCount, 3);
    EXPECT_EQ(after.gif->SColorMap->ColorCount, 2);
    for (int i = 0; i < 3; ++i) {
        const SavedImage& a = before.gif->SavedImages[i];
        const SavedImage& b = after.gif->SavedImages[i];
        EXPECT_EQ(b.ImageDesc.Left, a.ImageDesc.Left);
        EXPECT_EQ(b.ImageDesc.Width, a.ImageDesc.Width);
        EXPECT_EQ(
            std::memcmp(a.RasterBits, b.RasterBits, a.ImageDesc.Width * a.ImageDesc.Height), 0);
        ASSERT_EQ(b.ExtensionBlockCount, a.ExtensionBlockCount);
        for (int e = 0; e < a.ExtensionBlockCount; ++e) {
            EXPECT_EQ(b.ExtensionBlocks[e].Function, a.ExtensionBlocks[e].Function);
            EXPECT_EQ(b.ExtensionBlocks[e].ByteCount, a.ExtensionBlocks[e].ByteCount);
        }
    }
    EXPECT_EQ(after.gif->ExtensionBlockCount, 1); // the comment after the last frame
    EXPECT_EQ(picture.Kind(), TGraphicKind::Gif);
}

TEST(GifSelf, AFileWithoutAnyColourTableWritesItselfWithBlackAndWhite)
{
    TTempDir dir;
    // Legal, if rare: neither a global nor a local table. One 2 × 1 frame of index 0, coded by
    // hand as giflib refuses to write such a frame (clear 4, 0, 0, end 5 in 3-bit codes).
    const TBytes noTables = { 'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x00, 0, 0, //
        0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0x00, //
        2, 2, 0x04, 0x0A, 0, //
        0x3B };
    TPicture picture = LoadBytes(dir, "bare.gif", noTables);
    ASSERT_EQ(picture.Kind(), TGraphicKind::Gif);
    EXPECT_TRUE(SaveByExtension(picture, dir / "copy.gif"));
    TSlurped after;
    Slurp(after, ReadBytes(dir / "copy.gif"));
    ASSERT_EQ(after.gif->ImageCount, 1);
    EXPECT_EQ(after.gif->SColorMap, nullptr);
    const ColorMapObject* local = after.gif->SavedImages[0].ImageDesc.ColorMap;
    ASSERT_NE(local, nullptr);
    ASSERT_EQ(local->ColorCount, 2);
    EXPECT_EQ(local->Colors[0].Red + local->Colors[0].Green + local->Colors[0].Blue, 0);
    EXPECT_EQ(local->Colors[1].Red & local->Colors[1].Green & local->Colors[1].Blue, 255);
    EXPECT_EQ(after.gif->SavedImages[0].RasterBits[0], 0);
    EXPECT_EQ(after.gif->SavedImages[0].RasterBits[1], 0);
}

TEST(GifReader, DamagedAndHostileFilesFailWithAnImageError)
{
    TTempDir dir;
    TTestFrame frame;
    frame.width = 4;
    frame.height = 4;
    frame.pixels.assign(16, 1);
    const TBytes good = MakeGif(4, 4, { Red, Green }, { frame });
    std::vector<std::pair<std::string, TBytes>> cases;
    for (const std::size_t cut : { std::size_t { 3 }, std::size_t { 12 }, std::size_t { 20 },
             good.size() - 6, good.size() - 1 })
        cases.emplace_back(
            "cut at " + std::to_string(cut), TBytes(good.begin(), good.begin() + cut));
    TBytes zeroScreen = good;
    zeroScreen[6] = zeroScreen[7] = 0;
    cases.emplace_back("screen of width 0", zeroScreen);
    cases.emplace_back("no frame", MakeGif(4, 4, { Red, Green }, {}));
    // A 65535 x 65535 frame declared in a few bytes: refused before any pixel is reserved.
    TBytes huge = MakeGif(1, 1, { Red, Green }, { TTestFrame { 0, 0, 1, 1, {}, { 0 } } });
    const std::size_t desc = 13 + 6;
    ASSERT_EQ(huge[desc], 0x2C);
    huge[desc + 5] = huge[desc + 6] = huge[desc + 7] = huge[desc + 8] = 0xFF;
    cases.emplace_back("huge frame", huge);
    TBytes unknownRecord = good;
    unknownRecord.insert(unknownRecord.end() - 1, 0x55);
    cases.emplace_back("unknown record", unknownRecord);
    TBytes notGif = good;
    notGif[0] = 'X';
    cases.emplace_back("no GIF signature", notGif);
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        WriteBytes(dir / "bad.gif", bytes);
        TPicture picture;
        try {
            LoadFromFile(picture, dir / "bad.gif");
            ADD_FAILURE() << "loaded";
        } catch (const EImageError& e) {
            if (name == "no GIF signature") {
                EXPECT_EQ(e.Code(), parvula::errors::TCode::GifNotGif);
                EXPECT_EQ(std::string(e.what()), "GIF: keine GIF-Datei");
            }
            // giflib's own English texts never reach the user.
            const std::string text = e.what();
            for (int code = 1; code <= 113; ++code) {
                const char* english = GifErrorString(code);
                if (english && std::strcmp(english, "Unknown error") != 0) {
                    EXPECT_EQ(text.find(english), std::string::npos) << text;
                }
            }
        }
    }
}

TEST(GifReader, MoreThanTenThousandFramesAreRefused)
{
    TTempDir dir;
    TTestFrame dot { 0, 0, 1, 1, {}, { 0 } };
    WriteBytes(
        dir / "many.gif", MakeGif(1, 1, { Red, Green }, std::vector<TTestFrame>(10001, dot)));
    TPicture picture;
    try {
        LoadFromFile(picture, dir / "many.gif");
        FAIL() << "loaded";
    } catch (const EImageError& error) {
        EXPECT_NE(std::string(error.what()).find("10000"), std::string::npos) << error.what();
    }
    WriteBytes(
        dir / "enough.gif", MakeGif(1, 1, { Red, Green }, std::vector<TTestFrame>(10000, dot)));
    EXPECT_NO_THROW(LoadFromFile(picture, dir / "enough.gif"));
}
