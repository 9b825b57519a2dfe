// The version record read back from executable files, and the build date.
#include "platform/platform_version.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "buildinfo.h"

using namespace parvula::platform;

namespace {

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    EXPECT_EQ(f.write(bytes), bytes.size());
    return path;
}

} // namespace

TEST(VersionRecord, ReadsTheRecordLinkedIntoThisTestProgram)
{
    const QString own = OwnExecutablePath();
    ASSERT_FALSE(own.isEmpty());
    EXPECT_EQ(GetVersionInfoValue(own, QStringLiteral("FileVersion")),
        QString::fromLatin1(parvula::buildinfo::kVersion));
    EXPECT_EQ(
        GetVersionInfoValue(QString(), QStringLiteral("FileVersion")), QStringLiteral("0.2.0.3"));
    EXPECT_EQ(
        GetVersionInfoValue(QString(), QStringLiteral("fileversion")), QStringLiteral("0.2.0.3"));
    EXPECT_EQ(
        GetVersionInfoValue(QString(), QStringLiteral("ProductName")), QStringLiteral("Parvula"));
    EXPECT_EQ(GetVersionInfoValue(QString(), QStringLiteral("CompanyName")), QString());
}

TEST(VersionRecord, FilesWithoutAWholeRecordGiveTheEmptyText)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray record = EncodeVersionRecord({ { "FileVersion", "1.2.3.4" } });
    const QString key = QStringLiteral("FileVersion");

    EXPECT_EQ(GetVersionInfoValue(WriteFile(dir, "plain.bin", QByteArray(5000, 'x')), key), "");
    EXPECT_EQ(GetVersionInfoValue(WriteFile(dir, "empty.bin", QByteArray()), key), "");
    EXPECT_EQ(GetVersionInfoValue(dir.filePath("missing.bin"), key), "");
    EXPECT_EQ(GetVersionInfoValue(dir.path(), key), "");
    // Cut inside the value, and just before the closing NUL: no terminator, no record.
    EXPECT_EQ(
        GetVersionInfoValue(WriteFile(dir, "cut1.bin", record.left(record.size() - 4)), key), "");
    EXPECT_EQ(
        GetVersionInfoValue(WriteFile(dir, "cut2.bin", record.left(record.size() - 1)), key), "");
    // A marker followed by a long run without NUL bytes is not taken as a record.
    const QByteArray marker = EncodeVersionRecord({}).chopped(1);
    EXPECT_EQ(
        GetVersionInfoValue(WriteFile(dir, "runaway.bin", marker + QByteArray(10000, 'v')), key),
        "");
}

TEST(VersionRecord, FindsARecordAmongOtherBytesAndTrimsTheValue)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray marker = EncodeVersionRecord({}).chopped(1);
    const QByteArray record = EncodeVersionRecord(
        { { "ProductName", "P" }, { "FileVersion", QStringLiteral(" \t9.8.7\x01\r\n") } });
    // A false start (a marker with no well-formed record behind it) comes first.
    const QByteArray bytes
        = QByteArray(100, '\0') + marker + QByteArray(5000, 'z') + record + QByteArray(64, 'q');
    const QString path = WriteFile(dir, "mixed.bin", bytes);
    EXPECT_EQ(GetVersionInfoValue(path, QStringLiteral("FileVersion")), QStringLiteral("9.8.7"));
    EXPECT_EQ(GetVersionInfoValue(path, QStringLiteral("ProductName")), QStringLiteral("P"));
    EXPECT_EQ(GetVersionInfoValue(path, QStringLiteral("Version")), QString());
}

TEST(BuildDate, IsTheTimeRecordedInTheFileNotItsModificationTime)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDateTime when = QDateTime(QDate(2025, 3, 9), QTime(23, 30, 5), Qt::UTC);
    const auto touch = [](const QString& path, const QDateTime& t) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(t, QFileDevice::FileModificationTime));
    };
    const QString stamped = WriteFile(dir, "stamped.bin",
        QByteArray(64, 'x')
            + EncodeVersionRecord({ { "FileVersion", "1.2.3" },
                { "BuildTime", QString::number(when.toSecsSinceEpoch()) + "      " } }));
    touch(stamped, QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    const QDateTime got = ExeBuildDate(stamped);
    EXPECT_EQ(got.timeSpec(), Qt::UTC);
    EXPECT_EQ(got, when);

    // No record, a record without the time, or one the build never stamped: no build date.
    const QString plain = WriteFile(dir, "plain.bin", QByteArray("x"));
    const QString unstamped = WriteFile(
        dir, "unstamped.bin", EncodeVersionRecord({ { "BuildTime", QString(20, u' ') } }));
    for (const QString& path : { plain, unstamped, dir.filePath("missing") })
        EXPECT_FALSE(ExeBuildDate(path).isValid()) << path.toStdString();
}

TEST(BuildDate, ThisProgramWasStampedWhenLinkedAndACopyKeepsTheDate)
{
    const QDateTime own = ExeBuildDate();
    ASSERT_TRUE(own.isValid());
    EXPECT_LE(own, QDateTime::currentDateTimeUtc());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString copy = dir.filePath("copy");
    ASSERT_TRUE(QFile::copy(OwnExecutablePath(), copy));
    {
        QFile f(copy);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(
            QDateTime(QDate(2030, 5, 5), QTime(5, 5), Qt::UTC), QFileDevice::FileModificationTime));
    }
    EXPECT_EQ(ExeBuildDate(copy), own);
}
