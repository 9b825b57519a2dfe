// WebP: what libwebp decodes (dwebp's own pixels) in every variant, an animation's first frame,
// the profile and the orientation from their chunks, damaged files, and the lossy writer.
#include <cstring>

#include <gtest/gtest.h>

#include "imaging/formats.h"
#include "imaging/imagefiles_internal.h"
#include "imaging/orientation.h"
#include "imaging_support.h"
#include "photo_support.h"

namespace parvula::imaging {
namespace {

    using namespace test;

    // An EXIF block as WebP writers store it: a TIFF structure with one orientation entry.
    TBytes ExifWithOrientation(int orientation)
    {
        return { 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0,
            static_cast<std::uint8_t>(orientation), 0, 0, 0, 0, 0, 0, 0 };
    }

    TEST(Webp, EveryVariantDecodesToTheLibrarysOwnPixels)
    {
        PARVULA_REQUIRE_TOOLS("cwebp", "dwebp");
        TTempDir dir;
        const struct {
            const char* name;
            bool alpha;
            const char* options;
        } cases[] = {
            { "lossy", false, "-q 75" },
            { "lossless", false, "-lossless" },
            { "lossy with alpha", true, "-q 60 -alpha_q 50" },
            { "lossless with alpha", true, "-lossless -exact" },
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            WriteBytes(dir / "source.png", PatternPng(67, 45, c.alpha));
            ASSERT_TRUE(RunTool(std::string("cwebp ") + c.options + " " + Quoted(dir / "source.png")
                + " -o " + Quoted(dir / "x.webp")));
            ASSERT_TRUE(RunTool(
                "dwebp " + Quoted(dir / "x.webp") + " -o " + Quoted(dir / "reference.png")));
            const TPicture picture = Load(dir / "x.webp");
            EXPECT_EQ(picture.Kind(), TGraphicKind::Webp);
            EXPECT_TRUE(SameDrawing(picture, Load(dir / "reference.png")));
            if (std::string(c.options).find("lossless") != std::string::npos) {
                EXPECT_TRUE(SameDrawing(picture, Load(dir / "source.png")));
            }
        }
    }

    TEST(Webp, AnAnimationGivesItsFirstFrame)
    {
        PARVULA_REQUIRE_TOOLS("img2webp");
        TTempDir dir;
        WriteBytes(dir / "one.png", PatternPng(40, 30, true, 1));
        WriteBytes(dir / "two.png", PatternPng(40, 30, false, 2));
        ASSERT_TRUE(RunTool("img2webp -lossless " + Quoted(dir / "one.png") + " "
            + Quoted(dir / "two.png") + " -o " + Quoted(dir / "anim.webp")));
        EXPECT_TRUE(SameDrawing(Load(dir / "anim.webp"), Load(dir / "one.png")));
    }

    TEST(Webp, TheProfileAndTheOrientationComeFromTheirChunks)
    {
        PARVULA_REQUIRE_TOOLS("cwebp", "webpmux");
        TTempDir dir;
        WriteBytes(dir / "source.png", PatternPng(20, 10, false));
        ASSERT_TRUE(RunTool(
            "cwebp -q 80 " + Quoted(dir / "source.png") + " -o " + Quoted(dir / "plain.webp")));
        const TBytes profile = SrgbProfile();
        WriteBytes(dir / "profile.icc", profile);
        WriteBytes(dir / "exif.bin", ExifWithOrientation(6));
        ASSERT_TRUE(RunTool("webpmux -set icc " + Quoted(dir / "profile.icc") + " "
            + Quoted(dir / "plain.webp") + " -o " + Quoted(dir / "icc.webp")));
        ASSERT_TRUE(RunTool("webpmux -set exif " + Quoted(dir / "exif.bin") + " "
            + Quoted(dir / "icc.webp") + " -o " + Quoted(dir / "tagged.webp")));

        const TPicture plain = Load(dir / "plain.webp");
        EXPECT_TRUE(plain.Graphic()->Colours().Empty());
        EXPECT_EQ(PictureOrientation(plain), 1);
        const TPicture tagged = Load(dir / "tagged.webp");
        EXPECT_EQ(tagged.Graphic()->Colours().icc, profile);
        EXPECT_EQ(PictureOrientation(tagged), 6);
        // The pixels stay as stored; turning them is the run's work under "Upright".
        EXPECT_TRUE(SameDrawing(tagged, plain));
        // A block that begins with a JPEG segment's mark is read too.
        TBytes marked = { 'E', 'x', 'i', 'f', 0, 0 };
        const TBytes exif = ExifWithOrientation(8);
        marked.insert(marked.end(), exif.begin(), exif.end());
        EXPECT_EQ(ExifBlockOrientation(marked), 8);
        EXPECT_EQ(ExifBlockOrientation(TBytes { 'I', 'I', 42 }), 1);
    }

