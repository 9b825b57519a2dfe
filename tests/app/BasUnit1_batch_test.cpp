// The batch run on real files: output names, writers, the tint's mark, failures mid-run.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/BasUnit1_batch.h"
#include "app/picture_save.h"
#include "imaging/imagefiles.h"
#include "platform/platform_fs.h"

using namespace parvula;
using parvula::app::TBatchSettings;

namespace {

imaging::TBitmap Gradient(int w, int h)
{
    imaging::TBitmap bmp(w, h, 24);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(x * 255 / std::max(1, w - 1));
            row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / std::max(1, h - 1));
            row[3 * x + 2] = 200;
        }
    }
    return bmp;
}

// Writes a w × h picture in the format its extension names.
void MakeImage(const QString& path, int w = 40, int h = 30)
{
    imaging::TPicture picture;
    picture.Assign(Gradient(w, h));
    const QString ext = QFileInfo(path).suffix().toLower();
    const auto target = platform::ToPath(path);
    if (ext == "jpg" || ext == "jpeg") {
        auto encoded = imaging::EncodeJpeg(picture, target, 90);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(encoded->bytes.data()),
            static_cast<qint64>(encoded->bytes.size()));
    } else if (ext == "png") {
        ASSERT_TRUE(app::SaveAsPng(picture, target));
    } else if (ext == "gif") {
        ASSERT_TRUE(app::SaveAsGif(picture, target));
    } else {
        ASSERT_TRUE(app::SaveByExtension(picture, target));
    }
    ASSERT_TRUE(QFile::exists(path)) << path.toStdString();
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString Magic(const QString& path)
{
    const QByteArray b = ReadAll(path);
    if (b.startsWith("\xFF\xD8"))
        return "jpg";
    if (b.startsWith("\x89PNG"))
        return "png";
    if (b.startsWith("GIF8"))
        return "gif";
    if (b.startsWith("BM"))
        return "bmp";
    return "?";
}

QStringList Entries(const QString& dir)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.sort();
    return names;
}

struct TBatchFixture : ::testing::Test {
    QTemporaryDir dir;
    TBatchSettings settings;
    QString Path(const QString& name) const { return dir.path() + "/" + name; }
    QString Run(const QString& source)
    {
        app::TBatchRun run([this] { return settings; });
        return run.MakeOutputFile(source);
    }
};

} // namespace

TEST(CleanFileName, KeepsEveryCharacterButTheForbiddenOnes)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        { "a  b ", "a b" }, // two spaces fold to one, the trailing one goes
        { "a:b_holiday", "a b_holiday" },
        { "a<>b", "a b" }, // two replacements in a row fold once
        { "a<>?b", "a  b" }, // three become two: one pass, left to right
        { "a<>?|b", "a  b" }, // four become two
        { "x\ty", "x y" },
        { "  lead", "lead" },
        { "tn_\xE7\x85\xA7\xE7\x89\x87", "tn_\xE7\x85\xA7\xE7\x89\x87" }, // kept whole
        { "caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC" },
        { "\"*/:<>?\\|", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::CleanFileName(QString::fromUtf8(c.in), " "), QString::fromUtf8(c.out))
            << c.in;
}

TEST_F(TBatchFixture, NamingTableWritesEachFormatWithItsWriter)
{
    const struct {
        const char* source;
        const char* namex;
        const char* format;
        const char* output;
        const char* magic;
    } rows[] = {
        { "photo.JPEG", "tn_", "", "tn_photo.jpg", "jpg" },
        { "photo.png", "tn_", "jpg", "tn_photo.jpg", "jpg" },
        { "photo.jpg", "tn_", "bmp", "tn_photo.bmp", "bmp" },
        { "photo.gif", "tn_", "", "tn_photo.gif", "gif" },
        { "photo.jpg", "_tn", "", "photo_tn.jpg", "jpg" },
        { "photo.jpg", "x", "", "photox.jpg", "jpg" },
        { "photo.jpg", "_", "", "_photo.jpg", "jpg" },
        { "photo.jpg", "a:b_", "", "a b_photo.jpg", "jpg" },
        { "holiday.2014.png", "tn_", "png", "tn_holiday.2014.png", "png" },
        { "icon.ico", "tn_", "png", "tn_icon.png", "png" },
    };
    for (const auto& row : rows) {
        QTemporaryDir rowDir;
        const QString source = rowDir.path() + "/" + row.source;
        if (QString(row.source).endsWith(".ico")) {
            // A bitmap saved under .ico is BMP data, which the icon reader does not take;
            // make a real icon from a PNG-in-ICO instead.
            imaging::TPicture p;
            p.Assign(Gradient(16, 16));
            auto png = imaging::EncodePng(p, "x.png");
            QByteArray ico("\0\0\1\0\1\0", 6);
            ico += QByteArray("\x10\x10\0\0\1\0\x20\0", 8);
            const quint32 size = static_cast<quint32>(png->bytes.size());
            ico += QByteArray(reinterpret_cast<const char*>(&size), 4);
            const quint32 offset = 22;
            ico += QByteArray(reinterpret_cast<const char*>(&offset), 4);
            ico += QByteArray(reinterpret_cast<const char*>(png->bytes.data()), size);
            QFile f(source);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(ico);
        } else {
            MakeImage(source);
        }
        settings.namex = row.namex;
        settings.format = row.format;
        settings.width = 20;
        settings.filter = 2;
        app::TBatchRun run([this] { return settings; });
        const QString out = run.MakeOutputFile(source);
        EXPECT_EQ(out, rowDir.path() + "/" + row.output) << row.source << " " << row.namex;
        EXPECT_EQ(Magic(out), row.magic) << row.output;
        imaging::TPicture back;
        imaging::LoadFromFile(back, platform::ToPath(out));
        EXPECT_EQ(back.Width(), 20) << row.output;
        // 40 × 30 sources become 20 × 15; the 16 × 16 icon becomes 20 × 20.
        EXPECT_EQ(back.Height(), QString(row.source).endsWith(".ico") ? 20 : 15) << row.output;
    }
}

