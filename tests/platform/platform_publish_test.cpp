// Publishing a file: a new one under the first free name, never replacing anything, and the
// atomic replacement of a file; neither leaves its temporary file behind.
#include "platform/platform_publish.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/platform_fs.h"

using namespace parvula;

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return { text.begin(), text.end() }; }

std::string Content(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll().toStdString();
}

QStringList Names(const QTemporaryDir& dir)
{
    return QDir(dir.path())
        .entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

void Write(const QString& path, const std::string& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.data(), static_cast<qint64>(text.size()));
}

} // namespace

TEST(PublishNewFile, PassesOverEveryTakenNameADanglingLinkIncluded)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    Write(folder + "a.jpg", "old");
    std::filesystem::create_symlink(
        platform::ToPath(folder + "nowhere"), platform::ToPath(folder + "a_1.jpg"));
    const auto candidate = [&](int n) {
        return folder + (n == 0 ? QStringLiteral("a.jpg") : QStringLiteral("a_%1.jpg").arg(n));
    };
    EXPECT_EQ(platform::PublishNewFile(folder, Bytes("new"), candidate, 0, 9), folder + "a_2.jpg");
    EXPECT_EQ(Content(folder + "a.jpg"), "old");
    EXPECT_EQ(Content(folder + "a_2.jpg"), "new");
    EXPECT_TRUE(std::filesystem::is_symlink(platform::ToPath(folder + "a_1.jpg")));
    EXPECT_EQ(Names(dir), (QStringList { "a.jpg", "a_1.jpg", "a_2.jpg" }));

    // Every candidate taken: the error names the first one, and nothing is left.
    try {
        platform::PublishNewFile(folder, Bytes("more"), candidate, 0, 2);
        ADD_FAILURE() << "published over a taken name";
    } catch (const errors::EError& e) {
        EXPECT_EQ(e.Code(), errors::TCode::NoFreeName);
        EXPECT_EQ(e.Path(), (folder + "a.jpg").toStdString());
    }
    EXPECT_EQ(Names(dir), (QStringList { "a.jpg", "a_1.jpg", "a_2.jpg" }));
}

TEST(ReplaceFile, ReplacesTheEntryKeepsThePermissionsAndNeverWritesThroughALink)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/parvula.ini";
    platform::ReplaceFile(platform::ToPath(path), Bytes("first"));
    EXPECT_EQ(Content(path), "first");

    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    platform::ReplaceFile(platform::ToPath(path), Bytes("second"));
    EXPECT_EQ(Content(path), "second");
    EXPECT_EQ(std::filesystem::status(platform::ToPath(path)).permissions(),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // A link under the name is replaced by the file; what it pointed to stays as it was.
    const QString victim = dir.path() + "/victim.txt";
    Write(victim, "victim");
    const QString link = dir.path() + "/link.bmp";
    std::filesystem::create_symlink(platform::ToPath(victim), platform::ToPath(link));
    platform::ReplaceFile(platform::ToPath(link), Bytes("picture"));
    EXPECT_FALSE(std::filesystem::is_symlink(platform::ToPath(link)));
    EXPECT_EQ(Content(link), "picture");
    EXPECT_EQ(Content(victim), "victim");
    EXPECT_EQ(Names(dir), (QStringList { "link.bmp", "parvula.ini", "victim.txt" }));
}

TEST(ReplaceFile, AFolderThatCannotBeWrittenInNamesItAndLeavesNothing)
{
    QTemporaryDir dir;
    const QString missing = dir.path() + "/no/such/folder/x.png";
    try {
        platform::ReplaceFile(platform::ToPath(missing), Bytes("x"));
        ADD_FAILURE() << "wrote into a missing folder";
    } catch (const errors::EError& e) {
        EXPECT_EQ(e.Code(), errors::TCode::CannotCreateIn);
        EXPECT_NE(std::string(e.what()).find((dir.path() + "/no/such/folder").toStdString()),
            std::string::npos)
            << e.what();
    }
    EXPECT_TRUE(Names(dir).isEmpty());
}
