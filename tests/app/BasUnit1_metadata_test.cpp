// The source's metadata in the run's outputs (none, all, all but location), read back with
// exiv2, and the outputs' dates kept from their sources.
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include "app/BasUnit1_batch.h"
#include "imaging/imagefiles.h"
#include "platform/platform_fs.h"
#include "platform/platform_publish.h"

using namespace parvula;
using imaging::TMetadataCopy;

namespace {

std::vector<std::uint8_t> JpegOf(int width, int height)
{
    imaging::TBitmap bmp(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = bmp.ScanLine(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x * 4);
            p[1] = static_cast<std::uint8_t>(y * 5);
            p[2] = 128;
        }
    imaging::TPicture picture;
    picture.Assign(std::move(bmp));
    return imaging::EncodeJpeg(picture, "x.jpg", 90)->bytes;
}

// A 64 × 48 camera photo held sideways (orientation 6) with what cameras and editors write:
// date taken, camera, copyright, GPS, a thumbnail, XMP and IPTC with places in them.
std::vector<std::uint8_t> CameraPhoto()
{
    const std::vector<std::uint8_t> plain = JpegOf(64, 48);
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(plain.data(), long(plain.size()));
    Exiv2::ExifData& exif = image->exifData();
    exif["Exif.Image.Make"] = "Parvula Test Camera";
    exif["Exif.Image.Model"] = "PT-1";
    exif["Exif.Image.Copyright"] = "(c) A. Photographer";
    exif["Exif.Image.Orientation"] = std::uint16_t(6);
    exif["Exif.Photo.DateTimeOriginal"] = "2021:06:05 14:03:02";
    exif["Exif.Photo.PixelXDimension"] = std::uint32_t(64);
    exif["Exif.Photo.PixelYDimension"] = std::uint32_t(48);
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    Exiv2::URationalValue latitude;
    latitude.read("46/1 57/1 0/1");
    exif["Exif.GPSInfo.GPSLatitude"] = latitude;
    exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
    exif["Exif.GPSInfo.GPSLongitude"] = latitude;
    const std::vector<std::uint8_t> thumb = JpegOf(16, 12);
    Exiv2::ExifThumb(exif).setJpegThumbnail(
        thumb.data(), long(thumb.size()), Exiv2::URational(72, 1), Exiv2::URational(72, 1), 2);

    Exiv2::XmpData& xmp = image->xmpData();
    xmp["Xmp.dc.rights"] = "XMP rights";
    xmp["Xmp.tiff.Orientation"] = "6";
    xmp["Xmp.photoshop.City"] = "Bern";
    xmp["Xmp.exif.GPSLatitude"] = "46,57.0N";
    Exiv2::XmpTextValue bag;
    bag.setXmpArrayType(Exiv2::XmpValue::xaBag);
    xmp.add(Exiv2::XmpKey("Xmp.iptcExt.LocationCreated"), &bag);
    xmp["Xmp.iptcExt.LocationCreated[1]/iptcExt:City"] = "Bern";

    Exiv2::IptcData& iptc = image->iptcData();
    iptc["Iptc.Application2.Byline"] = "A. Photographer";
    iptc["Iptc.Application2.City"] = "Bern";
    iptc["Iptc.Application2.CountryName"] = "Schweiz";
    image->writeMetadata();

    Exiv2::BasicIo& io = image->io();
    io.open();
    std::vector<std::uint8_t> bytes(io.size());
    io.read(bytes.data(), long(bytes.size()));
    io.close();
    return bytes;
}

struct TReadBack {
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    Exiv2::IptcData iptc;
    int width = 0;
    int height = 0;
    std::string Exif(const char* key) const
    {
        const auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? std::string() : it->toString();
    }
    std::string Xmp(const char* key) const
    {
        const auto it = xmp.findKey(Exiv2::XmpKey(key));
        return it == xmp.end() ? std::string() : it->toString();
    }
    std::string Iptc(const char* key) const
    {
        const auto it = iptc.findKey(Exiv2::IptcKey(key));
        return it == iptc.end() ? std::string() : it->toString();
    }
    bool HasKeyStartingWith(const std::string& start) const
    {
        for (const auto& d : exif)
            if (d.key().rfind(start, 0) == 0)
                return true;
        for (const auto& d : xmp)
            if (d.key().rfind(start, 0) == 0)
                return true;
        for (const auto& d : iptc)
            if (d.key().rfind(start, 0) == 0)
                return true;
        return false;
    }
    bool HasThumbnail() const { return Exiv2::ExifThumbC(exif).copy().size_ > 0; }
};

TReadBack ReadBack(const QString& path)
{
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path.toStdString());
    image->readMetadata();
    return { image->exifData(), image->xmpData(), image->iptcData(), image->pixelWidth(),
        image->pixelHeight() };
}

class MetadataTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    app::TBatchSettings settings;

    QString Write(const QString& name, const std::vector<std::uint8_t>& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        return path;
    }
    QString Run(const QString& source)
    {
        app::TBatchRun run([this] { return settings; });
        return run.MakeOutputFile(source);
    }
    static QByteArray Bytes(const QString& path)
    {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }
};

} // namespace

TEST_F(MetadataTest, JpegAndPngOutputsCarryAllButTheThumbnailOrAllButTheLocationOrNothing)
{
    const QString source = Write("photo.jpg", CameraPhoto());
    settings.width = 24; // turned upright first: 48 × 64, fitted into 24 × 32
    for (const char* format : { "jpg", "png" }) {
        for (const TMetadataCopy copy :
            { TMetadataCopy::None, TMetadataCopy::All, TMetadataCopy::NoLocation }) {
            SCOPED_TRACE(std::string(format) + " " + std::to_string(int(copy)));
            settings.format = QString::fromLatin1(format);
            settings.metadata = copy;
            const TReadBack out = ReadBack(Run(source));
            EXPECT_GT(out.height, out.width);
            EXPECT_EQ(out.height, 32);
            if (copy == TMetadataCopy::None) {
                EXPECT_TRUE(out.exif.empty());
                EXPECT_TRUE(out.xmp.empty());
                EXPECT_TRUE(out.iptc.empty());
                continue;
            }
            EXPECT_EQ(out.Exif("Exif.Photo.DateTimeOriginal"), "2021:06:05 14:03:02");
            EXPECT_EQ(out.Exif("Exif.Image.Make"), "Parvula Test Camera");
            EXPECT_EQ(out.Exif("Exif.Image.Model"), "PT-1");
            EXPECT_EQ(out.Exif("Exif.Image.Copyright"), "(c) A. Photographer");
            EXPECT_EQ(out.Xmp("Xmp.dc.rights"), "lang=\"x-default\" XMP rights");
            EXPECT_EQ(out.Iptc("Iptc.Application2.Byline"), "A. Photographer");
            // The picture was turned: a viewer must not turn it again.
            EXPECT_EQ(out.Exif("Exif.Image.Orientation"), "1");
            EXPECT_EQ(out.Xmp("Xmp.tiff.Orientation"), "1");
            EXPECT_FALSE(out.HasThumbnail()) << "the source's thumbnail shows the source";
            EXPECT_EQ(out.Exif("Exif.Photo.PixelXDimension"), "24");
            EXPECT_EQ(out.Exif("Exif.Photo.PixelYDimension"), "32");
            const bool location = copy == TMetadataCopy::All;
            EXPECT_EQ(out.HasKeyStartingWith("Exif.GPSInfo."), location);
            EXPECT_EQ(out.HasKeyStartingWith("Xmp.exif.GPS"), location);
            EXPECT_EQ(out.HasKeyStartingWith("Xmp.photoshop.City"), location);
            EXPECT_EQ(out.HasKeyStartingWith("Xmp.iptcExt.LocationCreated"), location);
            EXPECT_EQ(out.HasKeyStartingWith("Iptc.Application2.City"), location);
            EXPECT_EQ(out.HasKeyStartingWith("Iptc.Application2.CountryName"), location);
        }
    }
}

TEST_F(MetadataTest, WithoutUprightThePhotoKeepsItsOrientationTagAsItKeepsItsPixels)
{
    // The same sideways photo as JPEG and as WebP, whose reader tells its tag too.
    const std::vector<std::uint8_t> jpeg = CameraPhoto();
    imaging::TPicture pixels;
    imaging::LoadFromBytes(pixels, "camera.jpg", nullptr, jpeg);
    std::vector<std::uint8_t> webp = imaging::EncodeWebp(pixels, "camera.webp", 90)->bytes;
    {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(webp.data(), long(webp.size()));
        image->exifData()["Exif.Image.Make"] = "Parvula Test Camera";
        image->exifData()["Exif.Image.Orientation"] = std::uint16_t(6);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.open();
        webp.assign(io.size(), 0);
        io.read(webp.data(), long(webp.size()));
        io.close();
    }
    settings.width = 32;
    settings.format = QStringLiteral("jpg");
    settings.metadata = TMetadataCopy::All;
    for (const auto& [name, bytes] :
        { std::pair { "photo.jpg", jpeg }, std::pair { "photo.webp", webp } }) {
        SCOPED_TRACE(name);
        const QString source = Write(QString::fromLatin1(name), bytes);
        settings.upright = false;
        TReadBack out = ReadBack(Run(source));
        EXPECT_EQ(out.width, 32);
        EXPECT_EQ(out.height, 24);
        EXPECT_EQ(out.Exif("Exif.Image.Orientation"), "6");
        EXPECT_FALSE(out.HasThumbnail());
        // Turned upright, the copy says so.
        settings.upright = true;
        out = ReadBack(Run(source));
        EXPECT_GT(out.height, out.width);
        EXPECT_EQ(out.Exif("Exif.Image.Orientation"), "1");
    }
}

