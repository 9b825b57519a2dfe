// Streamed JPEG rows against the whole picture: FitToBox on a JPEG (rows straight into the
// horizontal pass) gives the bytes of FitToBox on its decoded bitmap with the plain loops, on
// generated pictures, the shared corpus and the benchmark photos; decoding failures keep their
// texts; the decoder's rows are the library's own colours.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <gtest/gtest.h>

#include "imaging/picstretch1.h"
#include "imaging_support.h"

namespace parvula::imaging {
namespace {

    using test::PixelBytes;
    using test::TBytes;
    using test::TLevelGuard;

    // Smooth areas, an edge and noise: what a photo has, in a few pixels.
    TBitmap PhotoLike(int w, int h, unsigned seed)
    {
        TBitmap bitmap = test::NoiseBitmap(w, h, seed);
        for (int y = 0; y < h; ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < 3 * w; ++x) {
                const int smooth = (x * 255) / (3 * w) + (y * 64) / h;
                row[x] = static_cast<std::uint8_t>(
                    x < w ? std::min(255, smooth + row[x] / 16) : (row[x] > 128 ? 250 : 5));
            }
        }
        return bitmap;
    }

    TBytes JpegOf(const TBitmap& bitmap, int quality)
    {
        TPicture picture;
        picture.Assign(bitmap);
        return EncodeJpeg(picture, "x.jpg", quality)->bytes;
    }

    // FitToBox at the active level on the picture as loaded (a JPEG streams), against FitToBox
    // with the plain loops on its whole decoded bitmap.
    void ExpectStreamedFitMatches(TPicture& jpeg, int box, int filter, const std::string& what)
    {
        ASSERT_EQ(jpeg.Kind(), TGraphicKind::Jpeg) << what;
        const TSimdLevel level = ActiveSimdLevel();
        TPicture whole;
        whole.Assign(test::ToBitmap(jpeg));
        SetSimdLevel(TSimdLevel::Scalar);
        FitToBox(whole, { box, box, true, TFitDirection::BothWays, FilterOfListIndex(filter) });
        SetSimdLevel(level);

        FitToBox(jpeg, { box, box, true, TFitDirection::BothWays, FilterOfListIndex(filter) });
        ASSERT_NE(jpeg.Bitmap(), nullptr) << what;
        ASSERT_EQ(jpeg.Width(), whole.Width()) << what;
        ASSERT_EQ(jpeg.Height(), whole.Height()) << what;
        EXPECT_EQ(PixelBytes(*jpeg.Bitmap()), PixelBytes(*whole.Bitmap()))
            << what << ", filter " << filter << ", box " << box << ", level "
            << static_cast<int>(level);
    }

    std::vector<TSimdLevel> AllLevels()
    {
        std::vector<TSimdLevel> levels;
        for (TSimdLevel level :
            { TSimdLevel::Scalar, TSimdLevel::Sse2, TSimdLevel::Avx2, TSimdLevel::Avx512 })
            if (level <= SupportedSimdLevel())
                levels.push_back(level);
        return levels;
    }

    // libjpeg's own RGB rows of a file, turned to blue, green, red: what our rows must be.
    std::vector<std::uint8_t> LibraryRows(const TBytes& file)
    {
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr error;
        cinfo.err = jpeg_std_error(&error);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        std::vector<std::uint8_t> rows;
        std::vector<std::uint8_t> row(static_cast<std::size_t>(cinfo.output_width) * 3);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW pointer[1] = { row.data() };
            jpeg_read_scanlines(&cinfo, pointer, 1);
            for (std::size_t x = 0; x < row.size(); x += 3)
                rows.insert(rows.end(), { row[x + 2], row[x + 1], row[x] });
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        return rows;
    }

    // The valid colour JPEGs of the shared corpus (CMYK files take the library's CMYK path).
    std::vector<std::filesystem::path> CorpusJpegs()
    {
        std::vector<std::filesystem::path> files;
        const std::filesystem::path dir = test::CorporaDir();
        if (dir.empty())
            return files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "valid")) {
            const std::string ext = entry.path().extension().string();
            if (entry.is_regular_file() && (ext == ".jpg" || ext == ".jpeg"))
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    // A progressive JPEG of the bitmap (blue, green, red rows), as libjpeg writes one.
    TBytes ProgressiveJpegOf(const TBitmap& bitmap)
    {
        jpeg_compress_struct cinfo;
        jpeg_error_mgr error;
        cinfo.err = jpeg_std_error(&error);
        jpeg_create_compress(&cinfo);
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&cinfo, &buffer, &size);
        cinfo.image_width = static_cast<JDIMENSION>(bitmap.Width());
        cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 100, TRUE);
        jpeg_simple_progression(&cinfo);
        jpeg_start_compress(&cinfo, TRUE);
        std::vector<std::uint8_t> row(static_cast<std::size_t>(bitmap.Width()) * 3);
        for (int y = 0; y < bitmap.Height(); ++y) {
            const std::uint8_t* bgr = bitmap.ScanLine(y);
            for (std::size_t x = 0; x < row.size(); x += 3)
                std::copy_n(std::array<std::uint8_t, 3> { bgr[x + 2], bgr[x + 1], bgr[x] }.data(),
                    3, row.data() + x);
            JSAMPROW pointer[1] = { row.data() };
            jpeg_write_scanlines(&cinfo, pointer, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        TBytes bytes(buffer, buffer + size);
        std::free(buffer);
        return bytes;
    }

} // namespace

