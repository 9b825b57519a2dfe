// Streamed PNG rows against the whole picture: the rows a PNG hands to the resampler, its drawing
// and FitToBox on it give what libpng's own expansion of the whole image, composed over white,
// gives (and Resample on that), for every colour type, bit depth and kind of transparency, on
// generated files, the shared corpus and the benchmark's PNG photos; damaged image data fails
// with the texts of a whole decode and leaves the picture as it was.
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <png.h>

#include <gtest/gtest.h>

#include "imaging/picstretch1.h"
#include "imaging_support.h"

namespace parvula::imaging {
namespace {

    using test::PixelBytes;
    using test::TBytes;
    using test::TLevelGuard;

    // libpng expanding everything to 8-bit blue, green, red, alpha by its own transformations
    // (palette and low depths expanded, the colour key turned into alpha, 16 bits cut to their
    // high byte, interlacing undone): the reference our drawing rules must meet.
    struct TReference {
        png_structp png = nullptr;
        png_infop info = nullptr;
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
        std::size_t pos = 0;
        png_uint_32 width = 0;
        png_uint_32 height = 0;
        png_bytepp rows = nullptr;
    };

    void ReferenceRead(png_structp png, png_bytep out, png_size_t count)
    {
        auto* r = static_cast<TReference*>(png_get_io_ptr(png));
        if (r->size - r->pos < count)
            png_error(png, "short");
        std::memcpy(out, r->data + r->pos, count);
        r->pos += count;
    }

    void ReferenceError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
    void ReferenceWarning(png_structp, png_const_charp) { }

    int ReferenceHeader(TReference* r)
    {
        if (setjmp(png_jmpbuf(r->png)))
            return 1;
        png_set_read_fn(r->png, r, ReferenceRead);
        png_read_info(r->png, r->info);
        png_set_expand(r->png);
        png_set_strip_16(r->png);
        png_set_gray_to_rgb(r->png);
        png_set_add_alpha(r->png, 0xFF, PNG_FILLER_AFTER);
        png_set_bgr(r->png);
        png_set_interlace_handling(r->png);
        png_read_update_info(r->png, r->info);
        r->width = png_get_image_width(r->png, r->info);
        r->height = png_get_image_height(r->png, r->info);
        return 0;
    }

    int ReferenceRows(TReference* r)
    {
        if (setjmp(png_jmpbuf(r->png)))
            return 1;
        png_read_image(r->png, r->rows);
        png_read_end(r->png, nullptr);
        return 0;
    }

    // The whole image composed over white, or false when libpng refuses the file.
    bool LibpngOnWhite(const TBytes& file, TBitmap& out)
    {
        TReference r;
        r.data = file.data();
        r.size = file.size();
        r.png = png_create_read_struct(
            PNG_LIBPNG_VER_STRING, nullptr, ReferenceError, ReferenceWarning);
        r.info = png_create_info_struct(r.png);
        bool ok = ReferenceHeader(&r) == 0;
        std::vector<std::uint8_t> pixels;
        std::vector<png_bytep> rows;
        if (ok) {
            pixels.resize(static_cast<std::size_t>(r.width) * 4 * r.height);
            for (png_uint_32 y = 0; y < r.height; ++y)
                rows.push_back(pixels.data() + static_cast<std::size_t>(r.width) * 4 * y);
            r.rows = rows.data();
            ok = ReferenceRows(&r) == 0;
        }
        png_destroy_read_struct(&r.png, &r.info, nullptr);
        if (!ok)
            return false;
        out = TBitmap(static_cast<int>(r.width), static_cast<int>(r.height), 24);
        for (png_uint_32 y = 0; y < r.height; ++y) {
            std::uint8_t* dst = out.ScanLine(static_cast<int>(y));
            const std::uint8_t* src = rows[y];
            for (png_uint_32 x = 0; x < r.width; ++x, src += 4, dst += 3) {
                // Over white: alpha 0 leaves white, 255 copies, between is rounded to nearest.
                for (int c = 0; c < 3; ++c)
                    dst[c] = static_cast<std::uint8_t>(
                        (src[c] * src[3] + 255 * (255 - src[3]) + 127) / 255);
            }
        }
        return true;
    }

