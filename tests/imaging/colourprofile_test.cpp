// Colour profiles: which descriptions count as sRGB, thumbnails converted after fitting against
// lcms2's own conversion of the whole decoded picture, H.273 codes, damaged profiles, the
// profiles the JPEG and PNG readers find, and CMYK JPEGs decoded through their profile.
#include "imaging/colourprofile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <lcms2.h>
#include <tiffio.h>
#include <zlib.h>

#include "imaging/formats.h"
#include "imaging/imaging_support.h"
#include "imaging/picstretch1.h"

using namespace parvula::imaging;
using namespace parvula::imaging::test;

namespace {

const std::filesystem::path kColord = "/usr/share/color/icc/colord";
const std::filesystem::path kGhostscript = "/usr/share/color/icc/ghostscript";

// An installed profile's bytes, or none when the package that ships it is missing.
TBytes InstalledProfile(const std::filesystem::path& path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec) ? ReadBytes(path) : TBytes {};
}

#define SKIP_WITHOUT(bytes, path)                                                                  \
    if ((bytes).empty())                                                                           \
    GTEST_SKIP() << (path) << " is not installed (colord-data, ghostscript)"

TColourDescription Icc(const TBytes& bytes)
{
    TColourDescription colours;
    colours.icc = bytes;
    return colours;
}

TColourDescription Codes(int primaries, int transfer)
{
    TColourDescription colours;
    colours.primaries = primaries;
    colours.transfer = transfer;
    return colours;
}

// Smooth colour fields with grain. Without saturated they are muted enough to stay inside sRGB
// in every wide profile here (a mid green of Adobe RGB already lies beyond it); with it, they
// swing wide and hold hard-edged patches of vivid colours.
TBitmap PhotoLike(int width, int height, unsigned seed, bool saturated = false)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> grain(-6, 6);
    const double swing = saturated ? 100 : 20;
    TBitmap bitmap(width, height, 24);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            int r = static_cast<int>(128 + swing * std::sin(x / 23.0 + y / 37.0));
            int g = static_cast<int>(128 + swing * std::sin(x / 31.0 - y / 19.0 + 1));
            int b = static_cast<int>(128 + swing * std::cos((x + y) / 29.0));
            if (!saturated) {
            } else if (x > width / 4 && x < width / 2 && y > height / 4 && y < height / 2) {
                r = 230;
                g = 25;
                b = 20;
            } else if (x > width / 2 && x < 3 * width / 4 && y > height / 2) {
                r = 20;
                g = 220;
                b = 40;
            }
            p[0] = static_cast<std::uint8_t>(std::clamp(b + grain(random), 0, 255));
            p[1] = static_cast<std::uint8_t>(std::clamp(g + grain(random), 0, 255));
            p[2] = static_cast<std::uint8_t>(std::clamp(r + grain(random), 0, 255));
        }
    }
    return bitmap;
}

// lcms2's own conversion of a whole bitmap to sRGB (relative colorimetric), made here without
// the code under test.
TBitmap LcmsConverted(const TBitmap& source, const TBytes& icc)
{
    TBitmap out = source;
    cmsHPROFILE from = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform
        = cmsCreateTransform(from, TYPE_BGR_8, srgb, TYPE_BGR_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    EXPECT_NE(transform, nullptr);
    if (transform) {
        for (int y = 0; y < source.Height(); ++y)
            cmsDoTransform(transform, source.ScanLine(y), out.ScanLine(y),
                static_cast<cmsUInt32Number>(source.Width()));
        cmsDeleteTransform(transform);
    }
    cmsCloseProfile(srgb);
    cmsCloseProfile(from);
    return out;
}

struct TDifference {
    double mean = 0;
    int most = 0;
};

TDifference Difference(const TBitmap& a, const TBitmap& b)
{
    EXPECT_EQ(a.Width(), b.Width());
    EXPECT_EQ(a.Height(), b.Height());
    TDifference d;
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int i = 0; i < a.Width() * 3; ++i) {
            const int diff = std::abs(int(a.ScanLine(y)[i]) - int(b.ScanLine(y)[i]));
            sum += diff;
            d.most = std::max(d.most, diff);
        }
    d.mean = sum / (3.0 * a.Width() * a.Height());
    return d;
}