TEST_F(MetadataTest, BmpAndGifOutputsCarryNoneWhateverTheChoice)
{
    const QString source = Write("photo.jpg", CameraPhoto());
    settings.width = 24;
    for (const char* format : { "bmp", "gif" }) {
        SCOPED_TRACE(format);
        settings.format = QString::fromLatin1(format);
        settings.metadata = TMetadataCopy::None;
        const QByteArray plain = Bytes(Run(source));
        settings.metadata = TMetadataCopy::All;
        EXPECT_EQ(Bytes(Run(source)), plain);
    }
}

TEST_F(MetadataTest, TheSourcesOwnBytesKeepTheirMetadataLessTheLocationWhenAsked)
{
    // Quality 100, nothing to fit or tint: the photo is written back byte for byte, with its
    // orientation tag still true of it.
    const std::vector<std::uint8_t> photo = CameraPhoto();
    const QString source = Write("photo.jpg", photo);
    settings.jpgQual = 100;
    settings.metadata = TMetadataCopy::All;
    const QByteArray original(reinterpret_cast<const char*>(photo.data()), qsizetype(photo.size()));
    EXPECT_EQ(Bytes(Run(source)), original);

    settings.metadata = TMetadataCopy::NoLocation;
    const TReadBack out = ReadBack(Run(source));
    EXPECT_EQ(out.width, 64);
    EXPECT_EQ(out.Exif("Exif.Image.Orientation"), "6");
    EXPECT_EQ(out.Exif("Exif.Image.Make"), "Parvula Test Camera");
    EXPECT_TRUE(out.HasThumbnail());
    EXPECT_FALSE(out.HasKeyStartingWith("Exif.GPSInfo."));
    EXPECT_FALSE(out.HasKeyStartingWith("Xmp.photoshop.City"));
    EXPECT_FALSE(out.HasKeyStartingWith("Iptc.Application2.City"));
}

