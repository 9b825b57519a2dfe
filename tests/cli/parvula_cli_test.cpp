// parvula-cli end to end: a real process on a real folder tree, outputs decoded and checked.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "cli/cli_options.h"
#include "imaging/imagefiles.h"
#include "platform/platform_fs.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

using namespace parvula;

namespace {

struct TResult {
    int exitCode = -1;
    QString out;
    QString err;
};

class TCli : public ::testing::Test {
protected:
    QTemporaryDir home;
    QTemporaryDir tree;

    TResult Run(const QStringList& arguments, const QString& libraryPath = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!libraryPath.isEmpty())
            env.insert("LD_LIBRARY_PATH", libraryPath);
        // The settings file is looked up under the configuration folder: keep it in the test's.
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(tree.path());
        process.start(QStringLiteral(PARVULA_BIN_DIR "/parvula-cli"), arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        TResult r;
        r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        r.out = QString::fromUtf8(process.readAllStandardOutput());
        r.err = QString::fromUtf8(process.readAllStandardError());
        return r;
    }

    void MakeImage(const QString& relative, int w, int h)
    {
        const QString path = tree.path() + "/" + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        imaging::TBitmap bmp(w, h, 24);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::uint8_t* p = bmp.ScanLine(y) + 3 * x;
                p[0] = static_cast<std::uint8_t>(x * 7);
                p[1] = static_cast<std::uint8_t>(y * 5);
                p[2] = static_cast<std::uint8_t>(x + y);
            }
        imaging::TPicture picture;
        picture.Assign(std::move(bmp));
        const QString ext = QFileInfo(path).suffix();
        std::optional<imaging::TEncodedFile> encoded;
        if (ext == "jpg")
            encoded = imaging::EncodeJpeg(picture, "x.jpg", 90);
        else if (ext == "png" || ext == "ico")
            encoded = imaging::EncodePng(picture, "x.png");
        else if (ext == "gif")
            encoded = imaging::EncodeGif(picture, "x.gif");
        else
            encoded = imaging::EncodeBmp(picture, "x.bmp");
        QByteArray bytes(reinterpret_cast<const char*>(encoded->bytes.data()),
            static_cast<qsizetype>(encoded->bytes.size()));
        if (ext == "ico") {
            // One PNG image inside an icon directory.
            QByteArray ico("\0\0\1\0\1\0", 6);
            ico += char(w) + QByteArray(1, char(h)) + QByteArray("\0\0\1\0\x20\0", 6);
            const quint32 size = static_cast<quint32>(bytes.size());
            const quint32 offset = 22;
            ico += QByteArray(reinterpret_cast<const char*>(&size), 4);
            ico += QByteArray(reinterpret_cast<const char*>(&offset), 4);
            bytes = ico + bytes;
        }
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QStringList Files() const
    {
        QStringList files;
        QDirIterator it(tree.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(tree.path()).relativeFilePath(it.next());
        files.sort();
        return files;
    }

    QByteArray Bytes(const QString& relative) const
    {
        QFile f(tree.path() + "/" + relative);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void ExpectImage(const QString& relative, imaging::TGraphicKind kind, int w, int h)
    {
        imaging::TPicture p;
        ASSERT_NO_THROW(imaging::LoadFromFile(p, platform::ToPath(tree.path() + "/" + relative)))
            << relative.toStdString();
        EXPECT_EQ(p.Kind(), kind) << relative.toStdString();
        EXPECT_EQ(p.Width(), w) << relative.toStdString();
        EXPECT_EQ(p.Height(), h) << relative.toStdString();
    }
};

} // namespace

TEST_F(TCli, EveryInputFormatGetsItsThumbnailAndASecondRunNumbersThem)
{
    MakeImage("a.bmp", 64, 32);
    MakeImage("b.jpg", 48, 64);
    MakeImage("sub/c.png", 40, 40);
    MakeImage("sub/deeper/d.gif", 100, 50);
    MakeImage("sub/e.ico", 32, 32);
    MakeImage("sub/.hidden.png", 10, 10);
    QFile(tree.path() + "/notes.txt").open(QIODevice::WriteOnly);

    const TResult first = Run({ "--width", "16", "--height", "16", "--filter", "Lanczos3", "." });
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_TRUE(first.out.endsWith("Created: 5\n")) << first.out.toStdString();
    EXPECT_TRUE(first.err.isEmpty()) << first.err.toStdString();
    ExpectImage("tn_a.bmp", imaging::TGraphicKind::Bitmap, 16, 8);
    ExpectImage("tn_b.jpg", imaging::TGraphicKind::Jpeg, 12, 16);
    ExpectImage("sub/tn_c.png", imaging::TGraphicKind::Png, 16, 16);
    ExpectImage("sub/deeper/tn_d.gif", imaging::TGraphicKind::Gif, 16, 8);
    // A fitted icon is a bitmap, written as BMP data under the icon's own extension.
    EXPECT_TRUE(Bytes("sub/tn_e.ico").startsWith("BM"));
    EXPECT_FALSE(Files().contains("sub/tn_.hidden.png"));

    const QStringList afterFirst = Files();
    QMap<QString, QByteArray> before;
    for (const QString& f : afterFirst)
        before[f] = Bytes(f);

    // tn_e.ico holds BMP data, which the icon reader refuses: leave that folder out.
    const TResult second = Run(
        { "--width", "16", "--height", "16", "--filter", "6", "a.bmp", "b.jpg", "sub/deeper" });
    ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
    // The first run's outputs are inputs now too: they get thumbnails of their own, and every
    // name already there is passed over.
    for (const QString& f : afterFirst)
        EXPECT_EQ(Bytes(f), before[f]) << "overwritten: " << f.toStdString();
    EXPECT_TRUE(Files().contains("tn_a_1.bmp"));
    EXPECT_TRUE(Files().contains("sub/deeper/tn_d_1.gif"));
    EXPECT_TRUE(Files().contains("sub/deeper/tn_tn_d.gif"));
}

TEST_F(TCli, DryRunPlansDistinctNamesAndWritesNothing)
{
    MakeImage("photo.png", 8, 8);
    MakeImage("photo.bmp", 8, 8);
    const QStringList before = Files();
    const TResult r = Run({ "--dry-run", "--format", "jpg", "photo.png", "photo.bmp" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Files(), before);
    // Both would be tn_photo.jpg; the second is planned under the next free name.
    EXPECT_TRUE(r.out.contains("photo.bmp -> " + tree.path() + "/tn_photo.jpg"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("photo.png -> " + tree.path() + "/tn_photo_1.jpg"));
}

TEST_F(TCli, UsageErrorsExitWithTwoAndTouchNothing)
{
    MakeImage("photo.png", 8, 8);
    const QStringList before = Files();
    for (const QStringList& args : { QStringList { "--filter", "sharp", "photo.png" },
             QStringList { "--quality", "5", "photo.png" },
             QStringList { "--width", "ten", "photo.png" }, QStringList { "--bogus", "photo.png" },
             QStringList { "--width" }, QStringList {}, QStringList { "missing.png" },
             QStringList { "--profile", "Nope", "photo.png" } }) {
        const TResult r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty()) << args.join(' ').toStdString();
    }
    EXPECT_EQ(Files(), before);
}

TEST_F(TCli, AFailingFileEndsTheRunWithOneAndKeepsTheFilesBefore)
{
    MakeImage("a.png", 8, 8);
    MakeImage("c.png", 8, 8);
    QFile broken(tree.path() + "/b.png");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\x89PNG\r\n\x1a\n truncated");
    broken.close();
    const TResult r = Run({ "." });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.isEmpty());
    EXPECT_FALSE(r.out.contains("Created:"));
    EXPECT_EQ(Files(), (QStringList { "a.png", "b.png", "c.png", "tn_a.png" }));
}

// libheif and libavif are opened when the first such file is read: where either cannot be, the
// run ends on that file with a German text naming the library, and the files before it stay.
TEST_F(TCli, APhotoWhoseLibraryIsMissingEndsTheRunNamingTheLibrary)
{
    MakeImage("a.png", 8, 8);
    const QString dir = tree.path() + "/";
    // Enough of an ISO base media file to reach the library: a box whose type is "ftyp".
    const QByteArray ftyp("\0\0\0\x18"
                          "ftypheic\0\0\0\0mif1heic",
        24);
    for (const auto& [name, format, library] :
        { std::tuple { "b.heic", "HEIF", PARVULA_LIBHEIF_FILE },
            std::tuple { "b.avif", "AVIF", PARVULA_LIBAVIF_FILE } }) {
        SCOPED_TRACE(name);
        QFile photo(dir + name);
        ASSERT_TRUE(photo.open(QIODevice::WriteOnly));
        photo.write(ftyp);
        photo.close();
        const TResult r = Run({ "." }, PARVULA_CODEC_STAND_INS_DIR);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err,
            QString("%1: \"%2\" kann nicht gelesen werden, denn die Bibliothek %3 fehlt.\n")
                .arg(format, dir + name, library));
        EXPECT_TRUE(QFile::exists(dir + "tn_a.png"));
        QFile::remove(dir + "tn_a.png");
        QFile::remove(dir + name);
    }
}

TEST_F(TCli, ProfileAndLastSettingsComeFromTheWindowsSettingsFile)
{
    MakeImage("photo.png", 40, 20);
    QDir().mkpath(home.path() + "/.config/Parvula");
    QFile ini(home.path() + "/.config/Parvula/parvula.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[df]\r\nWidth=10\r\nFormat=gif\r\n[Profil_Small]\r\nWidth=20\r\nNamex=_small\r\n"
              "Filter=lanczos3\r\nFormat=BMP\r\n[Profil_Web]\r\nWidth=16\r\nFormat=webp\r\n");
    ini.close();
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray iniBefore = ini.readAll();
    ini.close();

    TResult r = Run({ "--profile", "small", "photo.png" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ExpectImage("photo_small.bmp", imaging::TGraphicKind::Bitmap, 20, 10);

    // WebP is stored like the other output formats.
    r = Run({ "--profile", "Web", "photo.png" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ExpectImage("tn_photo.webp", imaging::TGraphicKind::Webp, 16, 8);

    r = Run({ "--last", "--height", "4", "photo.png" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Width 10 and height 4: the box is wider than the picture, so the height decides.
    ExpectImage("tn_photo.gif", imaging::TGraphicKind::Gif, 8, 4);

    QFile again(ini.fileName());
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), iniBefore) << "the settings file was written";
}

TEST(CliOptions, FiltersByNameOrIndexAndTheAffixRule)
{
    EXPECT_EQ(cli::FilterIndexOf("B-SPLINE"), 5);
    EXPECT_EQ(cli::FilterIndexOf("none"), 0);
    EXPECT_EQ(cli::FilterIndexOf("7"), 7);
    EXPECT_EQ(cli::FilterIndexOf("8"), -1);
    EXPECT_EQ(cli::FilterIndexByName("3"), -1);
    const cli::TCliOptions o = cli::ParseArguments({ "--format", "", "--mono", "", "--affix", "_x",
        "--no-upright", "--shrink-only", "--", "--a.png" });
    EXPECT_EQ(o.overrides.upright, false);
    EXPECT_EQ(o.overrides.shrinkOnly, true);
    EXPECT_EQ(o.paths, QStringList { "--a.png" });
    EXPECT_EQ(o.overrides.format, QString());
    EXPECT_EQ(o.overrides.useMono, true);
    EXPECT_EQ(o.overrides.mono, QString());
}

TEST_F(TCli, AnOutputFolderKeepsTheTreeOfEachFolderGivenAndComesFromProfilesToo)
{
    MakeImage("Trip/day1/a.png", 8, 6);
    MakeImage("Trip/day2/b.png", 8, 6);
    MakeImage("single.png", 8, 6);
    // Planned first: the paths as they would be, nothing written, no folder made.
    TResult r = Run({ "--dry-run", "--output-dir", "Thumbs", "Trip", "single.png" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(
        tree.path() + "/Trip/day1/a.png -> " + tree.path() + "/Thumbs/Trip/day1/tn_a.png"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("single.png -> " + tree.path() + "/Thumbs/tn_single.png"));
    EXPECT_FALSE(QFileInfo::exists(tree.path() + "/Thumbs"));

    // Relative to the current folder (the tree), made as needed.
    r = Run({ "--output-dir", "Thumbs", "Trip", "single.png" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Files(),
        (QStringList { "Thumbs/Trip/day1/tn_a.png", "Thumbs/Trip/day2/tn_b.png",
            "Thumbs/tn_single.png", "Trip/day1/a.png", "Trip/day2/b.png", "single.png" }));

    // A profile's output folder; the option with an empty value writes beside the source.
    QDir().mkpath(home.path() + "/.config/Parvula");
    QFile ini(home.path() + "/.config/Parvula/parvula.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Profil_Out]\r\nOutDir=" + (tree.path() + "/elsewhere").toUtf8() + "\r\n");
    ini.close();
    r = Run({ "--profile", "Out", "single.png" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(tree.path() + "/elsewhere/tn_single.png"));
    r = Run({ "--profile", "Out", "--output-dir", "", "single.png" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(tree.path() + "/tn_single.png"));

    // An output folder that cannot be made fails at the first file with its message.
    r = Run({ "--output-dir", "single.png/sub", "Trip" });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(tree.path() + "/single.png/sub")) << r.err.toStdString();
}

TEST(CliOptions, ColoursMetadataAndKeepDatesTakeTheirChoicesAndRefuseOthers)
{
    const cli::TCliOptions none = cli::ParseArguments({ "a.png" });
    EXPECT_FALSE(none.overrides.coloursAsStored.has_value());
    EXPECT_FALSE(none.overrides.metadata.has_value());
    EXPECT_FALSE(none.overrides.keepDates.has_value());

    const struct {
        QStringList args;
        std::optional<bool> asStored;
        std::optional<imaging::TMetadataCopy> metadata;
    } accepted[] = {
        { { "--colours", "srgb" }, false, {} },
        { { "--colours", "As-Stored" }, true, {} },
        { { "--metadata", "none" }, {}, imaging::TMetadataCopy::None },
        { { "--metadata", "all" }, {}, imaging::TMetadataCopy::All },
        { { "--metadata", "NO-LOCATION" }, {}, imaging::TMetadataCopy::NoLocation },
    };
    for (const auto& c : accepted) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const cli::TCliOptions o
            = cli::ParseArguments(c.args + QStringList { "--keep-dates", "a" });
        EXPECT_EQ(o.overrides.coloursAsStored, c.asStored);
        EXPECT_EQ(o.overrides.metadata, c.metadata);
        EXPECT_EQ(o.overrides.keepDates, true);
    }
    EXPECT_EQ(
        cli::ParseArguments({ "--keep-dates", "--no-keep-dates", "a" }).overrides.keepDates, false);
    for (const QStringList& args :
        { QStringList { "--colours", "adobe", "a" }, QStringList { "--metadata", "gps", "a" },
            QStringList { "--metadata", "", "a" }, QStringList { "--colours" } }) {
        SCOPED_TRACE(args.join(' ').toStdString());
        try {
            cli::ParseArguments(args);
            ADD_FAILURE() << "accepted";
        } catch (const errors::EError& e) {
            EXPECT_TRUE(errors::IsUsageError(e.Code()));
        }
    }
}

TEST_F(TCli, MetadataAndKeptDatesComeFromProfilesAndOptions)
{
    MakeImage("photo.jpg", 40, 20);
    const QString photo = tree.path() + "/photo.jpg";
    {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(photo.toStdString());
        image->readMetadata();
        image->exifData()["Exif.Image.Make"] = "Parvula Test Camera";
        image->exifData()["Exif.GPSInfo.GPSLatitudeRef"] = "N";
        image->writeMetadata();
    }
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    std::filesystem::last_write_time(platform::ToPath(photo), old);
    QDir().mkpath(home.path() + "/.config/Parvula");
    QFile ini(home.path() + "/.config/Parvula/parvula.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Profil_Share]\r\nWidth=20\r\nMetadata=All But Location\r\nKeepDates=1\r\n"
              "ColoursAsStored=1\r\n");
    ini.close();

    const auto readBack = [&](const QString& relative) {
        Exiv2::Image::AutoPtr image
            = Exiv2::ImageFactory::open((tree.path() + "/" + relative).toStdString());
        image->readMetadata();
        return image->exifData();
    };
    const auto age = [&](const QString& relative) {
        const auto written
            = std::filesystem::last_write_time(platform::ToPath(tree.path() + "/" + relative));
        return std::chrono::duration_cast<std::chrono::seconds>(written - old).count();
    };

    TResult r = Run({ "--profile", "Share", "photo.jpg" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    Exiv2::ExifData exif = readBack("tn_photo.jpg");
    EXPECT_NE(exif.findKey(Exiv2::ExifKey("Exif.Image.Make")), exif.end());
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitudeRef")), exif.end());
    EXPECT_EQ(age("tn_photo.jpg"), 0);

    r = Run({ "--profile", "Share", "--metadata", "all", "photo.jpg" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    exif = readBack("tn_photo_1.jpg");
    EXPECT_NE(exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitudeRef")), exif.end());

    // Without a profile: the defaults, nothing copied and a new date.
    r = Run({ "--width", "20", "photo.jpg" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(readBack("tn_photo_2.jpg").empty());
    EXPECT_GT(age("tn_photo_2.jpg"), 3600);
}

TEST_F(TCli, PhotoFormatsAreTakenAndWebpIsWritten)
{
    for (const char* tool : { "cwebp", "heif-enc", "avifenc" })
        if (std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) != 0)
            GTEST_SKIP() << tool << " is not installed";
    MakeImage("source.png", 64, 32);
    const QString dir = tree.path() + "/";
    const auto make = [&](const QString& command) {
        return std::system((command + " >/dev/null 2>&1").toLocal8Bit().constData()) == 0;
    };
    QDir().mkpath(dir + "photos");
    ASSERT_TRUE(make("cwebp -q 80 '" + dir + "source.png' -o '" + dir + "photos/w.webp'"));
    ASSERT_TRUE(make("heif-enc -q 60 '" + dir + "source.png' -o '" + dir + "photos/h.HEIC'"));
    ASSERT_TRUE(make("avifenc -s 10 '" + dir + "source.png' '" + dir + "photos/a.avif'"));

    // The source's own format: HEIC and AVIF photos are planned as JPEG.
    const TResult plan = Run({ "--dry-run", "photos" });
    ASSERT_EQ(plan.exitCode, 0) << plan.err.toStdString();
    EXPECT_TRUE(plan.out.contains("h.HEIC -> " + dir + "photos/tn_h.jpg"))
        << plan.out.toStdString();
    EXPECT_TRUE(plan.out.contains("a.avif -> " + dir + "photos/tn_a.jpg"));
    EXPECT_TRUE(plan.out.contains("w.webp -> " + dir + "photos/tn_w.webp"));

    const TResult r
        = Run({ "--width", "16", "--filter", "lanczos3", "--format", "WebP", "photos" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith("Created: 3\n")) << r.out.toStdString();
    for (const char* name : { "photos/tn_a.webp", "photos/tn_h.webp", "photos/tn_w.webp" })
        ExpectImage(name, imaging::TGraphicKind::Webp, 16, 8);

    // A damaged photo ends the run with its German message naming the file, no library's text.
    QFile cut(dir + "photos/tn_h.webp");
    ASSERT_TRUE(cut.open(QIODevice::ReadWrite));
    cut.resize(cut.size() / 2);
    cut.close();
    const TResult broken = Run({ "photos/tn_h.webp" });
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_EQ(
        broken.err, "WebP: \"" + dir + "photos/tn_h.webp\" ist beschädigt oder unvollständig.\n");

    const TResult help = Run({ "--help" });
    EXPECT_TRUE(help.out.contains("heic, heif, avif, webp, tif, tiff")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("bmp, jpg, png, gif, webp"));
}