bool SamePixels(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<std::size_t>(a.Width()) * 3))
            return false;
    return true;
}

TBitmap Fitted(TBitmap bitmap, int width, TFilter filter)
{
    TPicture picture;
    picture.Assign(std::move(bitmap));
    TFitOptions fit;
    fit.maxWidth = width;
    fit.filter = filter;
    FitToBox(picture, fit);
    return *picture.Bitmap();
}

// APP2 "ICC_PROFILE" segments of chunkBytes each, numbered 1..n, inserted after SOI in the
// order given by order (indices into the chunks; empty: in sequence).
TBytes WithIccSegments(const TBytes& jpeg, const TBytes& icc, std::size_t chunkBytes,
    std::vector<int> order = {}, int countOverride = 0)
{
    std::vector<TBytes> chunks;
    for (std::size_t at = 0; at < icc.size(); at += chunkBytes)
        chunks.emplace_back(icc.begin() + static_cast<std::ptrdiff_t>(at),
            icc.begin() + static_cast<std::ptrdiff_t>(std::min(icc.size(), at + chunkBytes)));
    if (order.empty())
        for (std::size_t k = 0; k < chunks.size(); ++k)
            order.push_back(static_cast<int>(k));
    TBytes segments;
    for (const int k : order) {
        const TBytes& chunk = chunks[static_cast<std::size_t>(k)];
        const std::size_t length = 2 + 14 + chunk.size();
        segments.insert(
            segments.end(), { 0xFF, 0xE2, std::uint8_t(length >> 8), std::uint8_t(length & 0xFF) });
        const char* signature = "ICC_PROFILE";
        segments.insert(segments.end(), signature, signature + 12);
        segments.push_back(std::uint8_t(k + 1));
        segments.push_back(std::uint8_t(countOverride ? countOverride : chunks.size()));
        segments.insert(segments.end(), chunk.begin(), chunk.end());
    }
    TBytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segments.begin(), segments.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

TBytes JpegOf(const TBitmap& bitmap, int quality = 95)
{
    TPicture picture;
    picture.Assign(bitmap);
    return EncodeJpeg(picture, "x.jpg", quality)->bytes;
}

TBytes PngOf(const TBitmap& bitmap)
{
    TPicture picture;
    picture.Assign(bitmap);
    return EncodePng(picture, "x.png")->bytes;
}

TBytes Chunk(const std::string& type, const TBytes& data)
{
    TBytes out;
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(std::uint8_t(data.size() >> s));
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), out.data() + 4, uInt(4 + data.size()));
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(std::uint8_t(crc >> s));
    return out;
}

// The PNG with a chunk inserted right after IHDR.
TBytes WithChunkAfterHeader(const TBytes& png, const TBytes& chunk)
{
    TBytes out(png.begin(), png.begin() + 33);
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + 33, png.end());
    return out;
}

TBytes IccpChunk(const TBytes& icc)
{
    uLongf size = compressBound(uLong(icc.size()));
    TBytes compressed(size);
    EXPECT_EQ(compress2(compressed.data(), &size, icc.data(), uLong(icc.size()), 9), Z_OK);
    compressed.resize(size);
    TBytes data { 'p', 'h', 'o', 't', 'o', 0, 0 };
    data.insert(data.end(), compressed.begin(), compressed.end());
    return Chunk("iCCP", data);
}

} // namespace

