// AVIF: what libavif decodes (avifdec's own pixels) with and without alpha, the 'irot' and 'imir'
// properties applied as libheif applies them, the colour description, damaged and hostile files.
#include <cstring>

#include <gtest/gtest.h>

#include "imaging/imagefiles_internal.h"
#include "imaging/orientation.h"
#include "imaging_support.h"
#include "photo_support.h"

namespace parvula::imaging {
namespace {

    using namespace test;

    TEST(Avif, DecodesToAvifdecsPixelsWithAndWithoutAlpha)
    {
        PARVULA_REQUIRE_TOOLS("avifenc", "avifdec");
        TTempDir dir;
        for (const bool alpha : { false, true }) {
            SCOPED_TRACE(alpha ? "alpha" : "opaque");
            WriteBytes(dir / "source.png", PatternPng(61, 38, alpha));
            ASSERT_TRUE(RunTool(
                "avifenc -s 10 -j 1 " + Quoted(dir / "source.png") + " " + Quoted(dir / "x.avif")));
            ASSERT_TRUE(RunTool(
                "avifdec -d 8 " + Quoted(dir / "x.avif") + " " + Quoted(dir / "reference.png")));
            const TPicture picture = Load(dir / "x.avif");
            EXPECT_EQ(picture.Kind(), TGraphicKind::Avif);
            EXPECT_TRUE(SameDrawing(picture, Load(dir / "reference.png")));
            EXPECT_EQ(PictureOrientation(picture), 1);
        }
    }

    // avifdec writes the stored picture; libheif and viewers turn and mirror it by its
    // properties, and so does the reader: the turn as an EXIF orientation would give it.
    TEST(Avif, RotationAndMirrorPropertiesAreApplied)
    {
        PARVULA_REQUIRE_TOOLS("avifenc", "avifdec");
        TTempDir dir;
        WriteBytes(dir / "source.png", PatternPng(29, 17, false));
        const struct {
            const char* options;
            int orientation; // the EXIF orientation that shows the same
        } cases[] = {
            { "--irot 1", 8 },
            { "--irot 2", 3 },
            { "--irot 3", 6 },
            { "--imir 0", 4 },
            { "--imir 1", 2 },
            { "--irot 1 --imir 0", 5 },
            { "--irot 1 --imir 1", 7 },
        };
        ASSERT_TRUE(RunTool(
            "avifenc -s 10 " + Quoted(dir / "source.png") + " " + Quoted(dir / "plain.avif")));
        ASSERT_TRUE(RunTool(
            "avifdec -d 8 " + Quoted(dir / "plain.avif") + " " + Quoted(dir / "stored.png")));
        TPicture stored = Load(dir / "stored.png");
        const TBitmap storedDrawn = ToBitmap(stored);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.options);
            ASSERT_TRUE(RunTool(std::string("avifenc -s 10 ") + c.options + " "
                + Quoted(dir / "source.png") + " " + Quoted(dir / "turned.avif")));
            TPicture expected;
            expected.Assign(Upright(storedDrawn, c.orientation));
            EXPECT_TRUE(SameDrawing(Load(dir / "turned.avif"), expected));
        }
    }

    // The clean aperture crops the picture before it is turned, as in a HEIC.
    TEST(Avif, TheCleanApertureCropsFirst)
    {
        PARVULA_REQUIRE_TOOLS("avifenc", "avifdec");
        TTempDir dir;
        WriteBytes(dir / "source.png", PatternPng(40, 30, true));
        ASSERT_TRUE(RunTool("avifenc -s 10 --yuv 444 " + Quoted(dir / "source.png") + " "
            + Quoted(dir / "plain.avif")));
        ASSERT_TRUE(RunTool(
            "avifdec -d 8 " + Quoted(dir / "plain.avif") + " " + Quoted(dir / "stored.png")));
        TPicture stored = Load(dir / "stored.png");
        const TBitmap whole = ToBitmap(stored);
        TBitmap crop(20, 10, 24);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x)
                std::memcpy(PixelAt(crop, x, y), whole.ScanLine(y + 12) + 3 * (x + 6), 3);
        for (const auto& [options, orientation] :
            { std::pair { "", 1 }, std::pair { "--irot 3", 6 } }) {
            SCOPED_TRACE(options);
            ASSERT_TRUE(RunTool(std::string("avifenc -s 10 --yuv 444 --crop 6,12,20,10 ") + options
                + " " + Quoted(dir / "source.png") + " " + Quoted(dir / "c.avif")));
            TPicture expected;
            expected.Assign(Upright(crop, orientation));
            EXPECT_TRUE(SameDrawing(Load(dir / "c.avif"), expected));
        }
    }

    TEST(Avif, TheColourDescriptionIsReported)
    {
        PARVULA_REQUIRE_TOOLS("avifenc");
        TTempDir dir;
        WriteBytes(dir / "source.png", PatternPng(16, 16, false));
        const TBytes profile = SrgbProfile();
        WriteBytes(dir / "profile.icc", profile);
        ASSERT_TRUE(RunTool("avifenc -s 10 --cicp 9/16/9 " + Quoted(dir / "source.png") + " "
            + Quoted(dir / "nclx.avif")));
        ASSERT_TRUE(RunTool("avifenc -s 10 --icc " + Quoted(dir / "profile.icc") + " "
            + Quoted(dir / "source.png") + " " + Quoted(dir / "icc.avif")));
        const TColourDescription nclx = Load(dir / "nclx.avif").Graphic()->Colours();
        EXPECT_EQ(nclx.primaries, 9);
        EXPECT_EQ(nclx.transfer, 16);
        EXPECT_TRUE(nclx.icc.empty());
        EXPECT_EQ(Load(dir / "icc.avif").Graphic()->Colours().icc, profile);
    }

    TEST(Avif, DamagedAndHostileFilesFailWithTheirCauseAndTheFilesName)
    {
        PARVULA_REQUIRE_TOOLS("avifenc");
        TTempDir dir;
        WriteBytes(dir / "source.png", PatternPng(64, 64, false));
        ASSERT_TRUE(RunTool(
            "avifenc -s 10 " + Quoted(dir / "source.png") + " " + Quoted(dir / "good.avif")));
        const TBytes good = ReadBytes(dir / "good.avif");
        const struct {
            const char* name;
            TBytes bytes;
            TCode code;
        } cases[] = {
            { "cut.avif", TBytes(good.begin(), good.begin() + good.size() * 2 / 3),
                TCode::PhotoDamaged },
            { "declares_60000x60000.avif", WithSpatialExtents(good, 60000, 60000),
                TCode::PhotoPixelsTooMany },
            { "declares_70000x1.avif", WithSpatialExtents(good, 70000, 1),
                TCode::PhotoSideTooLarge },
            { "not_avif.avif", TBytes(200, 'x'), TCode::PhotoNotFormat },
        };
        for (const auto& c : cases)
            ExpectLoadFails(dir, c.name, c.bytes, c.code, "AVIF: ");
    }

} // namespace
} // namespace parvula::imaging