TEST_F(TBatchFixture, JpegOutputUsesTheQualitySetting)
{
    // Nothing to fit: at quality 100 the stored bytes are written, below that the picture is
    // encoded anew, so the quality setting reaches the JPEG writer.
    MakeImage(Path("photo.jpg"));
    settings.jpgQual = 100;
    EXPECT_EQ(ReadAll(Run(Path("photo.jpg"))), ReadAll(Path("photo.jpg")));
    settings.jpgQual = 50;
    const QString out = Run(Path("photo.jpg"));
    EXPECT_EQ(out, Path("tn_photo_1.jpg"));
    EXPECT_NE(ReadAll(out), ReadAll(Path("photo.jpg")));
}

TEST_F(TBatchFixture, NumberedCandidatesSkipEveryTakenName)
{
    MakeImage(Path("photo.jpg"));
    QFile(Path("tn_photo.jpg")).open(QIODevice::WriteOnly);
    QFile(Path("tn_photo_1.jpg")).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(Path("nowhere"), Path("tn_photo_2.jpg"))); // dangling: still taken
    EXPECT_EQ(Run(Path("photo.jpg")), Path("tn_photo_3.jpg"));
    EXPECT_FALSE(QFile::exists(Path("nowhere"))) << "the dangling link was followed";
    EXPECT_EQ(ReadAll(Path("tn_photo.jpg")).size(), 0);
}

TEST_F(TBatchFixture, EmptyPrefixAndFormatNeverTouchTheSource)
{
    MakeImage(Path("photo.jpg"));
    const QByteArray before = ReadAll(Path("photo.jpg"));
    settings.namex.clear();
    EXPECT_EQ(Run(Path("photo.jpg")), Path("photo_1.jpg"));
    EXPECT_EQ(ReadAll(Path("photo.jpg")), before);
}

TEST_F(TBatchFixture, DoubledBlanksFoldInEveryCandidate)
{
    MakeImage(Path("my  photo.png"));
    EXPECT_EQ(Run(Path("my  photo.png")), Path("tn_my photo.png"));
    EXPECT_EQ(Run(Path("my  photo.png")), Path("tn_my photo_1.png"));
}

TEST_F(TBatchFixture, NonLatinNamesAreKeptWhole)
{
    const QString source = Path(QString::fromUtf8("\xE7\x85\xA7\xE7\x89\x87.png"));
    MakeImage(source);
    settings.format = "jpg";
    EXPECT_EQ(Run(source), Path(QString::fromUtf8("tn_\xE7\x85\xA7\xE7\x89\x87.jpg")));
    EXPECT_EQ(Run(source), Path(QString::fromUtf8("tn_\xE7\x85\xA7\xE7\x89\x87_1.jpg")));
}

