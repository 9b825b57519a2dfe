// The photo formats in the run: a dropped folder of HEIC, AVIF, WebP and TIFF files gives one
// thumbnail each, byte for byte what fitting the libraries' own decodes gives; the names the
// source's own format chooses for them; WebP output with Mono Color; "Upright" for WebP and TIFF.
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/BasUnit1_batch.h"
#include "app/DragDrop1_collect.h"
#include "imaging/imagefiles.h"
#include "platform/platform_fs.h"

using namespace parvula;

namespace {

bool HaveTool(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

::testing::AssertionResult RunTool(const QString& command)
{
    const QByteArray line = (command + QStringLiteral(" >/dev/null 2>&1")).toLocal8Bit();
    if (std::system(line.constData()) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << command.toStdString() << " failed";
}

QString Q(const QString& path) { return QLatin1Char('\'') + path + QLatin1Char('\''); }

// An 8-bit PNG of gradients and noise, with a transparent and a half-transparent band when alpha.
QByteArray PatternPng(int width, int height, bool alpha)
{
    const int channels = alpha ? 4 : 3;
    std::vector<std::uint8_t> raw;
    unsigned state = 7;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int noise = static_cast<int>((state >> 16) & 15);
            raw.push_back(static_cast<std::uint8_t>(x * 240 / width + noise));
            raw.push_back(static_cast<std::uint8_t>(y * 240 / height + noise));
            raw.push_back(static_cast<std::uint8_t>((x / 6 + y / 6) % 2 ? 200 : 30));
            if (alpha)
                raw.push_back(static_cast<std::uint8_t>(x < width / 4 ? 0
                        : x < width / 2                               ? 120
                                                                      : 255));
        }
        (void)channels;
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> deflated(size);
    compress(deflated.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
    QByteArray png("\x89PNG\r\n\x1A\n", 8);
    const auto chunk = [&](const char* type, const QByteArray& data) {
        const auto put32 = [&](QByteArray& to, quint32 v) {
            for (int shift = 24; shift >= 0; shift -= 8)
                to.append(static_cast<char>(v >> shift));
        };
        put32(png, static_cast<quint32>(data.size()));
        const QByteArray body = QByteArray(type, 4) + data;
        png += body;
        put32(png,
            static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(body.constData()),
                static_cast<uInt>(body.size()))));
    };
    QByteArray ihdr;
    for (const quint32 v : { static_cast<quint32>(width), static_cast<quint32>(height) })
        for (int shift = 24; shift >= 0; shift -= 8)
            ihdr.append(static_cast<char>(v >> shift));
    ihdr.append(QByteArray("\x08", 1) + char(alpha ? 6 : 2) + QByteArray(3, '\0'));
    chunk("IHDR", ihdr);
    chunk(
        "IDAT", QByteArray(reinterpret_cast<const char*>(deflated.data()), static_cast<int>(size)));
    chunk("IEND", QByteArray());
    return png;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An 8-bit RGB TIFF of the bitmap's pixels, tagged with an orientation.
void WriteTiff(const QString& path, const imaging::TBitmap& bitmap, int orientation = 1)
{
    TIFF* tiff = TIFFOpen(path.toLocal8Bit().constData(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, bitmap.Width());
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, bitmap.Height());
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, orientation);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(bitmap.Width()) * 3);
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            const imaging::TRgb c = bitmap.PixelColor(x, y);
            row[3 * x] = c.r;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.b;
        }
        TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tiff);
}

imaging::TBitmap Loaded(const QString& path)
{
    imaging::TPicture picture;
    imaging::LoadFromFile(picture, platform::ToPath(path));
    imaging::ConvertPictureToBitmap(picture);
    return *picture.Bitmap();
}

class TPhotoBatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool :
            { "heif-enc", "heif-convert", "avifenc", "avifdec", "cwebp", "dwebp", "webpmux" })
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " is not installed";
        ASSERT_TRUE(m_dir.isValid());
    }
    QString Path(const QString& name) const { return m_dir.filePath(name); }

    // Runs the batch over a dropped folder as the window's "Create all" does.
    int RunOver(const QString& folder, const app::TBatchSettings& settings)
    {
        QStringList entries;
        app::CollectDrop(entries, { folder }, app::DefaultFileAccept());
        app::TBatchRun run([settings] { return settings; });
        run.SetJobs(1);
        return app::RunBatch(run, entries);
    }

    QTemporaryDir m_dir;
};

TEST_F(TPhotoBatch, ADroppedFolderGivesOneThumbnailPerPhotoAsFittingTheLibrarysDecode)
{
    QDir().mkpath(Path("photos"));
    QDir().mkpath(Path("decoded"));
    WriteFile(Path("opaque.png"), PatternPng(90, 61, false));
    WriteFile(Path("alpha.png"), PatternPng(90, 61, true));
    const QString opaque = Q(Path("opaque.png"));
    ASSERT_TRUE(RunTool("heif-enc -q 70 " + opaque + " -o " + Q(Path("photos/h.heic"))));
    ASSERT_TRUE(RunTool("avifenc -s 10 -j 1 " + opaque + " " + Q(Path("photos/a.avif"))));
    ASSERT_TRUE(RunTool("cwebp -q 80 " + opaque + " -o " + Q(Path("photos/w.webp"))));
    ASSERT_TRUE(
        RunTool("cwebp -q 70 " + Q(Path("alpha.png")) + " -o " + Q(Path("photos/wa.webp"))));
    ASSERT_TRUE(
        RunTool("cwebp -lossless " + Q(Path("alpha.png")) + " -o " + Q(Path("photos/wl.webp"))));
    const imaging::TBitmap pattern = Loaded(Path("opaque.png"));
    WriteTiff(Path("photos/t.tif"), pattern);
    // The libraries' own decodes, with their tools; an 8-bit RGB TIFF holds its samples as they
    // are.
    ASSERT_TRUE(
        RunTool("heif-convert " + Q(Path("photos/h.heic")) + " " + Q(Path("decoded/h.png"))));
    ASSERT_TRUE(
        RunTool("avifdec -d 8 " + Q(Path("photos/a.avif")) + " " + Q(Path("decoded/a.png"))));
    for (const char* name : { "w", "wa", "wl" })
        ASSERT_TRUE(RunTool("dwebp " + Q(Path(QStringLiteral("photos/%1.webp").arg(name))) + " -o "
            + Q(Path(QStringLiteral("decoded/%1.png").arg(name)))));
    QFile::copy(Path("opaque.png"), Path("decoded/t.png"));

    app::TBatchSettings settings;
    settings.width = 48;
    settings.filter = 6; // Lanczos3
    settings.jpgQual = 90;
    // The source's own format: HEIF and AVIF become JPEG, TIFF PNG, WebP stays WebP.
    ASSERT_EQ(RunOver(Path("photos"), settings), 6);
    const struct {
        const char* source;
        const char* output;
        const char* asFormat; // what the decoded copy is written as to match
    } rows[] = {
        { "h", "tn_h.jpg", "jpg" },
        { "a", "tn_a.jpg", "jpg" },
        { "w", "tn_w.webp", "webp" },
        { "wa", "tn_wa.webp", "webp" },
        { "wl", "tn_wl.webp", "webp" },
        { "t", "tn_t.png", "png" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source);
        ASSERT_TRUE(QFile::exists(Path("photos/") + row.output));
        // The decoded copy through the same run, written as the same format.
        QDir().mkpath(Path("one"));
        QFile::remove(Path("one/x.png"));
        for (const QString& old : QDir(Path("one")).entryList(QDir::Files))
            QFile::remove(Path("one/") + old);
        QFile::copy(Path(QStringLiteral("decoded/%1.png").arg(row.source)), Path("one/x.png"));
        app::TBatchSettings same = settings;
        same.format = QString::fromLatin1(row.asFormat);
        ASSERT_EQ(RunOver(Path("one"), same), 1);
        EXPECT_EQ(ReadFile(Path("photos/") + row.output),
            ReadFile(Path("one/tn_x.") + QString::fromLatin1(row.asFormat)));
    }
    // Nothing else was written: one thumbnail per photo.
    EXPECT_EQ(QDir(Path("photos")).entryList(QDir::Files).size(), 12);
}