    // Everything that comes out of a PNG picture compared with the reference: its rows when they
    // stream, its drawing on white, and FitToBox shrinking (Lanczos3) and by nearest neighbour,
    // against the plain loops on the reference bitmap.
    void ExpectMatchesReference(const TBytes& file, const std::string& what)
    {
        TBitmap reference;
        if (!LibpngOnWhite(file, reference))
            return;
        const test::TTempDir dir;
        TPicture picture;
        try {
            picture = test::LoadBytes(dir, "p.png", file);
        } catch (const EImageError&) {
            return; // our limits refuse it: nothing streams
        }
        ASSERT_EQ(picture.Width(), reference.Width()) << what;
        if (std::unique_ptr<TRowReader> rows = OpenRowReader(picture)) {
            TBitmap streamed(rows->Width(), rows->Height(), 24);
            for (int y = 0; y < streamed.Height(); ++y)
                rows->ReadRow(streamed.ScanLine(y));
            EXPECT_EQ(PixelBytes(streamed), PixelBytes(reference)) << what << ": rows";
        }
        EXPECT_EQ(PixelBytes(test::ToBitmap(picture)), PixelBytes(reference)) << what << ": drawn";

        const int side = std::max(picture.Width(), picture.Height());
        if (side < 3)
            return;
        for (const TFilter filter : { TFilter::Lanczos3, TFilter::None }) {
            const TFitOptions options { side * 2 / 3, side * 2 / 3, true, TFitDirection::BothWays,
                filter };
            TPicture whole;
            {
                const TLevelGuard guard;
                SetSimdLevel(TSimdLevel::Scalar);
                whole.Assign(reference);
                FitToBox(whole, options);
            }
            TPicture fitted = test::LoadBytes(dir, "q.png", file);
            FitToBox(fitted, options);
            ASSERT_EQ(fitted.Kind(), TGraphicKind::Bitmap) << what;
            EXPECT_EQ(PixelBytes(*fitted.Bitmap()), PixelBytes(*whole.Bitmap()))
                << what << ": fitted, filter " << static_cast<int>(filter);
        }
    }

    // Random samples of a colour type and depth, with the kind of transparency asked for.
    TBytes GeneratedPng(int colorType, int depth, bool transparency, unsigned seed)
    {
        constexpr int w = 37;
        constexpr int h = 23;
        std::mt19937 random(seed);
        const int channels = colorType == 0 || colorType == 3 ? 1
            : colorType == 4                                  ? 2
            : colorType == 2                                  ? 3
                                                              : 4;
        const std::size_t rowBytes = (static_cast<std::size_t>(w) * channels * depth + 7) / 8;
        TBytes rows(rowBytes * h);
        const int paletteSize = 1 << std::min(depth, 8);
        for (std::size_t i = 0; i < rows.size(); ++i)
            rows[i] = static_cast<std::uint8_t>(random());
        // Samples of the key colour and of alpha 0 and 255, so every case of drawing occurs.
        std::vector<test::TPngChunk> before;
        if (colorType == 3) {
            TBytes plte;
            for (int k = 0; k < paletteSize * 3; ++k)
                plte.push_back(static_cast<std::uint8_t>(random()));
            before.push_back({ "PLTE", plte });
            if (transparency) {
                TBytes alpha { 0, 255, 128, 1, 254 };
                alpha.resize(std::min(paletteSize, 200), 77);
                before.push_back({ "tRNS", alpha });
            }
        } else if (transparency && (colorType == 0 || colorType == 2)) {
            // The key is the first sample (or pixel) of the image, so that it occurs.
            TBytes key;
            for (int c = 0; c < (colorType == 0 ? 1 : 3); ++c) {
                unsigned v = 0;
                if (depth == 16)
                    v = rows[2 * c] << 8 | rows[2 * c + 1];
                else if (depth == 8)
                    v = rows[c];
                else
                    v = rows[0] >> (8 - depth);
                key.push_back(static_cast<std::uint8_t>(v >> 8));
                key.push_back(static_cast<std::uint8_t>(v));
            }
            before.push_back({ "tRNS", key });
        } else if (colorType == 4 || colorType == 6) {
            // Fully transparent and fully opaque pixels besides the random alphas.
            const int pixelBytes = channels * depth / 8;
            const int alphaAt = (channels - 1) * depth / 8;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; x += 3) {
                    std::uint8_t* alpha = rows.data() + rowBytes * y
                        + static_cast<std::size_t>(x) * pixelBytes + alphaAt;
                    std::memset(
                        alpha, (x / 3) % 2 == 0 ? 0 : 255, static_cast<std::size_t>(depth / 8));
                }
        }
        return test::MakePng(w, h, depth, colorType, rows, before);
    }

} // namespace