TEST(ColourProfile, SrgbDescriptionsAreLeftAloneAndOthersAreNot)
{
    const TBytes colordSrgb = InstalledProfile(kColord / "sRGB.icc");
    const TBytes ghostscriptSrgb = InstalledProfile(kGhostscript / "srgb.icc");
    const TBytes adobe = InstalledProfile(kColord / "AdobeRGB1998.icc");
    SKIP_WITHOUT(colordSrgb, kColord);
    SKIP_WITHOUT(ghostscriptSrgb, kGhostscript);
    // lcms2's own sRGB as a file would carry it (a v4 profile with parametric curves).
    cmsHPROFILE builtIn = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(builtIn, nullptr, &size);
    TBytes lcmsSrgb(size);
    cmsSaveProfileToMem(builtIn, lcmsSrgb.data(), &size);
    cmsCloseProfile(builtIn);

    const struct {
        const char* name;
        TColourDescription colours;
        bool srgb;
    } cases[] = {
        { "nothing said", {}, true },
        { "BT.709 primaries, sRGB transfer", Codes(1, 13), true },
        { "unspecified primaries, sRGB transfer", Codes(2, 13), true },
        { "colord sRGB.icc", Icc(colordSrgb), true },
        { "ghostscript srgb.icc", Icc(ghostscriptSrgb), true },
        { "lcms2's sRGB", Icc(lcmsSrgb), true },
        { "Adobe RGB", Icc(adobe), false },
        { "Display P3", Codes(12, 13), false },
        { "BT.2020 linear", Codes(9, 8), false },
        { "BT.709 camera curve", Codes(1, 1), false },
    };
    const TBitmap photo = PhotoLike(64, 48, 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsSrgb(c.colours), c.srgb);
        TBitmap bitmap = photo;
        EXPECT_EQ(ConvertToSrgb(bitmap, c.colours), !c.srgb);
        EXPECT_EQ(SamePixels(bitmap, photo), c.srgb);
    }
}

TEST(ColourProfile, ProfilesOfCorpusPhotosAreTakenForWhatTheySay)
{
    const std::filesystem::path corpora = CorporaDir();
    if (corpora.empty())
        GTEST_SKIP() << "the shared corpus is absent";
    // The sRGB profile most cameras and editors embed (HP's of 1998, v2, 1024-entry curves) is
    // sRGB; Apple's Generic RGB (gamma 1.8) is not.
    const struct {
        const char* file;
        bool srgb;
    } cases[] = {
        { "valid/jpeg/pillow/pil_sample_rgb.jpg", true },
        { "valid/jpeg/image-rs/portrait_2.jpg", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TPicture picture = Load(corpora / c.file);
        const TColourDescription colours = PictureColours(picture);
        ASSERT_FALSE(colours.icc.empty());
        EXPECT_EQ(IsSrgb(colours), c.srgb);
    }
}

TEST(ColourProfile, ThumbnailConvertedAfterFittingStaysWithinBoundsOfConvertingFirst)
{
    const TBitmap photo = PhotoLike(600, 400, 7);
    const TBitmap saturated = PhotoLike(600, 400, 8, true);
    for (const char* name : { "AdobeRGB1998.icc", "ProPhotoRGB.icc", "SwappedRedAndGreen.icc" }) {
        const TBytes icc = InstalledProfile(kColord / name);
        SKIP_WITHOUT(icc, kColord / name);
        for (const TFilter filter : { TFilter::Triangle, TFilter::Lanczos3, TFilter::Mitchell }) {
            SCOPED_TRACE(std::string(name) + " filter " + std::to_string(int(filter)));
            const TBitmap reference = Fitted(LcmsConverted(photo, icc), 150, filter);
            TBitmap thumbnail = Fitted(photo, 150, filter);
            const TBitmap unconverted = thumbnail;
            ASSERT_TRUE(ConvertToSrgb(thumbnail, Icc(icc)));
            const TDifference d = Difference(thumbnail, reference);
            EXPECT_LE(d.mean, 1.5);
            EXPECT_LE(d.most, 10);
            // The conversion did something one cannot miss.
            EXPECT_GT(Difference(unconverted, reference).mean, 3.0);

            // Colours beyond sRGB are clipped: clipped before fitting, as every pixel is when
            // the whole picture is converted first, they mix otherwise at the patches' edges
            // than clipped after it. On average the two orders still agree.
            TBitmap vivid = Fitted(saturated, 150, filter);
            ASSERT_TRUE(ConvertToSrgb(vivid, Icc(icc)));
            EXPECT_LE(
                Difference(vivid, Fitted(LcmsConverted(saturated, icc), 150, filter)).mean, 1.5);
        }
    }
}

TEST(ColourProfile, BenchPhotosTaggedWithWideProfilesStayNearConvertingFirst)
{
    const std::filesystem::path photos = "/tmp/parvula-photos/jpg";
    std::error_code ec;
    if (!std::filesystem::is_directory(photos, ec))
        GTEST_SKIP() << photos << " is absent (bench/make_photo_corpus.sh makes it)";
    const TBytes adobe = InstalledProfile(kColord / "AdobeRGB1998.icc");
    const TBytes swapped = InstalledProfile(kColord / "SwappedRedAndGreen.icc");
    SKIP_WITHOUT(adobe, kColord);
    SKIP_WITHOUT(swapped, kColord);
    int tried = 0;
    for (const char* name : { "01_bridge.jpg", "02_dragonfly.jpg" }) {
        if (!std::filesystem::is_regular_file(photos / name, ec))
            continue;
        ++tried;
        TPicture picture = Load(photos / name);
        const TBitmap decoded = ToBitmap(picture);
        const TBitmap thumbnail = Fitted(decoded, 200, TFilter::Lanczos3);
        // Swapping two primaries is a plain permutation: no colour leaves the gamut, and the
        // orders agree to rounding. Adobe RGB's greens reach beyond sRGB, and the photos'
        // fine texture meets a curve slightly other than sRGB's: the mean stays small.
        const struct {
            const char* profile;
            const TBytes& icc;
            int most;
        } cases[] = { { "SwappedRedAndGreen", swapped, 10 }, { "AdobeRGB1998", adobe, 255 } };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(name) + " " + c.profile);
            TBitmap converted = thumbnail;
            ASSERT_TRUE(ConvertToSrgb(converted, Icc(c.icc)));
            const TDifference d = Difference(
                converted, Fitted(LcmsConverted(decoded, c.icc), 200, TFilter::Lanczos3));
            EXPECT_LE(d.mean, 1.5);
            EXPECT_LE(d.most, c.most);
        }
    }
    if (tried == 0)
        GTEST_SKIP() << "the bench photos 01 and 02 are absent";
}

