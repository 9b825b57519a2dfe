// Colour profiles in the batch run: a photo tagged with Adobe RGB comes out in sRGB, close to
// lcms2's conversion of the whole decoded photo; sRGB-tagged photos, "Colours as stored" and
// damaged profiles give exactly the bytes of the untagged photo.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <lcms2.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/BasUnit1_batch.h"
#include "imaging/imagefiles.h"
#include "imaging/picstretch1.h"
#include "platform/platform_fs.h"

using namespace parvula;

namespace {

using TBytes = std::vector<std::uint8_t>;

const std::filesystem::path kAdobe = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
const std::filesystem::path kSrgb = "/usr/share/color/icc/colord/sRGB.icc";

TBytes ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

// Smooth colour fields with a little grain, as a photo's sky and skin are, and within the colours
// sRGB can show: where the source holds colours beyond them, clipping them before or after fitting
// makes a difference of its own (see docs/performance.md).
imaging::TBitmap Photo()
{
    imaging::TBitmap bitmap(320, 200, 24);
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::uint8_t* p = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x, p += 3) {
            const int grain = ((x * 7 + y * 13) % 9) - 4;
            p[0] = std::uint8_t(
                std::clamp(int(120 + 45 * std::cos((x + y) / 41.0)) + grain, 0, 255));
            p[1] = std::uint8_t(
                std::clamp(int(130 + 40 * std::sin(x / 37.0 - y / 23.0)) + grain, 0, 255));
            p[2] = std::uint8_t(
                std::clamp(int(140 + 42 * std::sin(x / 29.0 + y / 53.0)) + grain, 0, 255));
        }
    }
    return bitmap;
}

// The JPEG with the profile in one APP2 segment right after SOI.
TBytes Tagged(const TBytes& jpeg, const TBytes& icc)
{
    const std::size_t length = 2 + 14 + icc.size();
    TBytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), { 0xFF, 0xE2, std::uint8_t(length >> 8), std::uint8_t(length & 0xFF) });
    const char* signature = "ICC_PROFILE";
    out.insert(out.end(), signature, signature + 12);
    out.insert(out.end(), { 1, 1 });
    out.insert(out.end(), icc.begin(), icc.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

// lcms2's own conversion of a whole bitmap to sRGB, made without the code under test.
imaging::TBitmap LcmsConverted(const imaging::TBitmap& source, const TBytes& icc)
{
    imaging::TBitmap out = source;
    cmsHPROFILE from = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform
        = cmsCreateTransform(from, TYPE_BGR_8, srgb, TYPE_BGR_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    EXPECT_NE(transform, nullptr);
    for (int y = 0; transform && y < source.Height(); ++y)
        cmsDoTransform(
            transform, source.ScanLine(y), out.ScanLine(y), cmsUInt32Number(source.Width()));
    if (transform)
        cmsDeleteTransform(transform);
    cmsCloseProfile(srgb);
    cmsCloseProfile(from);
    return out;
}

struct TDifference {
    double mean = 0;
    int most = 0;
};

TDifference Difference(const imaging::TBitmap& a, const imaging::TBitmap& b)
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

class ColourRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_adobe = ReadAll(kAdobe);
        m_srgb = ReadAll(kSrgb);
        if (m_adobe.empty() || m_srgb.empty())
            GTEST_SKIP() << "colord-data's profiles are not installed";
        imaging::TPicture picture;
        picture.Assign(Photo());
        m_jpeg = imaging::EncodeJpeg(picture, "photo.jpg", 92)->bytes;
        settings.width = 120;
        settings.filter = 6; // Lanczos3
        settings.format = "bmp";
    }

    QString Write(const QString& name, const TBytes& bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        return path;
    }

    TBytes Run(const QString& source)
    {
        app::TBatchRun run([this] { return settings; });
        const QString output = run.MakeOutputFile(source);
        return ReadAll(platform::ToPath(output));
    }

    imaging::TBitmap Pixels(const QString& source)
    {
        app::TBatchRun run([this] { return settings; });
        imaging::TPicture out;
        imaging::LoadFromFile(out, platform::ToPath(run.MakeOutputFile(source)));
        imaging::ConvertPictureToBitmap(out);
        return *out.Bitmap();
    }

    // The decoded source converted whole by lcms2, then fitted as the run fits.
    imaging::TBitmap Reference(const TBytes& icc)
    {
        imaging::TPicture decoded;
        imaging::LoadFromFile(decoded, platform::ToPath(Write("reference.jpg", m_jpeg)));
        imaging::ConvertPictureToBitmap(decoded);
        imaging::TPicture converted;
        converted.Assign(LcmsConverted(*decoded.Bitmap(), icc));
        imaging::TFitOptions fit;
        fit.maxWidth = settings.width;
        fit.maxHeight = settings.height;
        fit.filter = imaging::FilterOfListIndex(settings.filter);
        imaging::FitToBox(converted, fit);
        return *converted.Bitmap();
    }

    app::TBatchSettings settings;
    QTemporaryDir m_dir;
    TBytes m_adobe;
    TBytes m_srgb;
    TBytes m_jpeg;
};

} // namespace

