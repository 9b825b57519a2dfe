// TIFF: libtiff's RGBA reading (tiff2rgba's own pixels) for every layout the reader takes,
// strips and tiles, the orientation tag and the profile, damaged and hostile files.
#include <cstring>

#include <gtest/gtest.h>
#include <tiffio.h>

#include "imaging/imagefiles_internal.h"
#include "imaging/imagefiles_pixels.h"
#include "imaging/orientation.h"
#include "imaging_support.h"
#include "photo_support.h"

namespace parvula::imaging {
namespace {

    using namespace test;

    struct TTiffLayout {
        const char* name;
        int samples;
        int bits;
        int photometric;
        bool alpha; // the last sample is unassociated alpha
        int compression;
    };

    // A picture of the layout written by libtiff: a few rows a strip, a pattern in every sample.
    void WriteTiff(const std::filesystem::path& path, int width, int height,
        const TTiffLayout& layout, const TBytes& icc = {})
    {
        TIFF* tiff = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(tiff, nullptr);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bits);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 7);
        if (layout.alpha) {
            const std::uint16_t extra[1] = { EXTRASAMPLE_UNASSALPHA };
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        if (layout.photometric == PHOTOMETRIC_SEPARATED)
            TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
        if (layout.photometric == PHOTOMETRIC_PALETTE) {
            std::vector<std::uint16_t> r(256), g(256), b(256);
            for (int i = 0; i < 256; ++i) {
                r[i] = static_cast<std::uint16_t>(i * 257);
                g[i] = static_cast<std::uint16_t>((255 - i) * 257);
                b[i] = static_cast<std::uint16_t>((i * 7 % 256) * 257);
            }
            TIFFSetField(tiff, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
        }
        if (!icc.empty())
            TIFFSetField(
                tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(icc.size()), icc.data());
        const std::size_t rowBytes
            = static_cast<std::size_t>(width) * layout.samples * layout.bits / 8;
        TBytes row(rowBytes);
        for (int y = 0; y < height; ++y) {
            for (std::size_t i = 0; i < rowBytes; ++i)
                row[i] = static_cast<std::uint8_t>(
                    (i * 37 + static_cast<std::size_t>(y) * 11) ^ (i / 5));
            if (layout.alpha && layout.bits == 8)
                for (int x = 0; x < width; ++x)
                    row[static_cast<std::size_t>(x) * layout.samples + layout.samples - 1]
                        = static_cast<std::uint8_t>(
                            x < width / 3 ? 0 : (x < 2 * width / 3 ? 90 : 255));
            ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0), 1);
        }
        TIFFClose(tiff);
    }

    // What tiff2rgba wrote: uncompressed 8-bit red, green, blue, alpha rows, read back as stored.
    TBytes RgbaRows(const std::filesystem::path& path)
    {
        TIFF* tiff = TIFFOpen(path.c_str(), "r");
        EXPECT_NE(tiff, nullptr);
        if (!tiff)
            return {};
        std::uint32_t width = 0, height = 0;
        std::uint16_t samples = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        EXPECT_EQ(samples, 4);
        TBytes rows(static_cast<std::size_t>(width) * height * 4);
        for (std::uint32_t y = 0; y < height; ++y)
            TIFFReadScanline(tiff, rows.data() + static_cast<std::size_t>(y) * width * 4, y, 0);
        TIFFClose(tiff);
        return rows;
    }

    TBytes PixelsOf(const TPicture& picture)
    {
        auto* graphic = dynamic_cast<TPixelGraphic*>(picture.Graphic());
        if (!graphic)
            return {};
        return TBytes(graphic->Pixels(),
            graphic->Pixels() + graphic->RowBytes() * static_cast<std::size_t>(graphic->Height()));
    }

    TEST(Tiff, EveryLayoutDecodesToLibtiffsRgbaPixels)
    {
        PARVULA_REQUIRE_TOOLS("tiff2rgba", "tiffcp");
        TTempDir dir;
        const TTiffLayout layouts[] = {
            { "rgb 8", 3, 8, PHOTOMETRIC_RGB, false, COMPRESSION_NONE },
            { "rgb 16, deflate", 3, 16, PHOTOMETRIC_RGB, false, COMPRESSION_ADOBE_DEFLATE },
            { "grey 8, lzw", 1, 8, PHOTOMETRIC_MINISBLACK, false, COMPRESSION_LZW },
            { "grey 16", 1, 16, PHOTOMETRIC_MINISBLACK, false, COMPRESSION_NONE },
            { "palette 8", 1, 8, PHOTOMETRIC_PALETTE, false, COMPRESSION_PACKBITS },
            { "rgba 8", 4, 8, PHOTOMETRIC_RGB, true, COMPRESSION_NONE },
            { "rgba 16", 4, 16, PHOTOMETRIC_RGB, true, COMPRESSION_ADOBE_DEFLATE },
            { "cmyk 8", 4, 8, PHOTOMETRIC_SEPARATED, false, COMPRESSION_NONE },
        };
        for (const TTiffLayout& layout : layouts) {
            SCOPED_TRACE(layout.name);
            WriteTiff(dir / "strips.tif", 45, 31, layout);
            // The same picture in tiles of 16 x 16, as tiffcp writes them.
            ASSERT_TRUE(RunTool("tiffcp -t -w 16 -l 16 " + Quoted(dir / "strips.tif") + " "
                + Quoted(dir / "tiles.tif")));
            for (const char* name : { "strips.tif", "tiles.tif" }) {
                SCOPED_TRACE(name);
                ASSERT_TRUE(RunTool(
                    "tiff2rgba -c none " + Quoted(dir / name) + " " + Quoted(dir / "rgba.tif")));
                const TBytes reference = RgbaRows(dir / "rgba.tif");
                const TPicture picture = Load(dir / name);
                EXPECT_EQ(picture.Kind(), TGraphicKind::Tiff);
                EXPECT_EQ(picture.Width(), 45);
                EXPECT_EQ(picture.Height(), 31);
                EXPECT_TRUE(PixelsOf(picture) == reference);
            }
        }
    }

    TEST(Tiff, AlphaIsDrawnOnWhiteAndOpaquePixelsAreCopied)
    {
        TTempDir dir;
        WriteTiff(dir / "a.tif", 30, 4, { "rgba", 4, 8, PHOTOMETRIC_RGB, true, COMPRESSION_NONE });
        TPicture picture = Load(dir / "a.tif");
        const TBytes pixels = PixelsOf(picture);
        const TBitmap drawn = ToBitmap(picture);
        for (int x : { 0, 15, 29 }) {
            const std::uint8_t* p = &pixels[(2 * 30 + static_cast<std::size_t>(x)) * 4];
            const TRgb c = drawn.PixelColor(x, 2);
            // Premultiplied: what shows is the colour plus white by the part not covered.
            const auto over
                = [&](int v) { return std::min(255, v + (255 * (255 - p[3]) + 127) / 255); };
            EXPECT_EQ(c.r, over(p[0])) << x;
            EXPECT_EQ(c.g, over(p[1])) << x;
            EXPECT_EQ(c.b, over(p[2])) << x;
        }
        EXPECT_EQ(drawn.PixelColor(0, 0), (TRgb { 255, 255, 255 }));
    }

    TEST(Tiff, TheOrientationTagAndTheProfileAreReported)
    {
        PARVULA_REQUIRE_TOOLS("tiffset");
        TTempDir dir;
        const TBytes profile = SrgbProfile();
        const TTiffLayout rgb { "rgb", 3, 8, PHOTOMETRIC_RGB, false, COMPRESSION_NONE };
        WriteTiff(dir / "plain.tif", 12, 5, rgb);
        WriteTiff(dir / "tagged.tif", 12, 5, rgb, profile);
        ASSERT_TRUE(RunTool("tiffset -s 274 6 " + Quoted(dir / "tagged.tif")));
        const TPicture plain = Load(dir / "plain.tif");
        const TPicture tagged = Load(dir / "tagged.tif");
        EXPECT_EQ(PictureOrientation(plain), 1);
        EXPECT_TRUE(plain.Graphic()->Colours().Empty());
        EXPECT_EQ(PictureOrientation(tagged), 6);
        EXPECT_EQ(tagged.Graphic()->Colours().icc, profile);
        // Rows as stored, whatever the tag: libtiff is not let turn them, "Upright" does.
        EXPECT_EQ(tagged.Width(), 12);
        EXPECT_TRUE(PixelsOf(tagged) == PixelsOf(plain));
    }

    // A grey TIFF of one strip built by hand, declaring any size over the bytes given.
    TBytes HandTiff(std::uint32_t width, std::uint32_t height, std::uint32_t stripBytes,
        std::size_t bytesPresent)
    {
        TBytes b = { 'I', 'I', 42, 0, 8, 0, 0, 0 };
        const std::uint16_t entries = 9;
        Put16(b, entries);
        const std::uint32_t dataAt = 8 + 2 + entries * 12 + 4;
        const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
            Put16(b, tag);
            Put16(b, type);
            Put32(b, 1);
            Put32(b, value);
        };
        entry(256, 4, width);
        entry(257, 4, height);
        entry(258, 3, 8);
        entry(259, 3, 1);
        entry(262, 3, 1);
        entry(273, 4, dataAt);
        entry(277, 3, 1);
        entry(278, 4, height);
        entry(279, 4, stripBytes);
        Put32(b, 0);
        b.resize(b.size() + bytesPresent, 0x80);
        return b;
    }

    TEST(Tiff, DamagedAndHostileFilesFailWithTheirCauseAndTheFilesName)
    {
        TTempDir dir;
        WriteTiff(
            dir / "good.tif", 64, 64, { "rgb", 3, 8, PHOTOMETRIC_RGB, false, COMPRESSION_NONE });
        const TBytes good = ReadBytes(dir / "good.tif");
        // libtiff writes the directory after the strips: cut in the strips, the directory is gone
        // too; cut after a hand-made directory, the strip is short.
        const struct {
            const char* name;
            TBytes bytes;
            TCode code;
        } cases[] = {
            { "cut_in_data.tif", TBytes(good.begin(), good.begin() + good.size() / 2),
                TCode::PhotoDamaged },
            { "strip_short.tif", HandTiff(100, 100, 10000, 3000), TCode::PhotoDamaged },
            { "no_data_for_11000x11000.tif", HandTiff(11000, 11000, 121000000, 200),
                TCode::PhotoDamaged },
            { "declares_60000x60000.tif", HandTiff(60000, 60000, 3600000000u, 200),
                TCode::PhotoPixelsTooMany },
            { "declares_70000x1.tif", HandTiff(70000, 1, 70000, 100), TCode::PhotoSideTooLarge },
            // libtiff refuses a directory without width itself.
            { "zero_width.tif", HandTiff(0, 10, 0, 0), TCode::PhotoDamaged },
            { "not_tiff.tif", TBytes(64, 'x'), TCode::PhotoNotFormat },
            { "header_only.tif", TBytes(good.begin(), good.begin() + 8), TCode::PhotoDamaged },
        };
        for (const auto& c : cases)
            ExpectLoadFails(dir, c.name, c.bytes, c.code, "TIFF: ");
        // The hand-made file itself is sound when its strip is all there.
        WriteBytes(dir / "hand.tif", HandTiff(100, 100, 10000, 10000));
        EXPECT_EQ(Load(dir / "hand.tif").Width(), 100);
    }

} // namespace
} // namespace parvula::imaging