TEST(PngStreamTest, EveryColourTypeDepthAndTransparencyStreamsToTheWholePicturesBytes)
{
    struct TKind {
        int colorType;
        std::vector<int> depths;
        std::vector<bool> transparency;
    };
    const TKind kinds[] = {
        { 0, { 1, 2, 4, 8, 16 }, { false, true } },
        { 2, { 8, 16 }, { false, true } },
        { 3, { 1, 2, 4, 8 }, { false, true } },
        { 4, { 8, 16 }, { true } },
        { 6, { 8, 16 }, { true } },
    };
    unsigned seed = 1;
    for (const TKind& kind : kinds)
        for (const int depth : kind.depths)
            for (const bool transparency : kind.transparency)
                ExpectMatchesReference(GeneratedPng(kind.colorType, depth, transparency, seed++),
                    "colour type " + std::to_string(kind.colorType) + ", depth "
                        + std::to_string(depth) + (transparency ? ", transparent" : ""));
}

TEST(PngStreamTest, CorpusPngsStreamToTheWholePicturesBytes)
{
    const std::filesystem::path corpus = test::CorporaDir();
    if (corpus.empty())
        GTEST_SKIP() << "the shared image corpus is absent";
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus / "valid"))
        if (entry.is_regular_file() && entry.path().extension() == ".png")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    for (const std::filesystem::path& path : files)
        ExpectMatchesReference(test::ReadBytes(path), path.string());
}

TEST(PngStreamTest, BenchmarkPngPhotosStreamToTheWholePicturesBytes)
{
    const char* configured = std::getenv("PARVULA_PHOTO_CORPUS");
    const std::filesystem::path dir
        = std::filesystem::path(configured ? configured : "/tmp/parvula-photos") / "png-photo";
    if (!std::filesystem::is_directory(dir))
        GTEST_SKIP() << "the benchmark's PNG photos are absent (bench/run.sh builds them)";
    std::vector<std::filesystem::path> photos;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        photos.push_back(entry.path());
    std::sort(photos.begin(), photos.end());
    if (photos.empty())
        GTEST_SKIP() << "no PNG photo in " << dir;
    // One photo: the reference decodes it whole and resamples it with the plain loops.
    const TBytes file = test::ReadBytes(photos.front());
    TBitmap reference;
    ASSERT_TRUE(LibpngOnWhite(file, reference));
    const TFitOptions options { 200, 200, true, TFitDirection::BothWays, TFilter::Lanczos3 };
    TPicture whole;
    {
        const TLevelGuard guard;
        SetSimdLevel(TSimdLevel::Scalar);
        whole.Assign(std::move(reference));
        FitToBox(whole, options);
    }
    TPicture photo = test::Load(photos.front());
    ASSERT_NE(OpenRowReader(photo), nullptr);
    FitToBox(photo, options);
    EXPECT_EQ(PixelBytes(*photo.Bitmap()), PixelBytes(*whole.Bitmap())) << photos.front();
}

TEST(PngStreamTest, DamagedImageDataFailsWithTheWholeDecodesTextAndKeepsThePicture)
{
    TBytes file = GeneratedPng(2, 8, false, 9);
    // The image data's CRC: the header reads, the rows fail once they are decoded.
    std::size_t at = 8;
    for (const test::TPngChunk& chunk : test::PngChunks(file)) {
        if (chunk.type == "IDAT") {
            file[at + 8 + chunk.data.size()] ^= 0x55;
            break;
        }
        at += 12 + chunk.data.size();
    }
    const test::TTempDir dir;
    TPicture whole = test::LoadBytes(dir, "d.png", file);
    std::string wholeError;
    try {
        test::ToBitmap(whole);
    } catch (const EImageError& e) {
        wholeError = e.what();
    }
    // Our own text, never libpng's English one ("IDAT: CRC error").
    ASSERT_EQ(wholeError, "PNG: Datei ist beschädigt");
    TPicture streamed = test::LoadBytes(dir, "d.png", file);
    try {
        FitToBox(streamed, { 10, 10, true, TFitDirection::BothWays, TFilter::Lanczos3 });
        ADD_FAILURE() << "the streamed decode succeeded where the whole one failed";
    } catch (const EImageError& e) {
        EXPECT_EQ(std::string(e.what()), wholeError);
    }
    EXPECT_EQ(streamed.Kind(), TGraphicKind::Png);
}

} // namespace parvula::imaging