TEST(ColourProfile, SwappedRedAndGreenSwapsThem)
{
    const TBytes icc = InstalledProfile(kColord / "SwappedRedAndGreen.icc");
    SKIP_WITHOUT(icc, kColord);
    TBitmap bitmap = SolidBitmap(4, 2, TRgb { 30, 200, 90 });
    ASSERT_TRUE(ConvertToSrgb(bitmap, Icc(icc)));
    const TRgb c = bitmap.PixelColor(3, 1);
    EXPECT_NEAR(c.r, 200, 2);
    EXPECT_NEAR(c.g, 90, 2);
    EXPECT_NEAR(c.b, 30, 2);
}

TEST(ColourProfile, H273CodesConvertByTheirPrimariesAndCurves)
{
    // Colours whose sRGB values are known: sRGB red in Display P3 and in linear BT.2020, a grey
    // coded with the BT.709 camera curve, white under every code.
    const struct {
        const char* name;
        TColourDescription colours;
        TRgb in;
        TRgb expected;
        int tolerance;
    } cases[] = {
        { "Display P3, sRGB curve", Codes(12, 13), { 35, 51, 234 }, { 0, 0, 255 }, 3 },
        { "Display P3, unspecified curve", Codes(12, 2), { 35, 51, 234 }, { 0, 0, 255 }, 3 },
        // Eight-bit linear values are coarse near black, where the sRGB curve is steepest.
        { "BT.2020, linear", Codes(9, 8), { 4, 18, 160 }, { 0, 0, 255 }, 8 },
        { "BT.2020, linear grey", Codes(9, 8), { 55, 55, 55 }, { 128, 128, 128 }, 1 },
        { "BT.709 camera curve", Codes(1, 1), { 128, 128, 128 }, { 140, 140, 140 }, 1 },
        { "BT.2020 10-bit curve code", Codes(9, 14), { 255, 255, 255 }, { 255, 255, 255 }, 1 },
        { "gamma 2.2", Codes(1, 4), { 255, 255, 255 }, { 255, 255, 255 }, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap bitmap = SolidBitmap(3, 3, c.in);
        ASSERT_TRUE(ConvertToSrgb(bitmap, c.colours));
        const TRgb out = bitmap.PixelColor(1, 1);
        EXPECT_NEAR(out.r, c.expected.r, c.tolerance);
        EXPECT_NEAR(out.g, c.expected.g, c.tolerance);
        EXPECT_NEAR(out.b, c.expected.b, c.tolerance);
    }
}

TEST(ColourProfile, UnusableDescriptionsLeaveThePictureAsStored)
{
    const TBytes adobe = InstalledProfile(kColord / "AdobeRGB1998.icc");
    const TBytes cmyk = InstalledProfile(kGhostscript / "ps_cmyk.icc");
    SKIP_WITHOUT(adobe, kColord);
    SKIP_WITHOUT(cmyk, kGhostscript);
    TBytes cut(adobe.begin(), adobe.begin() + 300);
    TBytes tagsGarbled = adobe;
    for (std::size_t i = 132; i < 400 && i < tagsGarbled.size(); ++i)
        tagsGarbled[i] = std::uint8_t(i * 37);
    const TBytes headerOnly(adobe.begin(), adobe.begin() + 128);
    // A colour space no profile has (found by fuzzing: lcms2 hands such a header's number over
    // as a value of its enumeration).
    TBytes spaceUnknown = adobe;
    spaceUnknown[16] = spaceUnknown[17] = spaceUnknown[18] = 0xFF;
    spaceUnknown[19] = 0xEE;
    std::mt19937 random(5);
    TBytes noise(3000);
    for (auto& b : noise)
        b = std::uint8_t(random());
    const struct {
        const char* name;
        TColourDescription colours;
    } cases[] = {
        { "cut short", Icc(cut) },
        { "tag table garbled", Icc(tagsGarbled) },
        { "the header alone", Icc(headerOnly) },
        { "a colour space beyond the list", Icc(spaceUnknown) },
        { "noise", Icc(noise) },
        { "a CMYK profile on RGB pixels", Icc(cmyk) },
        { "PQ transfer", Codes(9, 16) },
        { "unknown primaries", Codes(99, 13) },
    };
    const TBitmap photo = PhotoLike(32, 24, 2);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap bitmap = photo;
        EXPECT_FALSE(ConvertToSrgb(bitmap, c.colours));
        EXPECT_TRUE(SamePixels(bitmap, photo));
        EXPECT_FALSE(IsSrgb(c.colours));
    }
}

