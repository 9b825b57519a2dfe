// Every file of the shared corpus replayed, each in its own child process under a hang guard:
// valid files decode to their listed size, match their reference rendering, fit into 64 x 64 with
// a kernel and by nearest neighbour and go through every writer; damaged, hostile and fuzzer files
// decode or fail with our error, never crash, hang or take memory without bound.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "imaging/imagefiles.h"
#include "imaging/imagefiles_internal.h"
#include "imaging/picstretch1.h"
#include "robustness/robustness_support.h"

using namespace parvula::imaging;
using namespace parvula::robustness;

namespace {

struct TCorpusFile {
    std::string path;
    std::string expectation;
    std::string size; // "WxH" or empty
    std::string kind; // "test" or "ref"
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
        columns.resize(std::max<std::size_t>(columns.size(), 8));
        files.push_back(TCorpusFile { columns[0], columns[5], columns[6], columns[7] });
    }
    return files;
}

std::string SizeText(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

// The picture drawn on white as the batch run sees it.
TBitmap OnWhite(TPicture& picture)
{
    ConvertPictureToBitmap(picture);
    TBitmap bitmap = *picture.Bitmap();
    bitmap.ConvertTo24();
    return bitmap;
}

// Largest channel difference of two bitmaps of one size.
int MaxDifference(const TBitmap& x, const TBitmap& y)
{
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

// How close a source's reference renderings are to the file, by the corpus notes; -1: not
// compared. Drawn on white, a reference with alpha blends as ours does.
int ReferenceTolerance(const std::string& path)
{
    struct TSource {
        const char* prefix;
        int tolerance;
    };
    static const TSource sources[] = {
        // bmpsuite's references give some palette colours one step off the file's own.
        { "valid/bmp/bmpsuite/", 1 },
        { "valid/bmp-questionable/bmpsuite/", 1 },
        { "valid/bmp/x-image/", 0 },
        { "valid/bmp/image-rs/", 1 },
        { "valid/bmp-questionable/image-rs/", 1 },
        { "valid/gif/gif-test-suite/", 0 },
        { "invalid/gif/gif-test-suite/", 0 },
        { "valid/gif/image-rs/", 0 },
        { "invalid/gif/image-rs/", 0 },
        { "valid/gif/image-gif/", 0 },
        { "valid/gif/giflib/", 0 },
        { "valid/ico/image-rs/", 1 },
        // Go's GIF references are the picture before palette quantisation.
        { "valid/gif/go/", 128 },
        { "valid/png/pngsuite/", 1 },
        // IDCTs differ: Go allows 8 per channel, and so do we for the other renderers.
        { "valid/jpeg/go/", 8 },
        { "invalid/jpeg/go/", 8 },
        { "valid/jpeg/image-rs/", 8 },
    };
    // Go upsamples chroma by repeating samples where libjpeg interpolates; on these two unusual
    // samplings the results differ by more than any fixed tolerance.
    if (path.find("video-001.221212") != std::string::npos
        || path.find("video-001.rgb") != std::string::npos)
        return -1;
    // These references carry the file's alpha channel; a bitmap draws its pixels opaque.
    for (const char* alpha : { "V5_A1_R5_G5_B5.", "V5_A8_R8_G8_B8_Rgb.", "yellow_rose-small-v5." })
        if (path.find(alpha) != std::string::npos)
            return -1;
    for (const TSource& s : sources)
        if (path.rfind(s.prefix, 0) == 0)
            return s.tolerance;
    return -1;
}

// The outcome of one file, computed in the child: "decoded WxH", "refused: <error>", or lines
// starting with "FAIL" for every check that went wrong.
std::string Replay(const std::filesystem::path& dir, const TCorpusFile& file)
{
    TPicture picture;
    try {
        LoadFromFile(picture, dir / file.path);
        ConvertPictureToBitmap(picture); // a JPEG decodes only when first drawn
    } catch (const EImageError& error) {
        return std::string("refused: ") + error.what();
    }
    const std::string size = SizeText(picture.Width(), picture.Height());
    std::string failures;
    if (file.expectation != "decode")
        return "decoded " + size;

    // The icon reader picks the image closest to 32 x 32, not necessarily the largest listed.
    const bool icon = file.path.ends_with(".ico");
    if (!file.size.empty() && !icon && size != file.size)
        failures += "FAIL size " + size + ", listed " + file.size + "\n";

    const std::string stem = file.path.substr(0, file.path.rfind('.'));
    const int tolerance = ReferenceTolerance(file.path);
    std::string matched;
    if (tolerance >= 0 && std::filesystem::exists(dir / (stem + ".ref.png"))) {
        TPicture reference;
        LoadFromFile(reference, dir / (stem + ".ref.png"));
        const TBitmap ours = OnWhite(picture);
        const TBitmap theirs = OnWhite(reference);
        if (ours.Width() != theirs.Width() || ours.Height() != theirs.Height()) {
            if (!icon)
                failures += "FAIL reference size differs\n";
        } else if (const int d = MaxDifference(ours, theirs); d > tolerance) {
            failures += "FAIL reference differs by " + std::to_string(d) + "\n";
        } else {
            matched = ", reference matched";
        }
    }

    for (const int filter : { 6, 0 }) { // Lanczos3, nearest neighbour
        TPicture fitted;
        LoadFromFile(fitted, dir / file.path);
        FitToBox(fitted, { 64, 64, true, TFitDirection::BothWays, FilterOfListIndex(filter) });
        const int w = fitted.Width();
        const int h = fitted.Height();
        if (w > 64 || h > 64 || w < 1 || h < 1 || (w != 64 && h != 64))
            failures += "FAIL fitted to " + SizeText(w, h) + "\n";
        for (const char* ext : { "bmp", "jpg", "png", "gif" }) {
            const std::optional<TEncodedFile> encoded
                = EncodeByExtension(fitted, std::string("out.") + ext);
            if (!encoded || encoded->bytes.empty()) {
                failures += std::string("FAIL nothing encoded as ") + ext + "\n";
                continue;
            }
            // Read back through our own readers: every writer's output must be a valid file.
            TPicture back;
            const std::string e = ext;
            if (e == "bmp")
                back.Assign(DecodeBmp(encoded->bytes));
            else if (e == "jpg")
                back.SetGraphic(ReadJpeg(encoded->bytes));
            else if (e == "png")
                back.SetGraphic(ReadPng(encoded->bytes));
            else
                back.SetGraphic(ReadGif(encoded->bytes));
            ConvertPictureToBitmap(back);
            if (back.Width() != w || back.Height() != h)
                failures += "FAIL " + e + " reads back as " + SizeText(back.Width(), back.Height())
                    + "\n";
        }
    }
    return failures.empty() ? "decoded " + size + matched : failures;
}

struct TFolderTally {
    int files = 0;
    int decoded = 0;
    int refused = 0;
    int matched = 0;
    double slowest = 0;
    std::string slowestFile;
    std::int64_t peakKiB = 0;
    std::string peakFile;
};

// Replays every test file under prefix; expectations decide what counts as a failure.
void ReplayFolder(const std::string& prefix)
{
    const std::filesystem::path dir = CorporaDir();
    if (dir.empty())
        GTEST_SKIP() << "the shared image corpus is absent (" PARVULA_CORPORA_DIR ")";
    std::map<std::string, TFolderTally> tallies; // by <folder>/<format>
    for (const TCorpusFile& file : Manifest(dir)) {
        if (file.kind != "test" || file.path.rfind(prefix, 0) != 0)
            continue;
        SCOPED_TRACE(file.path);
        // A hang guard far above the two seconds a file may take, not a speed figure.
        const TChildResult r = RunInChild([&] { return Replay(dir, file); }, GuardSeconds(20));
        ASSERT_TRUE(r.finished && r.exitCode == 0) << r.Describe();
        // Even a file at the pixel limit needs less: anything above is an allocation without
        // bound.
        EXPECT_LT(r.peakKiB, 2 * 1024 * 1024) << r.Describe();
        const bool refused = r.text.rfind("refused: ", 0) == 0;
        const bool decoded = r.text.rfind("decoded ", 0) == 0;
        if (file.expectation == "decode")
            EXPECT_TRUE(decoded) << r.text;
        else if (file.expectation == "reject")
            EXPECT_TRUE(refused) << r.text;
        else
            EXPECT_TRUE(decoded || refused) << r.text;
        const std::string folder = file.path.substr(0, file.path.find('/', prefix.size()));
        TFolderTally& t = tallies[folder];
        ++t.files;
        t.decoded += decoded;
        t.refused += refused;
        t.matched += r.text.find(", reference matched") != std::string::npos;
        if (r.seconds > t.slowest) {
            t.slowest = r.seconds;
            t.slowestFile = file.path;
        }
        if (r.peakKiB > t.peakKiB) {
            t.peakKiB = r.peakKiB;
            t.peakFile = file.path;
        }
    }
    ASSERT_FALSE(tallies.empty());
    for (const auto& [folder, t] : tallies)
        std::cout << "[replay] " << folder << ": " << t.files << " files, " << t.decoded
                  << " decoded (" << t.matched << " matching their reference), " << t.refused
                  << " refused; slowest " << t.slowest << " s (" << t.slowestFile << "), peak "
                  << t.peakKiB / 1024 << " MiB (" << t.peakFile << ")\n";
}

} // namespace

TEST(CorporaReplay, ValidFilesDecodeMatchTheirReferencesFitAndEncode) { ReplayFolder("valid/"); }

TEST(CorporaReplay, InvalidFilesDecodeOrFailCleanly) { ReplayFolder("invalid/"); }

TEST(CorporaReplay, FuzzSeedsDecodeOrFailCleanly) { ReplayFolder("fuzz-seeds/"); }

// The hostile fixtures kept with the tests (fuzzer findings among them): each decodes or fails
// with our error, in a child, without a crash, hang or allocation without bound.
TEST(CorporaReplay, FixturesDecodeOrFailCleanly)
{
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataDir())) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".bmp" && ext != ".jpg" && ext != ".png" && ext != ".gif" && ext != ".ico")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        const TChildResult r = RunInChild(
            [&]() -> std::string {
                TPicture picture;
                try {
                    LoadFromFile(picture, entry.path());
                    FitToBox(picture, { 64, 64, true, TFitDirection::BothWays, TFilter::Lanczos3 });
                    for (const char* out : { "out.bmp", "out.jpg", "out.png", "out.gif" })
                        EncodeByExtension(picture, out);
                } catch (const EImageError& error) {
                    return std::string("refused: ") + error.what();
                }
                return "decoded";
            },
            GuardSeconds(20));
        EXPECT_TRUE(r.finished && r.exitCode == 0) << r.Describe();
        EXPECT_TRUE(r.text == "decoded" || r.text.rfind("refused: ", 0) == 0) << r.text;
        EXPECT_LT(r.peakKiB, 2 * 1024 * 1024) << r.Describe();
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}