// A streaming decoder tells the bytes' owner how far it is done with them for the pass, so that
// a mapped file's pages can leave memory as it goes. Here the bytes it lets go while fitting
// are overwritten at once: the thumbnail is still the one of the intact file, so nothing let go
// is read again in that pass, and enough is let go that a large file is not held whole.
TEST(StreamTest, BytesLetGoAreNotReadAgainInThatPass)
{
    const test::TTempDir dir;
    const TBitmap photo = PhotoLike(1600, 1200, 21);
    TPicture png;
    png.Assign(photo);
    const struct {
        const char* name;
        TBytes file;
    } files[]
        = { { "baseline.jpg", JpegOf(photo, 100) }, { "progressive.jpg", ProgressiveJpegOf(photo) },
              { "photo.png", EncodePng(png, "photo.png")->bytes } };
    for (const auto& [name, file] : files) {
        SCOPED_TRACE(name);
        ASSERT_GT(file.size(), std::size_t { 2 } << 20) << "too small to be let go in steps";
        const TFitOptions options { 200, 200, true, TFitDirection::BothWays, TFilter::Lanczos3 };
        TPicture intact = test::LoadBytes(dir, name, file);
        FitToBox(intact, options);

        // Loading reads the file once already (a PNG's chunks); the pass watched is the fit.
        TBytes bytes = file;
        bool watched = false;
        std::size_t letGo = 0;
        TPicture streamed;
        LoadFromBytes(streamed, dir / name, nullptr, bytes, [&](std::size_t offset) {
            if (!watched)
                return;
            EXPECT_GE(offset, letGo) << "let go backwards";
            std::fill(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(offset), 0xA5);
            letGo = std::max(letGo, offset);
        });
        watched = true;
        FitToBox(streamed, options);
        ASSERT_NE(streamed.Bitmap(), nullptr);
        EXPECT_EQ(PixelBytes(*streamed.Bitmap()), PixelBytes(*intact.Bitmap()));
        EXPECT_GT(letGo, file.size() / 2);
    }
}

TEST(StreamTest, JpegRowsGiveTheWholePicturesBytesForEveryKernelAndLevel)
{
    const TLevelGuard guard;
    const test::TTempDir dir;
    struct TCase {
        int w, h, box;
    };
    // Shrinking and enlarging, odd sizes, heights that leave partial row blocks.
    const TCase cases[] = { { 173, 101, 40 }, { 61, 37, 150 }, { 95, 129, 33 }, { 17, 250, 16 } };
    unsigned seed = 7;
    for (const TCase& c : cases) {
        const TBytes file = JpegOf(PhotoLike(c.w, c.h, seed++), 90);
        for (TSimdLevel level : AllLevels()) {
            SetSimdLevel(level);
            for (int filter = 1; filter < KernelCount; ++filter) {
                TPicture jpeg = test::LoadBytes(dir, "s.jpg", file);
                ExpectStreamedFitMatches(
                    jpeg, c.box, filter, std::to_string(c.w) + "x" + std::to_string(c.h));
            }
        }
    }
}

TEST(StreamTest, AJpegDrawnBeforeStillStreamsToTheSameBytes)
{
    const test::TTempDir dir;
    TPicture jpeg = test::LoadBytes(dir, "d.jpg", JpegOf(PhotoLike(80, 60, 3), 85));
    const TBitmap drawn = test::ToBitmap(jpeg); // decodes the photo once already
    EXPECT_EQ(PixelBytes(test::ToBitmap(jpeg)), PixelBytes(drawn)) << "drawn twice";
    ExpectStreamedFitMatches(jpeg, 50, 6, "drawn first");
}