namespace {

TBytes GreyProfile(cmsToneCurve* curve)
{
    cmsHPROFILE grey = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(grey, nullptr, &size);
    TBytes icc(size);
    cmsSaveProfileToMem(grey, icc.data(), &size);
    cmsCloseProfile(grey);
    cmsFreeToneCurve(curve);
    return icc;
}

} // namespace

TEST(ColourProfile, GreyProfileKeepsGreysGrey)
{
    // A grey of the sRGB curve needs nothing; a grey of gamma 1.0 lifts every dark grey.
    const cmsFloat64Number srgb[5] = { 2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045 };
    EXPECT_TRUE(IsSrgb(Icc(GreyProfile(cmsBuildParametricToneCurve(nullptr, 4, srgb)))));
    const TBytes icc = GreyProfile(cmsBuildGamma(nullptr, 1.0));
    EXPECT_FALSE(IsSrgb(Icc(icc)));
    TBitmap bitmap = SolidBitmap(2, 2, TRgb { 50, 50, 50 });
    ASSERT_TRUE(ConvertToSrgb(bitmap, Icc(icc)));
    const TRgb c = bitmap.PixelColor(0, 0);
    // Linear 50/255 is sRGB 124.
    EXPECT_NEAR(c.g, 124, 2);
    EXPECT_EQ(c.r, c.g);
    EXPECT_EQ(c.b, c.g);
}

TEST(JpegColours, ProfileChunksAreReassembledInSequenceAndDamagedSetsIgnored)
{
    const TBytes icc = InstalledProfile(kColord / "ProPhotoRGB.icc");
    SKIP_WITHOUT(icc, kColord);
    const TBytes jpeg = JpegOf(PhotoLike(40, 30, 3));
    const std::size_t chunk = 6000; // 19688 bytes: four chunks
    const struct {
        const char* name;
        TBytes file;
        bool found;
    } cases[] = {
        { "one segment", WithIccSegments(jpeg, icc, 65519), true },
        { "four in sequence", WithIccSegments(jpeg, icc, chunk), true },
        { "four out of order", WithIccSegments(jpeg, icc, chunk, { 2, 0, 3, 1 }), true },
        { "one missing", WithIccSegments(jpeg, icc, chunk, { 0, 1, 3 }), false },
        { "one twice", WithIccSegments(jpeg, icc, chunk, { 0, 1, 1, 2, 3 }), false },
        { "count beyond the chunks", WithIccSegments(jpeg, icc, chunk, {}, 5), false },
        { "number beyond the count", WithIccSegments(jpeg, icc, chunk, {}, 3), false },
        { "none", jpeg, false },
    };
    TTempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPicture picture = LoadBytes(dir, "p.jpg", c.file);
        const TColourDescription colours = PictureColours(picture);
        if (c.found)
            EXPECT_EQ(colours.icc, icc);
        else
            EXPECT_TRUE(colours.Empty());
    }
}