TEST_F(ColourRunTest, AdobeRgbPhotoComesOutInSrgbAndTheOthersKeepTodaysBytes)
{
    const QString untagged = Write("untagged.jpg", m_jpeg);
    const QString adobe = Write("adobe.jpg", Tagged(m_jpeg, m_adobe));
    const QString srgb = Write("srgb.jpg", Tagged(m_jpeg, m_srgb));
    TBytes cut(m_adobe.begin(), m_adobe.begin() + 300);
    const QString damaged = Write("damaged.jpg", Tagged(m_jpeg, cut));
    for (const char* format : { "bmp", "png", "jpg" }) {
        SCOPED_TRACE(format);
        settings.format = format;
        settings.coloursAsStored = false;
        const TBytes today = Run(untagged);
        EXPECT_EQ(Run(srgb), today);
        EXPECT_EQ(Run(damaged), today);
        EXPECT_NE(Run(adobe), today);
        settings.coloursAsStored = true;
        EXPECT_EQ(Run(adobe), today);
    }

    settings.format = "bmp";
    settings.coloursAsStored = false;
    const imaging::TBitmap reference = Reference(m_adobe);
    const TDifference converted = Difference(Pixels(adobe), reference);
    EXPECT_LE(converted.mean, 1.5);
    EXPECT_LE(converted.most, 10);
    EXPECT_GT(Difference(Pixels(untagged), reference).mean, 3.0);
}

TEST_F(ColourRunTest, PhotoTheBoxLeavesAloneIsConvertedWholeUnlessWrittenAsItself)
{
    const TBytes tagged = Tagged(m_jpeg, m_adobe);
    const QString adobe = Write("adobe.jpg", tagged);
    settings.width = 0;
    settings.height = 0;
    settings.format = "png";
    const TDifference d = Difference(Pixels(adobe), Reference(m_adobe));
    EXPECT_LE(d.most, 1);

    // A damaged profile leaves the picture to the encoder as it is: with Mono Color on and no
    // colour code, a PNG output of an unfitted photo is not marked transparent, as today.
    const QString untagged = Write("untagged.jpg", m_jpeg);
    const QString damaged
        = Write("damaged.jpg", Tagged(m_jpeg, TBytes(m_adobe.begin(), m_adobe.begin() + 300)));
    settings.useMono = true;
    settings.mono = "";
    EXPECT_EQ(Run(damaged), Run(untagged));
    settings.useMono = false;

    // Written back byte for byte, the photo keeps its profile, and viewers convert it.
    settings.format = "";
    settings.jpgQual = 100;
    EXPECT_EQ(Run(adobe), tagged);
}

TEST_F(ColourRunTest, WorkersConvertAsOneAfterAnotherDoes)
{
    // Workers share the kept conversions: photos of two profiles, interleaved, four at a time.
    const TBytes prophoto = ReadAll("/usr/share/color/icc/colord/ProPhotoRGB.icc");
    if (prophoto.empty())
        GTEST_SKIP() << "colord-data's ProPhoto profile is not installed";
    QStringList sources;
    for (int i = 0; i < 8; ++i)
        sources << Write(
            QStringLiteral("p%1.jpg").arg(i), Tagged(m_jpeg, i % 2 ? prophoto : m_adobe));
    const auto run = [&](int jobs) {
        app::TBatchRun batch([this] { return settings; });
        batch.SetJobs(jobs);
        std::vector<TBytes> outputs;
        EXPECT_EQ(app::RunBatch(batch, sources,
                      [&](int, const QString&, const QString& output) {
                          outputs.push_back(ReadAll(platform::ToPath(output)));
                      }),
            8);
        return outputs;
    };
    // The parallel run first, so its workers are the ones that make the conversions.
    const std::vector<TBytes> four = run(4);
    const std::vector<TBytes> one = run(1);
    EXPECT_EQ(one, four);
    EXPECT_NE(one[0], one[1]);
}
