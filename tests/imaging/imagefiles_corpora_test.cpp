// The shared corpus of real files: valid files decode to their listed size, every other file
// either decodes or fails with EImageError, and none may crash.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "imaging/imagefiles.h"
#include "imaging/imaging_support.h"

using namespace parvula::imaging;
using namespace parvula::imaging::test;

namespace {

struct TCorpusFile {
    std::string path;
    std::string expectation;
    std::string size; // "WxH" or empty
};

std::vector<TCorpusFile> Manifest(const std::filesystem::path& dir)
{
    std::vector<TCorpusFile> files;
    std::ifstream in(dir / "MANIFEST.tsv");
    std::string line;
    std::getline(in, line); // column names
    while (std::getline(in, line)) {
        std::vector<std::string> columns;
        std::stringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t'))
            columns.push_back(field);
        if (columns.size() >= 7)
            files.push_back(TCorpusFile { columns[0], columns[5], columns[6] });
    }
    return files;
}

// Loads and converts to a bitmap (a JPEG decodes only when first drawn).
std::string Decode(const std::filesystem::path& path)
{
    TPicture picture;
    LoadFromFile(picture, path);
    SaveAsBmp(picture, {});
    const TBitmap* bitmap = picture.Bitmap();
    if (!bitmap)
        return "no bitmap";
    return std::to_string(bitmap->Width()) + "x" + std::to_string(bitmap->Height());
}

// The sizes an icon file's directory lists; the reader may choose any of its images.
std::vector<std::string> IconSizes(const std::filesystem::path& path)
{
    const TBytes bytes = ReadBytes(path);
    std::vector<std::string> sizes;
    for (std::size_t i = 0; bytes.size() >= 6 && i < LittleEndian16(bytes, 4); ++i) {
        const std::size_t at = 6 + 16 * i;
        if (at + 16 > bytes.size())
            break;
        const int w = bytes[at] == 0 ? 256 : bytes[at];
        const int h = bytes[at + 1] == 0 ? 256 : bytes[at + 1];
        sizes.push_back(std::to_string(w) + "x" + std::to_string(h));
    }
    return sizes;
}

} // namespace

TEST(Corpora, ValidFilesDecodeToTheirSize)
{
    const std::filesystem::path dir = CorporaDir();
    if (dir.empty())
        GTEST_SKIP() << "the shared image corpus is absent";
    int checked = 0;
    for (const TCorpusFile& file : Manifest(dir)) {
        if (file.expectation != "decode" || file.size.empty() || file.path.rfind("valid/", 0) != 0)
            continue;
        SCOPED_TRACE(file.path);
        try {
            const std::string size = Decode(dir / file.path);
            if (file.path.ends_with(".ico")) {
                // Our reader picks the image closest to 32 x 32, not necessarily the largest.
                const std::vector<std::string> sizes = IconSizes(dir / file.path);
                EXPECT_NE(std::find(sizes.begin(), sizes.end(), size), sizes.end()) << size;
            } else {
                EXPECT_EQ(size, file.size);
            }
        } catch (const EImageError& error) {
            ADD_FAILURE() << error.what();
        }
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

TEST(Corpora, DamagedFilesFailCleanlyOrDecode)
{
    const std::filesystem::path dir = CorporaDir();
    if (dir.empty())
        GTEST_SKIP() << "the shared image corpus is absent";
    for (const TCorpusFile& file : Manifest(dir)) {
        if (file.expectation == "decode")
            continue;
        SCOPED_TRACE(file.path);
        if (file.expectation == "reject") {
            EXPECT_THROW(Decode(dir / file.path), EImageError);
        } else {
            try {
                Decode(dir / file.path);
            } catch (const EImageError&) {
            }
        }
    }
}

namespace {

// Largest channel difference between two pictures drawn on white; -1 when the sizes differ.
int MaxDifference(TPicture& a, TPicture& b)
{
    SaveAsBmp(a, {});
    SaveAsBmp(b, {});
    const TBitmap& x = *a.Bitmap();
    const TBitmap& y = *b.Bitmap();
    if (x.Width() != y.Width() || x.Height() != y.Height())
        return -1;
    int worst = 0;
    for (int row = 0; row < x.Height(); ++row)
        for (int col = 0; col < x.Width(); ++col) {
            const TRgb p = x.PixelColor(col, row);
            const TRgb q = y.PixelColor(col, row);
            worst = std::max(
                { worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b) });
        }
    return worst;
}

} // namespace

// Reference renderings drawn on white must match ours: exactly where the corpus calls them exact
// (Go's BMP references, the GIF test suite's frames), within a small tolerance for bmpsuite's
// palettes, PNG renderings of 16-bit samples and JPEG's IDCT.
TEST(Corpora, PixelsMatchTheReferenceRenderings)
{
    const std::filesystem::path dir = CorporaDir();
    if (dir.empty())
        GTEST_SKIP() << "the shared image corpus is absent";
    struct TSource {
        std::string prefix;
        int tolerance;
    };
    // bmpsuite's references give some palette colours one step off the file's own.
    const std::vector<TSource> sources = { { "valid/bmp/bmpsuite/", 1 },
        { "valid/gif/gif-test-suite/", 0 }, { "valid/png/pngsuite/", 1 }, { "valid/jpeg/go/", 8 } };
    int compared = 0;
    for (const TCorpusFile& file : Manifest(dir)) {
        const std::string suffix = ".ref.png";
        if (!file.path.ends_with(suffix) || file.path.find(".f") != std::string::npos)
            continue;
        const auto source = std::find_if(sources.begin(), sources.end(),
            [&](const TSource& s) { return file.path.rfind(s.prefix, 0) == 0; });
        // Go upsamples chroma by repeating samples where libjpeg interpolates; on these two
        // unusual samplings the results differ by more than any fixed tolerance.
        if (source == sources.end() || file.path.find("video-001.221212") != std::string::npos
            || file.path.find("video-001.rgb") != std::string::npos)
            continue;
        const std::string stem = file.path.substr(0, file.path.size() - suffix.size());
        std::filesystem::path image;
        for (const char* ext : { ".bmp", ".gif", ".png", ".jpg", ".jpeg" })
            if (std::filesystem::exists(dir / (stem + ext)))
                image = dir / (stem + ext);
        if (image.empty())
            continue;
        SCOPED_TRACE(image.string());
        try {
            TPicture ours;
            LoadFromFile(ours, image);
            TPicture reference;
            LoadFromFile(reference, dir / file.path);
            const int difference = MaxDifference(ours, reference);
            EXPECT_GE(difference, 0) << "sizes differ";
            EXPECT_LE(difference, source->tolerance);
            ++compared;
        } catch (const EImageError& error) {
            ADD_FAILURE() << error.what();
        }
    }
    EXPECT_GT(compared, 40);
}
