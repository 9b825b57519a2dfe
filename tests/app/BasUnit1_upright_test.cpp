// "Upright" and "Shrink only" in the batch run: photos turned by their EXIF orientation before
// they are fitted, damaged EXIF ignored, and pictures smaller than the box kept at their size.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/BasUnit1_batch.h"
#include "app/picture_save.h"
#include "imaging/imagefiles.h"
#include "imaging/orientation.h"
#include "platform/platform_fs.h"

using namespace parvula;

namespace {

constexpr imaging::TRgb kRed { 0, 0, 255 };
constexpr imaging::TRgb kGreen { 0, 255, 0 };
constexpr imaging::TRgb kBlue { 255, 0, 0 };
constexpr imaging::TRgb kWhite { 255, 255, 255 };

// A 40 × 20 JPEG as stored by a camera: red, green on top, blue, white below.
QByteArray QuadrantJpeg()
{
    imaging::TBitmap bmp(40, 20, 24);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            const imaging::TRgb c = y < 10 ? (x < 20 ? kRed : kGreen) : (x < 20 ? kBlue : kWhite);
            std::uint8_t* p = bmp.ScanLine(y) + 3 * x;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    imaging::TPicture picture;
    picture.Assign(std::move(bmp));
    const auto encoded = imaging::EncodeJpeg(picture, "x.jpg", 100);
    return QByteArray(reinterpret_cast<const char*>(encoded->bytes.data()),
        static_cast<qsizetype>(encoded->bytes.size()));
}

// An APP1 segment holding one IFD entry: the orientation, in either byte order.
QByteArray ExifSegment(int orientation, bool bigEndian)
{
    QByteArray tiff
        = bigEndian ? QByteArray("MM\0\x2A\0\0\0\x08", 8) : QByteArray("II\x2A\0\x08\0\0\0", 8);
    auto u16 = [&](int v) {
        const char hi = char(v >> 8);
        const char lo = char(v & 0xFF);
        tiff.append(bigEndian ? hi : lo);
        tiff.append(bigEndian ? lo : hi);
    };
    auto u32 = [&](quint32 v) {
        if (bigEndian) {
            u16(int(v >> 16));
            u16(int(v & 0xFFFF));
        } else {
            u16(int(v & 0xFFFF));
            u16(int(v >> 16));
        }
    };
    u16(1); // one entry
    u16(0x0112);
    u16(3); // SHORT
    u32(1);
    u16(orientation);
    u16(0);
    u32(0); // no next IFD
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const int length = int(payload.size()) + 2;
    return QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + payload;
}

QByteArray WithSegment(const QByteArray& jpeg, const QByteArray& segment)
{
    return jpeg.left(2) + segment + jpeg.mid(2);
}

imaging::TRgb At(const imaging::TBitmap& b, int x, int y) { return b.PixelColor(x, y); }

bool Near(imaging::TRgb a, imaging::TRgb b)
{
    return std::abs(a.r - b.r) < 40 && std::abs(a.g - b.g) < 40 && std::abs(a.b - b.b) < 40;
}

class UprightTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    app::TBatchSettings settings;

    QString Write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    imaging::TPicture Convert(const QString& source)
    {
        app::TBatchRun run([this] { return settings; });
        imaging::TPicture out;
        imaging::LoadFromFile(out, platform::ToPath(run.MakeOutputFile(source)));
        imaging::ConvertPictureToBitmap(out);
        return out;
    }
};

} // namespace

TEST_F(UprightTest, EveryOrientationComesOutUprightAndFittedInTheBox)
{
    // The corners a viewer shows at the top, left and right, for each orientation.
    const struct {
        int orientation;
        imaging::TRgb topLeft, topRight;
    } rows[] = {
        { 1, kRed, kGreen },
        { 2, kGreen, kRed },
        { 3, kWhite, kBlue },
        { 4, kBlue, kWhite },
        { 5, kRed, kBlue },
        { 6, kBlue, kRed },
        { 7, kWhite, kGreen },
        { 8, kGreen, kWhite },
    };
    const QByteArray jpeg = QuadrantJpeg();
    settings.width = 60;
    settings.height = 60;
    settings.filter = 0;
    settings.format = "png";
    for (const auto& row : rows) {
        const QByteArray bytes
            = WithSegment(jpeg, ExifSegment(row.orientation, row.orientation % 2 == 0));
        ASSERT_EQ(imaging::JpegOrientation(std::span(
                      reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size())),
            row.orientation);
        const QString source = Write(QStringLiteral("o%1.jpg").arg(row.orientation), bytes);
        const imaging::TPicture out = Convert(source);
        const bool turned = row.orientation >= 5;
        EXPECT_EQ(out.Width(), turned ? 30 : 60) << row.orientation;
        EXPECT_EQ(out.Height(), turned ? 60 : 30) << row.orientation;
        const imaging::TBitmap& b = *out.Bitmap();
        EXPECT_TRUE(Near(At(b, 1, 1), row.topLeft)) << row.orientation;
        EXPECT_TRUE(Near(At(b, b.Width() - 2, 1), row.topRight)) << row.orientation;
    }
}