TEST(PngColours, IccpSrgbAndCicpChunksAreRead)
{
    const TBytes icc = InstalledProfile(kColord / "AdobeRGB1998.icc");
    SKIP_WITHOUT(icc, kColord);
    const TBitmap photo = PhotoLike(40, 30, 4);
    const TBytes png = PngOf(photo);
    TBytes badIccp = IccpChunk(icc);
    // The compressed stream damaged, with a CRC that still matches.
    for (std::size_t i = 20; i < 60; ++i)
        badIccp[i] ^= 0x5A;
    const TBytes badData(badIccp.begin() + 8, badIccp.end() - 4);
    TTempDir dir;
    {
        TPicture picture = LoadBytes(dir, "a.png", WithChunkAfterHeader(png, IccpChunk(icc)));
        EXPECT_EQ(PictureColours(picture).icc, icc);
    }
    {
        TPicture picture = LoadBytes(dir, "b.png", WithChunkAfterHeader(png, Chunk("sRGB", { 0 })));
        const TColourDescription colours = PictureColours(picture);
        EXPECT_TRUE(colours.icc.empty());
        EXPECT_TRUE(IsSrgb(colours));
        EXPECT_FALSE(colours.Empty());
    }
    {
        TPicture picture
            = LoadBytes(dir, "c.png", WithChunkAfterHeader(png, Chunk("cICP", { 12, 13, 0, 1 })));
        const TColourDescription colours = PictureColours(picture);
        EXPECT_EQ(colours.primaries, 12);
        EXPECT_EQ(colours.transfer, 13);
    }
    {
        TPicture picture
            = LoadBytes(dir, "d.png", WithChunkAfterHeader(png, Chunk("iCCP", badData)));
        EXPECT_TRUE(PictureColours(picture).Empty());
        EXPECT_TRUE(SamePixels(ToBitmap(picture), photo));
    }
}

namespace {

// A CMYK JPEG as libjpeg writes one (with an Adobe marker, so its samples are stored inverted:
// 255 is no ink), with the profile embedded by libjpeg's own writer when there is one.
TBytes CmykJpeg(int width, int height, const TBytes& inverted, const TBytes& icc)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    if (!icc.empty())
        jpeg_write_icc_profile(&cinfo, icc.data(), static_cast<unsigned int>(icc.size()));
    for (int y = 0; y < height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(inverted.data() + std::size_t(y) * width * 4);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    TBytes bytes(out, out + size);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return bytes;
}

} // namespace

