// HEIC and HEIF: what libheif decodes (heif-convert's own pixels) with and without alpha, the
// colour description, damaged and hostile files.
#include <cstring>

#include <gtest/gtest.h>
#include <zlib.h>

#include "imaging/imagefiles_internal.h"
#include "imaging/orientation.h"
#include "imaging_support.h"
#include "photo_support.h"

namespace parvula::imaging {
namespace {

    using namespace test;

    TEST(Heif, HeicDecodesToHeifConvertsPixelsWithAndWithoutAlpha)
    {
        PARVULA_REQUIRE_TOOLS("heif-enc", "heif-convert");
        TTempDir dir;
        for (const bool alpha : { false, true }) {
            SCOPED_TRACE(alpha ? "alpha" : "opaque");
            WriteBytes(dir / "source.png", PatternPng(70, 43, alpha));
            ASSERT_TRUE(RunTool(
                "heif-enc -q 60 " + Quoted(dir / "source.png") + " -o " + Quoted(dir / "x.heic")));
            ASSERT_TRUE(RunTool(
                "heif-convert " + Quoted(dir / "x.heic") + " " + Quoted(dir / "reference.png")));
            const TPicture picture = Load(dir / "x.heic");
            EXPECT_EQ(picture.Kind(), TGraphicKind::Heif);
            EXPECT_EQ(picture.Width(), 70);
            EXPECT_EQ(picture.Height(), 43);
            EXPECT_TRUE(SameDrawing(picture, Load(dir / "reference.png")));
            // libheif turns the picture itself: no tag is honoured a second time.
            EXPECT_EQ(PictureOrientation(picture), 1);
            std::filesystem::copy_file(dir / "x.heic", dir / (alpha ? "a.HEIF" : "b.heif"));
            EXPECT_TRUE(SameDrawing(Load(dir / (alpha ? "a.HEIF" : "b.heif")), picture));
        }
    }

    TEST(Heif, TheColourDescriptionIsReported)
    {
        PARVULA_REQUIRE_TOOLS("heif-enc", "avifenc");
        TTempDir dir;
        WriteBytes(dir / "plain.png", PatternPng(16, 16, false));
        // heif-enc of this libheif writes no 'nclx' box; libavif's encoder does, and libheif
        // reads an AVIF as the HEIF it is.
        ASSERT_TRUE(RunTool("avifenc -s 10 --cicp 9/16/9 " + Quoted(dir / "plain.png") + " "
            + Quoted(dir / "nclx.avif")));
        const TColourDescription nclx
            = ReadHeif(TSharedBytes::Own(ReadBytes(dir / "nclx.avif")))->Colours();
        EXPECT_EQ(nclx.primaries, 9);
        EXPECT_EQ(nclx.transfer, 16);
        ASSERT_TRUE(RunTool(
            "heif-enc -q 60 " + Quoted(dir / "plain.png") + " -o " + Quoted(dir / "plain.heic")));
        EXPECT_TRUE(Load(dir / "plain.heic").Graphic()->Colours().Empty());

        // An iCCP chunk in the source becomes the HEIC's ICC profile.
        const TBytes profile = SrgbProfile();
        TBytes iccp = { 's', 'R', 'G', 'B', 0, 0 };
        uLongf size = compressBound(static_cast<uLong>(profile.size()));
        TBytes deflated(size);
        ASSERT_EQ(
            compress(deflated.data(), &size, profile.data(), static_cast<uLong>(profile.size())),
            Z_OK);
        iccp.insert(iccp.end(), deflated.begin(), deflated.begin() + static_cast<long>(size));
        TBytes rows(16 * 16 * 3, 100);
        WriteBytes(dir / "icc.png", MakePng(16, 16, 8, 2, rows, { { "iCCP", iccp } }));
        ASSERT_TRUE(RunTool(
            "heif-enc -q 60 " + Quoted(dir / "icc.png") + " -o " + Quoted(dir / "icc.heic")));
        EXPECT_EQ(Load(dir / "icc.heic").Graphic()->Colours().icc, profile);
    }

    TEST(Heif, DamagedAndHostileFilesFailWithTheirCauseAndTheFilesName)
    {
        PARVULA_REQUIRE_TOOLS("heif-enc");
        TTempDir dir;
        WriteBytes(dir / "source.png", PatternPng(64, 64, false));
        ASSERT_TRUE(RunTool(
            "heif-enc -q 60 " + Quoted(dir / "source.png") + " -o " + Quoted(dir / "good.heic")));
        const TBytes good = ReadBytes(dir / "good.heic");
        // An MP4 file's header: a box structure, but no HEIF brand.
        const TBytes mp4 = { 0, 0, 0, 20, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 2, 0, 'i',
            's', 'o', 'm', 0, 0, 0, 8, 'm', 'd', 'a', 't' };
        const struct {
            const char* name;
            TBytes bytes;
            TCode code;
        } cases[] = {
            { "cut.heic", TBytes(good.begin(), good.begin() + good.size() * 2 / 3),
                TCode::PhotoDamaged },
            { "boxes_only.heic", TBytes(good.begin(), good.begin() + 40), TCode::PhotoDamaged },
            { "declares_60000x60000.heic", WithSpatialExtents(good, 60000, 60000),
                TCode::PhotoPixelsTooMany },
            { "declares_70000x70000.heic", WithSpatialExtents(good, 70000, 70000),
                TCode::PhotoSideTooLarge },
            // Within the pixel limit, but beyond the side libheif is let build a picture of.
            { "declares_12000x5000.heic", WithSpatialExtents(good, 12000, 5000),
                TCode::PhotoSideLimit },
            { "not_heif.heic", TBytes(200, 'x'), TCode::PhotoNotFormat },
            { "video.heic", mp4, TCode::PhotoNotFormat },
        };
        for (const auto& c : cases)
            ExpectLoadFails(dir, c.name, c.bytes, c.code, "HEIF: ");
    }

} // namespace
} // namespace parvula::imaging