TEST(StreamTest, DecodedRowsAreTheLibrarysColours)
{
    const test::TTempDir dir;
    std::vector<std::filesystem::path> files = CorpusJpegs();
    const TBytes generated = JpegOf(PhotoLike(67, 45, 11), 75);
    test::WriteBytes(dir / "g.jpg", generated);
    files.push_back(dir / "g.jpg");
    for (const std::filesystem::path& path : files) {
        const TBytes bytes = test::ReadBytes(path);
        TPicture picture;
        try {
            LoadFromFile(picture, path);
        } catch (const EImageError&) {
            continue; // beyond our limits or damaged: not a question of colours
        }
        jpeg_decompress_struct probe;
        jpeg_error_mgr error;
        probe.err = jpeg_std_error(&error);
        jpeg_create_decompress(&probe);
        jpeg_mem_src(&probe, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&probe, TRUE);
        const bool cmyk = probe.jpeg_color_space == JCS_CMYK || probe.jpeg_color_space == JCS_YCCK;
        jpeg_destroy_decompress(&probe);
        if (cmyk)
            continue;
        EXPECT_EQ(PixelBytes(test::ToBitmap(picture)), LibraryRows(bytes)) << path;
    }
}

TEST(StreamTest, CorpusJpegsStreamToTheWholePicturesBytes)
{
    const std::vector<std::filesystem::path> files = CorpusJpegs();
    if (files.empty())
        GTEST_SKIP() << "the shared image corpus is absent";
    for (const std::filesystem::path& path : files) {
        for (int filter : { 1, 6, 7 }) {
            TPicture jpeg;
            try {
                LoadFromFile(jpeg, path);
            } catch (const EImageError&) {
                break;
            }
            // Shrinking to two thirds, and enlarging by half; a few pixels leave nothing to fit.
            const int side = std::max(jpeg.Width(), jpeg.Height());
            if (side < 4)
                break;
            ExpectStreamedFitMatches(jpeg, side * 2 / 3, filter, path.string());
            TPicture again = test::Load(path);
            ExpectStreamedFitMatches(again, side * 3 / 2, filter, path.string());
        }
    }
}

TEST(StreamTest, BenchmarkPhotosStreamToTheWholePicturesBytes)
{
    // The photo corpus of bench/run.sh, when it has been built.
    const char* configured = std::getenv("PARVULA_PHOTO_CORPUS");
    const std::filesystem::path dir
        = std::filesystem::path(configured ? configured : "/tmp/parvula-photos") / "jpg";
    if (!std::filesystem::is_directory(dir))
        GTEST_SKIP() << "the benchmark photo corpus is absent (bench/run.sh builds it)";
    std::vector<std::filesystem::path> photos;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        photos.push_back(entry.path());
    std::sort(photos.begin(), photos.end());
    // Two photos, far apart in the list: a whole-picture reference with the plain loops takes
    // about a second each.
    for (std::size_t i : { std::size_t { 0 }, photos.size() / 2 }) {
        if (i >= photos.size())
            continue;
        TPicture photo = test::Load(photos[i]);
        ExpectStreamedFitMatches(photo, 200, 6, photos[i].string());
    }
}

TEST(StreamTest, DecodingFailuresKeepTheirTextsAndThePicture)
{
    // A scan that names a Huffman table the file never defines: the header reads, the pixels
    // fail when decoding starts.
    TBytes file = JpegOf(PhotoLike(40, 30, 5), 90);
    bool patched = false;
    for (std::size_t i = 0; i + 6 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xDA) {
            file[i + 6] = 0x33; // first component: DC table 3, AC table 3
            patched = true;
            break;
        }
    }
    ASSERT_TRUE(patched);
    std::vector<TBytes> broken { file };
    const std::filesystem::path corpus = test::CorporaDir();
    if (!corpus.empty()) {
        for (const auto& entry :
            std::filesystem::recursive_directory_iterator(corpus / "invalid" / "jpeg")) {
            if (entry.is_regular_file())
                broken.push_back(test::ReadBytes(entry.path()));
        }
    }
    const test::TTempDir dir;
    int compared = 0;
    for (const TBytes& bytes : broken) {
        TPicture whole;
        try {
            whole = test::LoadBytes(dir, "b.jpg", bytes);
        } catch (const EImageError&) {
            continue;
        }
        std::string wholeError;
        try {
            test::ToBitmap(whole);
            continue; // decodes: nothing to compare
        } catch (const EImageError& e) {
            wholeError = e.what();
        }
        TPicture streamed = test::LoadBytes(dir, "b.jpg", bytes);
        try {
            FitToBox(streamed, { 10, 10, true, TFitDirection::BothWays, TFilter::Lanczos3 });
            ADD_FAILURE() << "the streamed decode succeeded where the whole one failed";
        } catch (const EImageError& e) {
            EXPECT_EQ(std::string(e.what()), wholeError);
        }
        EXPECT_EQ(streamed.Kind(), TGraphicKind::Jpeg);
        ++compared;
    }
    EXPECT_GE(compared, 1);
}

} // namespace parvula::imaging