TEST_F(MetadataTest, TheColourSpaceSaysSrgbOnlyWhenTheRunConvertedThePhoto)
{
    const std::filesystem::path adobe = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
    if (!std::filesystem::exists(adobe))
        GTEST_SKIP() << "no Adobe RGB profile (colord-data) installed";
    QFile file(QString::fromStdString(adobe.string()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray adobeBytes = file.readAll();
    // A camera's Adobe RGB photo: "uncalibrated", the index R03 and the profile; and the same
    // with a profile whose tag count is garbled, which cannot be used and leaves the numbers as
    // they are.
    QByteArray damaged = adobeBytes;
    damaged[128] = char(0xFF);
    damaged[129] = char(0xFF);
    const auto photo = [&](const QByteArray& icc) {
        const std::vector<std::uint8_t> plain = JpegOf(64, 48);
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(plain.data(), long(plain.size()));
        image->exifData()["Exif.Photo.ColorSpace"] = std::uint16_t(65535);
        image->exifData()["Exif.Iop.InteroperabilityIndex"] = "R03";
        Exiv2::DataBuf profile(
            reinterpret_cast<const Exiv2::byte*>(icc.constData()), long(icc.size()));
        image->setIccProfile(profile, false);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.open();
        std::vector<std::uint8_t> bytes(io.size());
        io.read(bytes.data(), long(bytes.size()));
        io.close();
        return bytes;
    };
    settings.width = 32;
    settings.filter = 6;
    settings.metadata = TMetadataCopy::All;
    const struct {
        const char* name;
        QByteArray icc;
        bool asStored;
        const char* colourSpace;
    } cases[] = {
        { "converted.jpg", adobeBytes, false, "1" },
        { "as-stored.jpg", adobeBytes, true, "65535" },
        { "damaged.jpg", damaged, false, "65535" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings.coloursAsStored = c.asStored;
        const TReadBack out = ReadBack(Run(Write(c.name, photo(c.icc))));
        EXPECT_EQ(out.Exif("Exif.Photo.ColorSpace"), c.colourSpace);
    }
}

TEST_F(MetadataTest, UnreadableMetadataGivesAnOutputWithoutItAndExiv2StaysSilent)
{
    // An EXIF segment whose camera name lies far outside it, and a PNG source with none.
    std::vector<std::uint8_t> damaged = JpegOf(40, 30);
    const std::uint8_t segment[] = { 0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I',
        0x2A, 0, 0x08, 0, 0, 0, 0x01, 0x00, 0x0F, 0x01, 0x02, 0x00, 0x64, 0, 0, 0, 0xFF, 0xFF, 0xFF,
        0x7F, 0, 0, 0, 0 };
    damaged.insert(damaged.begin() + 2, std::begin(segment), std::end(segment));
    const QString jpeg = Write("damaged.jpg", damaged);
    imaging::TPicture png;
    png.Assign(imaging::TBitmap(20, 10, 24));
    const QString plainPng = Write("plain.png", imaging::EncodePng(png, "p.png")->bytes);

    settings.width = 20;
    settings.metadata = TMetadataCopy::All;
    std::fflush(stderr);
    const int saved = ::dup(2);
    const QString errors = dir.filePath("stderr.txt");
    const int capture
        = ::open(errors.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(capture, 2);
    QString outJpeg;
    QString outPng;
    EXPECT_NO_THROW(outJpeg = Run(jpeg));
    EXPECT_NO_THROW(outPng = Run(plainPng));
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(capture);
    EXPECT_EQ(Bytes(errors), QByteArray());
    ASSERT_FALSE(outJpeg.isEmpty());
    EXPECT_EQ(ReadBack(outJpeg).width, 20);
    EXPECT_TRUE(ReadBack(outPng).exif.empty());
}

TEST_F(MetadataTest, KeptDatesEqualTheSourcesAndOtherwiseTheOutputIsNew)
{
    const QString source = Write("photo.jpg", JpegOf(40, 30));
    using namespace std::chrono;
    const auto old
        = std::filesystem::file_time_type::clock::now() - hours(24 * 3000) + nanoseconds(123456789);
    std::filesystem::last_write_time(platform::ToPath(source), old);
    settings.width = 20;
    for (const bool keep : { true, false }) {
        SCOPED_TRACE(keep);
        settings.keepDates = keep;
        const auto written = std::filesystem::last_write_time(platform::ToPath(Run(source)));
        const auto apart = duration_cast<seconds>(written - old).count();
        if (keep)
            EXPECT_EQ(apart, 0);
        else
            EXPECT_GT(apart, 3600 * 24);
    }
}

TEST(KeepDatesPublish, ADateThatCannotBeReadLeavesNothingPublished)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    const std::array<std::uint8_t, 3> bytes { 1, 2, 3 };
    try {
        platform::PublishNewFile(
            folder, bytes, [&](int n) { return folder + QString::number(n) + ".jpg"; }, 0, 9,
            dir.filePath("gone.jpg"));
        ADD_FAILURE() << "published without its date";
    } catch (const errors::EError& e) {
        EXPECT_EQ(e.Code(), errors::TCode::CannotKeepDate);
        EXPECT_EQ(e.Path(), (folder + "0.jpg").toStdString());
    }
    EXPECT_TRUE(QDir(dir.path())
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
}

TEST_F(MetadataTest, ManyFilesAtOnceEachGetTheirOwnSourcesMetadata)
{
    // exiv2 keeps state of its own for the whole process; workers copy at the same time.
    QStringList sources;
    for (int i = 0; i < 12; ++i) {
        std::vector<std::uint8_t> bytes = JpegOf(40 + i, 30);
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytes.data(), long(bytes.size()));
        image->exifData()["Exif.Image.ImageDescription"] = "photo " + std::to_string(i);
        image->xmpData()["Xmp.dc.source"] = "source " + std::to_string(i);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.open();
        bytes.resize(io.size());
        io.read(bytes.data(), long(bytes.size()));
        io.close();
        sources.append(Write(QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0')), bytes));
    }
    settings.width = 20;
    settings.metadata = TMetadataCopy::All;
    app::TBatchRun run([this] { return settings; });
    run.SetJobs(4);
    QStringList outputs(sources.size());
    ASSERT_EQ(
        app::RunBatch(run, sources,
            [&](int index, const QString&, const QString& output) { outputs[index] = output; }),
        12);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        const TReadBack out = ReadBack(outputs.at(i));
        EXPECT_EQ(out.Exif("Exif.Image.ImageDescription"), "photo " + std::to_string(i));
        EXPECT_EQ(out.Xmp("Xmp.dc.source"), "source " + std::to_string(i));
        EXPECT_EQ(out.width, 20);
    }
}
