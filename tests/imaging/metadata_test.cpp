// WithMetadata beyond the run's JPEG and PNG sources: a TIFF source's own layout left behind, a
// HEIF source's EXIF, a WebP output, outputs that take no metadata, bytes that are no picture.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include <tiffio.h>
#include <webp/encode.h>

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include "imaging/metadata.h"
#include "imaging_support.h"

using namespace parvula::imaging;
using namespace parvula::imaging::test;

namespace {

TBytes Jpeg(int width, int height)
{
    TPicture picture;
    picture.Assign(NoiseBitmap(width, height, 7));
    return EncodeJpeg(picture, "x.jpg", 90)->bytes;
}

// A scanner's or an editor's TIFF of 30 × 20 with the tags of its own layout, a camera name and
// a GPS position.
TBytes TaggedTiff(const TTempDir& dir)
{
    const std::filesystem::path path = dir / "scan.tif";
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 30);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 20);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 20);
    std::vector<std::uint8_t> row(30 * 3, 90);
    for (std::uint32_t y = 0; y < 20; ++y)
        TIFFWriteScanline(tiff, row.data(), y, 0);
    TIFFClose(tiff);

    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path.string());
    image->readMetadata();
    image->exifData()["Exif.Image.Make"] = "Parvula Scanner";
    image->exifData()["Exif.GPSInfo.GPSLatitudeRef"] = "S";
    image->writeMetadata();
    return ReadBytes(path);
}

struct TRead {
    Exiv2::ExifData exif;
    int width = 0;
    bool Has(const char* key) const { return exif.findKey(Exiv2::ExifKey(key)) != exif.end(); }
    std::string Value(const char* key) const
    {
        const auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? std::string() : it->toString();
    }
};

TRead Read(const TBytes& bytes)
{
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytes.data(), long(bytes.size()));
    image->readMetadata();
    return { image->exifData(), image->pixelWidth() };
}

} // namespace

TEST(Metadata, ATiffSourcesOwnLayoutStaysBehindAndItsSizeBecomesTheOutputs)
{
    TTempDir dir;
    const TBytes tiff = TaggedTiff(dir);
    ASSERT_TRUE(Read(tiff).Has("Exif.Image.StripOffsets"));
    for (const TMetadataCopy copy : { TMetadataCopy::All, TMetadataCopy::NoLocation }) {
        SCOPED_TRACE(int(copy));
        const TRead out = Read(WithMetadata(tiff, Jpeg(15, 10), { copy }, "scan.tif"));
        EXPECT_EQ(out.width, 15);
        EXPECT_EQ(out.Value("Exif.Image.Make"), "Parvula Scanner");
        EXPECT_EQ(out.Value("Exif.Image.ImageWidth"), "15");
        EXPECT_EQ(out.Value("Exif.Image.ImageLength"), "10");
        for (const char* layout : { "Exif.Image.StripOffsets", "Exif.Image.StripByteCounts",
                 "Exif.Image.BitsPerSample", "Exif.Image.PhotometricInterpretation",
                 "Exif.Image.RowsPerStrip", "Exif.Image.SamplesPerPixel" })
            EXPECT_FALSE(out.Has(layout)) << layout;
        EXPECT_EQ(out.Has("Exif.GPSInfo.GPSLatitudeRef"), copy == TMetadataCopy::All);
    }
}