TEST_F(TBatchFixture, MonoColorMarksPngAndGifAndTintsEveryFormat)
{
    MakeImage(Path("photo.png"));
    settings.useMono = true;
    settings.mono = "#FF0000";
    settings.width = 20;
    settings.filter = 1;

    // The transparency mark shows as a tRNS chunk (PNG) or a graphic control extension (GIF).
    settings.format = "png";
    EXPECT_TRUE(ReadAll(Run(Path("photo.png"))).contains("tRNS"));
    settings.format = "gif";
    const QByteArray gif = ReadAll(Run(Path("photo.png")));
    EXPECT_TRUE(gif.startsWith("GIF89a"));
    settings.format = "bmp";
    const QString bmpPath = Run(Path("photo.png"));
    imaging::TPicture bmp;
    imaging::LoadFromFile(bmp, platform::ToPath(bmpPath));
    ASSERT_NE(bmp.Bitmap(), nullptr);
    EXPECT_FALSE(bmp.Bitmap()->Transparent());
    // Two colours only: the background and pure red.
    bool sawRed = false;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) {
            const imaging::TRgb c = bmp.Bitmap()->PixelColor(x, y);
            const imaging::TRgb bg = bmp.Bitmap()->PixelColor(0, 0);
            const bool red = c.r == 255 && c.g == 0 && c.b == 0;
            sawRed = sawRed || red;
            EXPECT_TRUE(red || c == bg);
        }
    EXPECT_TRUE(sawRed);

    settings.format = "jpg";
    const QString jpg = Run(Path("photo.png"));
    imaging::TPicture j;
    imaging::LoadFromFile(j, platform::ToPath(jpg));
    imaging::ConvertPictureToBitmap(j);
    const imaging::TRgb far = j.Bitmap()->PixelColor(j.Width() - 1, j.Height() - 1);
    EXPECT_GT(far.r, 200); // the far corner differs from the background: tinted red
    EXPECT_LT(far.g, 60);
}

TEST_F(TBatchFixture, MonoColorWithoutCodeMarksWithoutTinting)
{
    MakeImage(Path("photo.png"));
    settings.useMono = true;
    settings.mono.clear();
    settings.format = "png";
    settings.width = 20;
    settings.filter = 1;
    const QString out = Run(Path("photo.png"));
    EXPECT_TRUE(ReadAll(out).contains("tRNS"));
    imaging::TPicture back;
    imaging::LoadFromFile(back, platform::ToPath(out));
    imaging::TBitmap white(back.Width(), back.Height(), 24);
    white.Fill({ 255, 255, 255 });
    back.DrawOnto(white);
    // Not tinted: more than two colours remain.
    QSet<quint32> colours;
    for (int y = 0; y < white.Height(); ++y)
        for (int x = 0; x < white.Width(); ++x) {
            const auto c = white.PixelColor(x, y);
            colours.insert(c.r << 16 | c.g << 8 | c.b);
        }
    EXPECT_GT(colours.size(), 2);
}

TEST_F(TBatchFixture, AFailureEndsTheRunAtThatFileAndKeepsTheFilesBefore)
{
    QStringList entries;
    for (const char* name : { "a.png", "b.png", "c.png", "d.png", "e.png" })
        entries << Path(name);
    for (const QString& e : entries)
        MakeImage(e);
    QFile broken(entries[2]);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("not a png at all");
    broken.close();

    app::TBatchRun run([this] { return settings; });
    int progressCalls = 0;
    EXPECT_THROW(
        app::RunBatch(run, entries, [&](int, const QString&, const QString&) { ++progressCalls; }),
        std::exception);
    EXPECT_EQ(progressCalls, 2);
    const QStringList outputs = Entries(dir.path()).filter("tn_");
    EXPECT_EQ(outputs, (QStringList { "tn_a.png", "tn_b.png" }));
    for (const QString& name : Entries(dir.path()))
        EXPECT_FALSE(name.startsWith('.')) << "temporary file left: " << name.toStdString();
}

TEST_F(TBatchFixture, EmptyListCreatesNothing)
{
    app::TBatchRun run([this] { return settings; });
    EXPECT_EQ(app::RunBatch(run, {}), 0);
    EXPECT_TRUE(Entries(dir.path()).isEmpty());
}

TEST_F(TBatchFixture, SettingsAreReadAnewForEveryFile)
{
    MakeImage(Path("a.png"));
    MakeImage(Path("b.png"));
    int calls = 0;
    app::TBatchRun run([&] {
        TBatchSettings s = settings;
        s.format = ++calls == 1 ? "bmp" : "gif";
        return s;
    });
    EXPECT_EQ(app::RunBatch(run, { Path("a.png"), Path("b.png") }), 2);
    EXPECT_TRUE(QFile::exists(Path("tn_a.bmp")));
    EXPECT_TRUE(QFile::exists(Path("tn_b.gif")));
}

TEST(PublishNoReplace, NeverReplacesAnEntryNotEvenADanglingLink)
{
    QTemporaryDir dir;
    const QString from = dir.path() + "/.tmp";
    const QString to = dir.path() + "/out.jpg";
    QFile f(from);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("new");
    f.close();
    ASSERT_TRUE(QFile::link(dir.path() + "/target-of-link", to));
    EXPECT_EQ(platform::PublishNoReplace(from, to), platform::TPublishResult::NameTaken);
    EXPECT_FALSE(QFile::exists(dir.path() + "/target-of-link"));
    EXPECT_TRUE(QFile::exists(from));
    EXPECT_EQ(platform::PublishNoReplace(from, dir.path() + "/free.jpg"),
        platform::TPublishResult::Published);
    EXPECT_FALSE(QFile::exists(from));
    EXPECT_EQ(ReadAll(dir.path() + "/free.jpg"), QByteArray("new"));
}