TEST_F(UprightTest, DamagedExifIsIgnoredAndTheFileStillConverts)
{
    // An IFD offset far past the segment, and one whose entry count runs off its end.
    QByteArray wild = ExifSegment(6, true);
    wild[4 + 6 + 4] = '\x7F';
    QByteArray cut = ExifSegment(6, false);
    cut[4 + 6 + 4] = '\x19';
    settings.width = 20;
    settings.format = "png";
    for (const QByteArray& segment : { wild, cut }) {
        const QByteArray bytes = WithSegment(QuadrantJpeg(), segment);
        EXPECT_EQ(imaging::JpegOrientation(std::span(
                      reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size())),
            1);
        const imaging::TPicture out = Convert(Write("damaged.jpg", bytes));
        EXPECT_EQ(out.Width(), 20);
        EXPECT_EQ(out.Height(), 10);
    }
}

TEST_F(UprightTest, AJpegWrittenUnchangedKeepsItsBytesAndTag)
{
    const QByteArray bytes = WithSegment(QuadrantJpeg(), ExifSegment(6, true));
    const QString source = Write("keep.jpg", bytes);
    settings.jpgQual = 100;
    app::TBatchRun run([this] { return settings; });
    QFile out(run.MakeOutputFile(source));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.readAll(), bytes);
#ifdef __linux__
    // The window keeps the work picture, still the JPEG: with bytes of its own, not the
    // source's mapping.
    EXPECT_EQ(run.WorkPicture().Kind(), imaging::TGraphicKind::Jpeg);
    QFile maps("/proc/self/maps");
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    EXPECT_FALSE(maps.readAll().contains(QFile::encodeName(source)));
#endif

    // Re-encoded, it is turned and carries no tag: viewers show it the same way.
    settings.jpgQual = 90;
    app::TBatchRun again([this] { return settings; });
    QFile turned(again.MakeOutputFile(source));
    ASSERT_TRUE(turned.open(QIODevice::ReadOnly));
    const QByteArray t = turned.readAll();
    EXPECT_EQ(imaging::JpegOrientation(
                  std::span(reinterpret_cast<const std::uint8_t*>(t.constData()), t.size())),
        1);
    imaging::TPicture p;
    imaging::LoadFromFile(p, platform::ToPath(turned.fileName()));
    EXPECT_EQ(p.Width(), 20);
    EXPECT_EQ(p.Height(), 40);
}

TEST_F(UprightTest, UprightOffLeavesThePictureAsStored)
{
    settings.upright = false;
    settings.width = 60;
    settings.height = 60;
    settings.format = "png";
    const imaging::TPicture out
        = Convert(Write("o6.jpg", WithSegment(QuadrantJpeg(), ExifSegment(6, true))));
    EXPECT_EQ(out.Width(), 60);
    EXPECT_EQ(out.Height(), 30);
}

TEST_F(UprightTest, ShrinkOnlyKeepsSmallPicturesAndStillShrinksLargeOnes)
{
    auto make = [&](const QString& name, int w, int h) {
        imaging::TBitmap bmp(w, h, 24);
        bmp.Fill({ 1, 2, 3 });
        imaging::TPicture p;
        p.Assign(std::move(bmp));
        EXPECT_TRUE(app::SaveAsPng(p, platform::ToPath(dir.filePath(name))));
        return dir.filePath(name);
    };
    settings.width = 100;
    settings.height = 100;
    settings.filter = 2;
    settings.shrinkOnly = true;
    imaging::TPicture small = Convert(make("small.png", 40, 20));
    EXPECT_EQ(small.Width(), 40);
    EXPECT_EQ(small.Height(), 20);
    imaging::TPicture large = Convert(make("large.png", 400, 300));
    EXPECT_EQ(large.Width(), 100);
    EXPECT_EQ(large.Height(), 75);
    settings.shrinkOnly = false;
    imaging::TPicture enlarged = Convert(make("small2.png", 40, 20));
    EXPECT_EQ(enlarged.Width(), 100);
    EXPECT_EQ(enlarged.Height(), 50);
}