TEST(Metadata, AWebPOutputTakesItBmpGifAndOtherBytesAreLeftAlone)
{
    TTempDir dir;
    const TBytes tiff = TaggedTiff(dir);

    const std::vector<std::uint8_t> rgb(12 * 8 * 3, 200);
    std::uint8_t* encoded = nullptr;
    const std::size_t size = WebPEncodeRGB(rgb.data(), 12, 8, 12 * 3, 80, &encoded);
    ASSERT_GT(size, 0u);
    const TBytes webp(encoded, encoded + size);
    WebPFree(encoded);
    const TRead out = Read(WithMetadata(tiff, webp, { TMetadataCopy::NoLocation }, "scan.tif"));
    EXPECT_EQ(out.width, 12);
    EXPECT_EQ(out.Value("Exif.Image.Make"), "Parvula Scanner");
    EXPECT_FALSE(out.Has("Exif.GPSInfo.GPSLatitudeRef"));

    TPicture picture;
    picture.Assign(NoiseBitmap(9, 9, 3));
    const TBytes noPicture { 'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c' };
    for (const TBytes& plain : { EncodeBmp(picture, "x.bmp")->bytes,
             EncodeGif(picture, "x.gif")->bytes, noPicture, TBytes() }) {
        EXPECT_EQ(WithMetadata(tiff, plain, { TMetadataCopy::All }, "scan.tif"), plain);
        // Written back as the source's own bytes (an icon is): nothing to take out, no failure.
        EXPECT_EQ(WithMetadata(plain, plain, { TMetadataCopy::NoLocation }, "a.ico"), plain);
    }
}

TEST(Metadata, AHeifSourcesExifComesAlong)
{
    // heif-enc carries a JPEG's EXIF over into the HEIF file it writes (in a process of its own:
    // the HEVC encoder keeps memory until the process ends).
    if (std::system("command -v heif-enc >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "heif-enc (libheif-examples) is not installed";
    TTempDir dir;
    const TBytes plain = Jpeg(32, 24);
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(plain.data(), long(plain.size()));
    image->exifData()["Exif.Image.Make"] = "Parvula Phone";
    image->exifData()["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    io.open();
    TBytes tagged(io.size());
    io.read(tagged.data(), long(tagged.size()));
    io.close();
    WriteBytes(dir / "phone.jpg", tagged);
    const std::string command = "heif-enc -q 50 '" + (dir / "phone.jpg").string() + "' -o '"
        + (dir / "phone.heic").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const TBytes heic = ReadBytes(dir / "phone.heic");

    const TRead out
        = Read(WithMetadata(heic, Jpeg(8, 8), { TMetadataCopy::NoLocation }, "phone.heic"));
    EXPECT_EQ(out.Value("Exif.Image.Make"), "Parvula Phone");
    EXPECT_FALSE(out.Has("Exif.GPSInfo.GPSLatitudeRef"));
}

TEST(Metadata, AfterAConversionFromItsProfileTheCopySaysSrgb)
{
    // A camera's Adobe RGB: the colour space "uncalibrated", the index R03, and the profile.
    const std::filesystem::path adobe = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
    if (!std::filesystem::exists(adobe))
        GTEST_SKIP() << "no Adobe RGB profile (colord-data) installed";
    const auto photo = [&](bool withProfile) {
        const TBytes plain = Jpeg(20, 10);
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(plain.data(), long(plain.size()));
        image->exifData()["Exif.Image.Make"] = "Parvula Test Camera";
        image->exifData()["Exif.Photo.ColorSpace"] = std::uint16_t(65535);
        image->exifData()["Exif.Iop.InteroperabilityIndex"] = "R03";
        if (withProfile) {
            const TBytes icc = ReadBytes(adobe);
            Exiv2::DataBuf profile(icc.data(), long(icc.size()));
            image->setIccProfile(profile);
        }
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.open();
        TBytes bytes(io.size());
        io.read(bytes.data(), long(bytes.size()));
        io.close();
        return bytes;
    };
    const struct {
        bool profile;
        bool converted; // the run converted the numbers from the profile
        const char* colourSpace;
        const char* index;
    } cases[] = {
        { true, true, "1", "R98" },
        { true, false, "65535", "R03" },
        { false, false, "65535", "R03" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.profile) + std::to_string(c.converted));
        TMetadataOptions options;
        options.copy = TMetadataCopy::All;
        options.convertedToSrgb = c.converted;
        const TRead out = Read(WithMetadata(photo(c.profile), Jpeg(10, 5), options, "a.jpg"));
        EXPECT_EQ(out.Value("Exif.Image.Make"), "Parvula Test Camera");
        EXPECT_EQ(out.Value("Exif.Photo.ColorSpace"), c.colourSpace);
        EXPECT_EQ(out.Value("Exif.Iop.InteroperabilityIndex"), c.index);
    }
}