TEST(JpegColours, CmykPhotoIsDecodedThroughItsProfile)
{
    const TBytes icc = InstalledProfile(kGhostscript / "default_cmyk.icc");
    SKIP_WITHOUT(icc, kGhostscript);
    // Flat patches of ink, 16 x 16 pixels each, so the encoder's loss stays far inside them.
    const std::vector<std::array<std::uint8_t, 4>> inks
        = { { 0, 0, 0, 0 }, { 255, 0, 0, 0 }, { 0, 255, 0, 0 }, { 0, 0, 255, 0 }, { 0, 0, 0, 255 },
              { 100, 60, 20, 40 }, { 20, 180, 200, 10 }, { 128, 128, 128, 128 } };
    const int patch = 16;
    const int width = patch * static_cast<int>(inks.size());
    TBytes samples;
    for (int y = 0; y < patch; ++y)
        for (const auto& ink : inks)
            for (int x = 0; x < patch; ++x)
                for (const std::uint8_t v : ink)
                    samples.push_back(std::uint8_t(255 - v));
    TTempDir dir;
    TPicture tagged = LoadBytes(dir, "tagged.jpg", CmykJpeg(width, patch, samples, icc));
    TPicture plain = LoadBytes(dir, "plain.jpg", CmykJpeg(width, patch, samples, {}));
    // The profile is applied while decoding; the rows then say nothing more.
    EXPECT_TRUE(PictureColours(tagged).Empty());
    const TBitmap decoded = ToBitmap(tagged);

    cmsHPROFILE from = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(from, TYPE_CMYK_8, srgb, TYPE_RGB_8,
        INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION);
    ASSERT_NE(transform, nullptr);
    const TBitmap plainDecoded = ToBitmap(plain);
    int differsFromPlain = 0;
    for (std::size_t k = 0; k < inks.size(); ++k) {
        SCOPED_TRACE("patch " + std::to_string(k));
        std::uint8_t rgb[3];
        cmsDoTransform(transform, inks[k].data(), rgb, 1);
        const int x = int(k) * patch + patch / 2;
        const TRgb c = decoded.PixelColor(x, patch / 2);
        EXPECT_NEAR(c.r, rgb[0], 3);
        EXPECT_NEAR(c.g, rgb[1], 3);
        EXPECT_NEAR(c.b, rgb[2], 3);
        const TRgb p = plainDecoded.PixelColor(x, patch / 2);
        differsFromPlain += std::abs(p.r - c.r) + std::abs(p.g - c.g) + std::abs(p.b - c.b) > 12;
    }
    cmsDeleteTransform(transform);
    cmsCloseProfile(srgb);
    cmsCloseProfile(from);
    EXPECT_GE(differsFromPlain, 4);

    // Streamed rows give the same pixels as the whole decode.
    TPicture streamed = LoadBytes(dir, "tagged2.jpg", CmykJpeg(width, patch, samples, icc));
    TFitOptions fit;
    fit.maxWidth = width * 2;
    fit.filter = TFilter::Box;
    TPicture whole = LoadBytes(dir, "tagged3.jpg", CmykJpeg(width, patch, samples, icc));
    TBitmap wholeDecoded = ToBitmap(whole);
    FitToBox(streamed, fit);
    TBitmap wholeFitted(streamed.Bitmap()->Width(), streamed.Bitmap()->Height(), 24);
    Resample(
        wholeDecoded, wholeFitted, KernelOf(TFilter::Box).filter, KernelOf(TFilter::Box).support);
    EXPECT_TRUE(SamePixels(*streamed.Bitmap(), wholeFitted));

    // Colours as stored: the plain rule, streamed or whole, as if the file had no profile.
    for (const bool stream : { true, false }) {
        SCOPED_TRACE(stream ? "streamed" : "whole");
        TPicture asStored = LoadBytes(
            dir, stream ? "stored1.jpg" : "stored2.jpg", CmykJpeg(width, patch, samples, icc));
        asStored.KeepStoredColours();
        EXPECT_TRUE(PictureColours(asStored).Empty());
        if (stream) {
            TPicture plainStreamed
                = LoadBytes(dir, "plain2.jpg", CmykJpeg(width, patch, samples, {}));
            FitToBox(asStored, fit);
            FitToBox(plainStreamed, fit);
            EXPECT_TRUE(SamePixels(*asStored.Bitmap(), *plainStreamed.Bitmap()));
        } else {
            EXPECT_TRUE(SamePixels(ToBitmap(asStored), plainDecoded));
        }
    }
}

namespace {

bool HasTool(const char* tool)
{
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// A TIFF of 8-bit RGB strips with the profile in its ICC tag, written by libtiff.
bool WriteTiff(const std::filesystem::path& path, const TBitmap& bitmap, const TBytes& icc)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, bitmap.Width());
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, bitmap.Height());
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(icc.size()), icc.data());
    std::vector<std::uint8_t> row(static_cast<std::size_t>(bitmap.Width()) * 3);
    bool ok = true;
    for (int y = 0; y < bitmap.Height() && ok; ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            const TRgb c = bitmap.PixelColor(x, y);
            row[3 * std::size_t(x)] = c.r;
            row[3 * std::size_t(x) + 1] = c.g;
            row[3 * std::size_t(x) + 2] = c.b;
        }
        ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}

} // namespace