TEST_F(TPhotoBatch, WebpOutputWithMonoColorIsTransparentWhereTheBackgroundWas)
{
    WriteFile(Path("photos.png"), PatternPng(40, 30, false));
    app::TBatchSettings settings;
    settings.format = QStringLiteral("webp");
    settings.useMono = true;
    settings.mono = QStringLiteral("#203040");
    QStringList entries { Path("photos.png") };
    app::TBatchRun run([settings] { return settings; });
    ASSERT_EQ(app::RunBatch(run, entries), 1);
    const QString output = Path("tn_photos.webp");
    ASSERT_TRUE(QFile::exists(output));
    ASSERT_TRUE(RunTool("dwebp " + Q(output) + " -pam -o " + Q(Path("back.pam"))));
    const QByteArray pam = ReadFile(Path("back.pam"));
    const qsizetype data = pam.indexOf("ENDHDR\n") + 7;
    ASSERT_GT(data, 7);
    ASSERT_EQ(pam.size() - data, 40 * 30 * 4);
    // The tint's background is the top-left colour's; the transparent colour is the
    // bottom-left pixel's, as for a PNG.
    const imaging::TBitmap tinted = *run.WorkPicture().Bitmap();
    const imaging::TRgb key = tinted.PixelColor(0, 29);
    int transparent = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const auto alpha = static_cast<std::uint8_t>(pam[data + (y * 40 + x) * 4 + 3]);
            EXPECT_EQ(alpha, tinted.PixelColor(x, y) == key ? 0 : 255) << x << "," << y;
            transparent += alpha == 0;
        }
    EXPECT_GT(transparent, 0);
    EXPECT_LT(transparent, 40 * 30);
}

TEST_F(TPhotoBatch, UprightTurnsWebpAndTiffByTheirOrientationTags)
{
    imaging::TBitmap bitmap(40, 20, 24);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            std::memcpy(bitmap.ScanLine(y) + 3 * x, x < 20 ? "\0\0\xFF" : "\xFF\0\0", 3);
    WriteTiff(Path("t.tif"), bitmap, 6);
    WriteFile(Path("w.png"), PatternPng(40, 20, false));
    ASSERT_TRUE(RunTool("cwebp -q 90 " + Q(Path("w.png")) + " -o " + Q(Path("plain.webp"))));
    const QByteArray exif("II\x2A\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
    WriteFile(Path("exif.bin"), exif);
    ASSERT_TRUE(RunTool("webpmux -set exif " + Q(Path("exif.bin")) + " " + Q(Path("plain.webp"))
        + " -o " + Q(Path("w.webp"))));

    for (const bool upright : { true, false }) {
        SCOPED_TRACE(upright ? "upright" : "as stored");
        app::TBatchSettings settings;
        settings.upright = upright;
        settings.format = QStringLiteral("png");
        settings.namex = upright ? QStringLiteral("up_") : QStringLiteral("as_");
        app::TBatchRun run([settings] { return settings; });
        ASSERT_EQ(app::RunBatch(run, { Path("t.tif"), Path("w.webp") }), 2);
        for (const char* name : { "t", "w" }) {
            const imaging::TBitmap out
                = Loaded(Path(settings.namex + QString::fromLatin1(name) + ".png"));
            EXPECT_EQ(out.Width(), upright ? 20 : 40) << name;
            EXPECT_EQ(out.Height(), upright ? 40 : 20) << name;
        }
        // Orientation 6: the stored left half (red) shows on top once upright.
        const imaging::TBitmap tiff = Loaded(Path(settings.namex + "t.png"));
        EXPECT_EQ(tiff.PixelColor(10, 5), (imaging::TRgb { 0, 0, 255 }));
        EXPECT_EQ(
            tiff.PixelColor(upright ? 10 : 30, upright ? 35 : 10), (imaging::TRgb { 255, 0, 0 }));
    }
}

} // namespace