    TEST(Webp, DamagedFilesFailWithTheirCauseAndTheFilesName)
    {
        PARVULA_REQUIRE_TOOLS("cwebp");
        TTempDir dir;
        WriteBytes(dir / "source.png", PatternPng(64, 64, false));
        ASSERT_TRUE(RunTool(
            "cwebp -q 80 " + Quoted(dir / "source.png") + " -o " + Quoted(dir / "good.webp")));
        const TBytes good = ReadBytes(dir / "good.webp");
        // A VP8X header declaring a canvas of 16384 x 16384 (the format's most) in 30 bytes.
        const TBytes huge = { 'R', 'I', 'F', 'F', 22, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8',
            'X', 10, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x3F, 0, 0xFF, 0x3F, 0 };
        const struct {
            const char* name;
            TBytes bytes;
            TCode code;
        } cases[] = {
            { "cut.webp", TBytes(good.begin(), good.begin() + good.size() / 2),
                TCode::PhotoDamaged },
            { "header_only.webp", TBytes(good.begin(), good.begin() + 30), TCode::PhotoDamaged },
            { "not_webp.webp", TBytes(100, 'x'), TCode::PhotoNotFormat },
            { "huge.webp", huge, TCode::PhotoPixelsTooMany },
            { "empty.webp", {}, TCode::PhotoNotFormat },
        };
        for (const auto& c : cases)
            ExpectLoadFails(dir, c.name, c.bytes, c.code, "WebP: ");
    }

    TEST(Webp, TheWriterIsLossyAtTheQualityAndKeepsTheTransparencyMark)
    {
        PARVULA_REQUIRE_TOOLS("dwebp");
        TTempDir dir;
        TPicture picture;
        picture.Assign(NoiseBitmap(50, 31, 3));
        const auto low = EncodeWebp(picture, dir / "x.jpg", 20);
        const auto high = EncodeWebp(picture, dir / "x.jpg", 95);
        ASSERT_TRUE(low && high);
        EXPECT_EQ(low->path, dir / "x.webp");
        EXPECT_LT(low->bytes.size(), high->bytes.size());
        WriteBytes(dir / "high.webp", high->bytes);
        ASSERT_TRUE(
            RunTool("dwebp " + Quoted(dir / "high.webp") + " -o " + Quoted(dir / "back.png")));
        const TPicture back = Load(dir / "back.png");
        EXPECT_EQ(back.Width(), 50);
        EXPECT_EQ(back.Height(), 31);

        // Marked transparent: the bottom-left pixel's colour becomes alpha 0, the rest opaque.
        TBitmap two = SolidBitmap(16, 16, TRgb { 255, 255, 255 });
        for (int y = 4; y < 12; ++y)
            for (int x = 4; x < 12; ++x)
                std::memcpy(PixelAt(two, x, y), "\x10\x80\x20", 3);
        two.SetTransparent(true);
        TPicture marked;
        marked.Assign(two);
        const auto keyed = EncodeWebp(marked, dir / "k.png", 90);
        ASSERT_TRUE(keyed);
        WriteBytes(dir / "k.webp", keyed->bytes);
        ASSERT_TRUE(
            RunTool("dwebp " + Quoted(dir / "k.webp") + " -pam -o " + Quoted(dir / "k.pam")));
        const TBytes pam = ReadBytes(dir / "k.pam");
        const std::string text(pam.begin(), pam.end());
        const std::size_t data = text.find("ENDHDR\n");
        ASSERT_NE(data, std::string::npos);
        const auto alphaAt = [&](int x, int y) { return pam[data + 7 + (y * 16 + x) * 4 + 3]; };
        EXPECT_EQ(alphaAt(0, 0), 0);
        EXPECT_EQ(alphaAt(15, 15), 0);
        EXPECT_EQ(alphaAt(8, 8), 255);

        // A WebP picture is taken over byte for byte only at quality 100, like a JPEG.
        TPicture webp = LoadBytes(dir, "again.webp", high->bytes);
        EXPECT_EQ(EncodeWebp(webp, dir / "y.webp", 100)->bytes, high->bytes);
        EXPECT_NE(EncodeWebp(webp, dir / "y.webp", 90)->bytes, high->bytes);
        TPicture empty;
        EXPECT_FALSE(EncodeWebp(empty, dir / "z.webp", 90));
        // Beyond the format's sides nothing is written.
        TPicture wide;
        wide.Assign(SolidBitmap(16384, 1, TRgb {}));
        EXPECT_THROW(EncodeWebp(wide, dir / "w.webp", 90), EImageError);
    }

} // namespace
} // namespace parvula::imaging