// The other readers hand over the profile their file carries (WebP's ICCP chunk, TIFF's tag, an
// ICC colour box of HEIF and AVIF), and their photos come out like JPEG's. A format this build
// does not read is skipped.
TEST(PhotoFormatColours, ProfilesOfWebpTiffHeifAndAvifAreFoundAndConverted)
{
    const TBytes icc = InstalledProfile(kColord / "ProPhotoRGB.icc");
    SKIP_WITHOUT(icc, kColord);
    TTempDir dir;
    const TBitmap photo = PhotoLike(160, 120, 9);
    WriteBytes(dir / "tagged.png", WithChunkAfterHeader(PngOf(photo), IccpChunk(icc)));
    const std::string png = (dir / "tagged.png").string();
    const struct {
        const char* extension;
        const char* tool; // nullptr: written by libtiff here
        std::string command;
    } cases[] = {
        { "webp", "cwebp", "cwebp -quiet -q 95 -metadata icc '" + png + "' -o '" },
        { "tif", nullptr, {} },
        { "heic", "heif-enc", "heif-enc -q 95 '" + png + "' -o '" },
        { "avif", "avifenc", "avifenc --min 4 --max 8 '" + png + "' '" },
    };
    int tried = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension);
        if (!FormatByExtension(c.extension) || (c.tool && !HasTool(c.tool)))
            continue;
        const std::filesystem::path file = dir / (std::string("photo.") + c.extension);
        if (c.tool)
            ASSERT_EQ(std::system((c.command + file.string() + "' >/dev/null 2>&1").c_str()), 0);
        else
            ASSERT_TRUE(WriteTiff(file, photo, icc));
        ++tried;
        TPicture picture = Load(file);
        const TColourDescription colours = PictureColours(picture);
        EXPECT_EQ(colours.icc, icc);
        const TBitmap decoded = ToBitmap(picture);
        TBitmap thumbnail = Fitted(decoded, 60, TFilter::Lanczos3);
        ASSERT_TRUE(ConvertToSrgb(thumbnail, colours));
        const TDifference d
            = Difference(thumbnail, Fitted(LcmsConverted(decoded, icc), 60, TFilter::Lanczos3));
        EXPECT_LE(d.mean, 1.5);
        EXPECT_LE(d.most, 10);
    }
    if (tried == 0)
        GTEST_SKIP() << "this build reads none of WebP, TIFF, HEIF and AVIF";
}

// A phone's photo says Display P3 by its H.273 codes rather than by a profile: sRGB's red, as P3
// stores it, comes out as sRGB's red again. (Debian 12's heif-enc writes no nclx box for HEVC,
// so AVIF carries the codes here.) Skipped when this build does not read AVIF.
TEST(PhotoFormatColours, DisplayP3CodesOfAvifAreConverted)
{
    TTempDir dir;
    TBitmap patches(64, 32, 24);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) {
            const TRgb c = x < 32 ? TRgb { 35, 51, 234 } : TRgb { 128, 128, 128 };
            std::uint8_t* p = patches.ScanLine(y) + 3 * x;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    WriteBytes(dir / "p3.png", PngOf(patches));
    const std::string png = (dir / "p3.png").string();
    if (!FormatByExtension("avif") || !HasTool("avifenc"))
        GTEST_SKIP() << "this build does not read AVIF, or avifenc is missing";
    const std::filesystem::path file = dir / "photo.avif";
    ASSERT_EQ(std::system(("avifenc --min 0 --max 4 --cicp 12/13/6 '" + png + "' '" + file.string()
                  + "' >/dev/null 2>&1")
                              .c_str()),
        0);
    TPicture picture = Load(file);
    const TColourDescription colours = PictureColours(picture);
    EXPECT_EQ(colours.primaries, 12);
    EXPECT_EQ(colours.transfer, 13);
    TBitmap bitmap = ToBitmap(picture);
    ASSERT_TRUE(ConvertToSrgb(bitmap, colours));
    const TRgb red = bitmap.PixelColor(16, 16);
    EXPECT_GE(red.r, 248);
    EXPECT_LE(red.g, 10);
    EXPECT_LE(red.b, 10);
    const TRgb grey = bitmap.PixelColor(48, 16);
    EXPECT_NEAR(grey.r, 128, 3);
    EXPECT_NEAR(grey.g, 128, 3);
    EXPECT_NEAR(grey.b, 128, 3);
}
