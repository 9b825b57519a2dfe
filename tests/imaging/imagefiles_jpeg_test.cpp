// JPEG: stored bytes written unchanged at quality 100, the encoder's exact libjpeg settings,
// lazy decoding, colour spaces, the scan limit and damaged files.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "imaging/imagefiles.h"
#include "imaging/picstretch1.h"
#include "imaging/imaging_support.h"

using namespace parvula::imaging;
using namespace parvula::imaging::test;

namespace {

struct TTestJpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void TestErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<TTestJpegError*>(cinfo->err)->jump, 1);
}

// An independent encoder: libjpeg's defaults, the quality with baseline tables, RGB rows.
// components 4 writes CMYK samples as given, 1 grey; scans, when set, replace the scan script.
TBytes EncodeIndependently(int width, int height, int components, const TBytes& samples,
    int quality, const std::vector<jpeg_scan_info>& scans = {})
{
    jpeg_compress_struct cinfo;
    TTestJpegError error;
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = TestErrorExit;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(out);
        ADD_FAILURE() << "libjpeg failed in the test's encoder";
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 4 ? JCS_CMYK : (components == 1 ? JCS_GRAYSCALE : JCS_RGB);
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (!scans.empty()) {
        cinfo.scan_info = scans.data();
        cinfo.num_scans = static_cast<int>(scans.size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(
            samples.data() + static_cast<std::size_t>(y) * width * components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    TBytes bytes(out, out + size);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return bytes;
}

TBytes RgbSamples(const TBitmap& bitmap)
{
    TBytes rgb;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const TRgb c = bitmap.PixelColor(x, y);
            rgb.insert(rgb.end(), { c.r, c.g, c.b });
        }
    return rgb;
}

} // namespace

TEST(JpegWriter, QualityHundredWritesTheStoredBytesAndLowerQualityEncodesAgain)
{
    TTempDir dir;
    const TBitmap source = NoiseBitmap(40, 24, 3);
    const TBytes original = EncodeIndependently(40, 24, 3, RgbSamples(source), 75);
    TPicture picture = LoadBytes(dir, "photo.jpg", original);
    EXPECT_EQ(picture.Kind(), TGraphicKind::Jpeg);
    EXPECT_EQ(picture.Width(), 40);
    EXPECT_EQ(picture.Height(), 24);

    EXPECT_TRUE(SaveAsJpeg(picture, dir / "same.jpg", 100));
    EXPECT_EQ(ReadBytes(dir / "same.jpg"), original);
    EXPECT_EQ(picture.Kind(), TGraphicKind::Jpeg);

    EXPECT_TRUE(SaveAsJpeg(picture, dir / "again.jpg", 99));
    const TBytes again = ReadBytes(dir / "again.jpg");
    EXPECT_NE(again, original);
    // Re-encoding went through the conversion: the picture now holds the decoded bitmap, and the
    // file is exactly what libjpeg makes of that bitmap at 99.
    ASSERT_NE(picture.Bitmap(), nullptr);
    EXPECT_EQ(again, EncodeIndependently(40, 24, 3, RgbSamples(*picture.Bitmap()), 99));
}

// Bytes in memory another part keeps (a mapped file): the JPEG holds their owner as long as it
// may still decode them, and gives what the same file read from disk gives.
TEST(JpegReader, BytesInMemoryAreKeptByTheirOwnerWhileThePictureNeedsThem)
{
    TTempDir dir;
    const TBitmap source = NoiseBitmap(40, 24, 5);
    const TBytes original = EncodeIndependently(40, 24, 3, RgbSamples(source), 80);
    TPicture fromFile = LoadBytes(dir, "photo.jpg", original);

    auto owner = std::make_shared<const TBytes>(original);
    const std::weak_ptr<const TBytes> watch = owner;
    TPicture picture;
    LoadFromBytes(picture, dir / "photo.jpg", owner, *owner);
    owner.reset();
    ASSERT_FALSE(watch.expired());
    EXPECT_EQ(picture.Kind(), TGraphicKind::Jpeg);
    EXPECT_TRUE(SaveAsJpeg(picture, dir / "same.jpg", 100));
    EXPECT_EQ(ReadBytes(dir / "same.jpg"), original);
    FitToBox(picture, { 20, 20, true, TFitDirection::BothWays, TFilter::Lanczos3 });
    FitToBox(fromFile, { 20, 20, true, TFitDirection::BothWays, TFilter::Lanczos3 });
    ASSERT_NE(picture.Bitmap(), nullptr);
    ASSERT_NE(fromFile.Bitmap(), nullptr);
    EXPECT_EQ(RgbSamples(*picture.Bitmap()), RgbSamples(*fromFile.Bitmap()));
    // Resampled into a bitmap, the picture no longer needs them.
    EXPECT_TRUE(watch.expired());
}

// Bytes held elsewhere may change after the header was read (a file rewritten while mapped):
// rows of another size must not be written into rows of the old one.
TEST(JpegReader, BytesChangedToAnotherSizeFailInsteadOfOverrunning)
{
    TTempDir dir;
    const TBytes wide = EncodeIndependently(40, 24, 3, RgbSamples(NoiseBitmap(40, 24, 1)), 80);
    const TBytes tall = EncodeIndependently(24, 40, 3, RgbSamples(NoiseBitmap(24, 40, 2)), 80);
    for (const bool draw : { false, true }) {
        SCOPED_TRACE(draw);
        // Room for either file; a decoder stops at the end of the image.
        auto bytes = std::make_shared<TBytes>(std::max(wide.size(), tall.size()), 0);
        std::copy(wide.begin(), wide.end(), bytes->begin());
        TPicture picture;
        LoadFromBytes(picture, dir / "photo.jpg", bytes, *bytes);
        ASSERT_EQ(picture.Width(), 40);
        std::fill(bytes->begin(), bytes->end(), 0);
        std::copy(tall.begin(), tall.end(), bytes->begin());
        if (draw) {
            TBitmap target(40, 24, 24);
            EXPECT_THROW(picture.DrawOnto(target), EImageError);
        } else {
            EXPECT_THROW(
                FitToBox(picture, { 20, 20, true, TFitDirection::BothWays, TFilter::Lanczos3 }),
                EImageError);
        }
    }
}

TEST(JpegWriter, BitmapsAreEncodedWithLibjpegDefaultsAtTheQuality)
{
    TTempDir dir;
    struct Case {
        int quality;
        int expected;
    };
    for (const Case c : { Case { 90, 90 }, Case { 10, 10 }, Case { 0, 100 }, Case { 101, 100 },
             Case { -5, 100 } }) {
        SCOPED_TRACE(c.quality);
        TBitmap bitmap = NoiseBitmap(17, 9, 11);
        TPicture picture;
        picture.Assign(bitmap);
        EXPECT_TRUE(SaveAsJpeg(picture, dir / "q.jpeg", c.quality));
        EXPECT_FALSE(std::filesystem::exists(dir / "q.jpeg"));
        EXPECT_EQ(ReadBytes(dir / "q.jpg"),
            EncodeIndependently(17, 9, 3, RgbSamples(bitmap), c.expected));
    }
}

TEST(JpegWriter, PaletteBitmapIsEncodedFromItsColours)
{
    TTempDir dir;
    TBitmap bitmap(6, 3, 4);
    bitmap.Palette()[1] = TRgb { 10, 200, 30 };
    bitmap.SetPixelIndex(2, 1, 1);
    TPicture picture;
    picture.Assign(bitmap);
    EXPECT_TRUE(SaveAsJpeg(picture, dir / "p.jpg", 80));
    EXPECT_EQ(ReadBytes(dir / "p.jpg"), EncodeIndependently(6, 3, 3, RgbSamples(bitmap), 80));
    EXPECT_EQ(picture.Bitmap()->BitsPerPixel(), 4); // the picture's own bitmap is left as it was
}

TEST(JpegWriter, EmptyPictureWritesNothing)
{
    TTempDir dir;
    TPicture picture;
    EXPECT_FALSE(SaveAsJpeg(picture, dir / "e.jpg", 90));
    EXPECT_TRUE(dir.Names().empty());
}

TEST(JpegReader, DecodesColourGreyAndCmykOnFirstDrawing)
{
    TTempDir dir;
    TBitmap bitmap = SolidBitmap(16, 16, TRgb { 40, 120, 200 });
    TPicture colour
        = LoadBytes(dir, "c.jpg", EncodeIndependently(16, 16, 3, RgbSamples(bitmap), 95));
    const TRgb c = ToBitmap(colour).PixelColor(5, 5);
    EXPECT_NEAR(c.r, 200, 3);
    EXPECT_NEAR(c.g, 120, 3);
    EXPECT_NEAR(c.b, 40, 3);

    TPicture grey = LoadBytes(dir, "g.jpg", EncodeIndependently(8, 8, 1, TBytes(64, 77), 95));
    const TRgb g = ToBitmap(grey).PixelColor(3, 3);
    EXPECT_NEAR(g.r, 77, 2);
    EXPECT_EQ(g.r, g.g);
    EXPECT_EQ(g.g, g.b);

    // CMYK as Adobe writes it (0 = full ink): full cyan and nothing else reads as cyan.
    TBytes cmyk;
    for (int i = 0; i < 16 * 16; ++i)
        cmyk.insert(cmyk.end(), { 0, 255, 255, 255 });
    TPicture cyan = LoadBytes(dir, "k.jpg", EncodeIndependently(16, 16, 4, cmyk, 95));
    const TRgb k = ToBitmap(cyan).PixelColor(8, 8);
    EXPECT_LE(k.r, 4);
    EXPECT_GE(k.g, 251);
    EXPECT_GE(k.b, 251);
}

TEST(JpegReader, ProgressiveFilesBeyondTheScanLimitFail)
{
    TTempDir dir;
    // Every AC coefficient of every component in its own scan, in one or in three successive
    // approximation steps: 1 + 189 = 190 scans, or 3 + 3 x 63 x 3 = 570 scans.
    auto script = [](int steps) {
        std::vector<jpeg_scan_info> scans;
        auto scan = [&](int comps, int c, int ss, int ah, int al) {
            jpeg_scan_info s {};
            s.comps_in_scan = comps;
            for (int i = 0; i < comps; ++i)
                s.component_index[i] = comps == 1 ? c : i;
            s.Ss = ss;
            s.Se = ss;
            s.Ah = ah;
            s.Al = al;
            scans.push_back(s);
        };
        const int top = steps - 1;
        for (int al = top; al >= 0; --al)
            scan(3, 0, 0, al == top ? 0 : al + 1, al);
        for (int c = 0; c < 3; ++c)
            for (int k = 1; k < 64; ++k)
                for (int al = top; al >= 0; --al)
                    scan(1, c, k, al == top ? 0 : al + 1, al);
        return scans;
    };
    const TBitmap bitmap = NoiseBitmap(8, 8, 5);
    TPicture picture = LoadBytes(
        dir, "many.jpg", EncodeIndependently(8, 8, 3, RgbSamples(bitmap), 90, script(3)));
    try {
        ToBitmap(picture);
        FAIL() << "570 scans were decoded";
    } catch (const EImageError& error) {
        EXPECT_NE(std::string(error.what()).find("500"), std::string::npos) << error.what();
    }

    TPicture fewer = LoadBytes(
        dir, "fewer.jpg", EncodeIndependently(8, 8, 3, RgbSamples(bitmap), 90, script(1)));
    EXPECT_NO_THROW(ToBitmap(fewer));
}

TEST(JpegReader, DamagedFilesFailWithTheMessageNumberAndKeepThePreviousGraphic)
{
    TTempDir dir;
    const TBitmap bitmap = NoiseBitmap(8, 8, 9);
    const TBytes good = EncodeIndependently(8, 8, 3, RgbSamples(bitmap), 90);
    TPicture picture;
    picture.Assign(SolidBitmap(3, 2, TRgb { 1, 2, 3 }));
    std::vector<std::pair<std::string, TBytes>> cases = {
        { "empty", {} },
        { "two bytes", TBytes(good.begin(), good.begin() + 2) },
        { "cut in the header", TBytes(good.begin(), good.begin() + 100) },
        { "not a JPEG", MakePng(1, 1, 8, 0, { 0 }) },
    };
    TBytes zeroSize = good;
    for (std::size_t i = 0; i + 8 < zeroSize.size(); ++i)
        if (zeroSize[i] == 0xFF && zeroSize[i + 1] == 0xC0) { // SOF0: height and width to 0
            zeroSize[i + 5] = zeroSize[i + 6] = zeroSize[i + 7] = zeroSize[i + 8] = 0;
            break;
        }
    cases.emplace_back("zero size", zeroSize);
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        WriteBytes(dir / "bad.jpg", bytes);
        try {
            LoadFromFile(picture, dir / "bad.jpg");
            ToBitmap(picture);
            ADD_FAILURE() << "decoded";
        } catch (const EImageError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("JPEG-Fehler #", 0), 0u) << error.what();
        }
        ASSERT_NE(picture.Bitmap(), nullptr);
        EXPECT_EQ(picture.Width(), 3);
    }
}
