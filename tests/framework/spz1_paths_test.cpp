// Tests of the data folders, the portable switch and ExpandPath.
#include "framework/spz1_paths.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "framework/spz1_ini.h"
#include "framework/spz1_support.h"

using namespace parvula::framework;
using parvula::test::TFrameworkSandbox;

namespace {

TEST(DataFolders, ShellFoldersWithTheTitleAsFolderName)
{
    TFrameworkSandbox box;
    box.Resolve();
    EXPECT_EQ(ExeFolder, box.Bin());
    EXPECT_EQ(DocumentFolder, box.Root() + "docs/Parvula/");
    EXPECT_EQ(SettingsFolder, box.Root() + "config/Parvula/");
    EXPECT_EQ(PortableMode, 0);
    EXPECT_EQ(
        SettingsFilePath(), box.Root() + "config/Parvula/" + parvula::test::RealExeName() + ".ini");
}

TEST(DataFolders, TitleWithSlashAndProductTitlePrecedence)
{
    TFrameworkSandbox box;
    auto sources = box.Sources();
    sources.title = QStringLiteral("A/B");
    box.Resolve(sources);
    EXPECT_EQ(DocumentFolder, box.Root() + "docs/A-B/");
    EXPECT_EQ(SettingsFolder, box.Root() + "config/A-B/");

    ProductTitle = QStringLiteral("Own/Name/");
    ResolveDataFolders(false, sources, false);
    EXPECT_EQ(SettingsFolder, box.Root() + "config/Own-Name-/");
}

TEST(DataFolders, MissingOrUnnamedShellFoldersFallBack)
{
    TFrameworkSandbox box;
    struct TCase {
        const char* what;
        QString documents;
        QString roaming;
        QString expectedDocuments;
        QString expectedSettings;
    };
    const QString missing = box.Root() + "nowhere";
    const TCase cases[] = {
        { "documents missing", missing, box.Root() + "config", box.Bin() + "data/",
            box.Root() + "config/Parvula/" },
        { "documents unnamed", QString(), box.Root() + "config", box.Bin() + "data/",
            box.Root() + "config/Parvula/" },
        { "roaming missing", box.Root() + "docs", missing, box.Root() + "docs/Parvula/",
            box.Root() + "docs/Parvula/" },
        { "both missing", missing, QString(), box.Bin() + "data/", box.Bin() + "Parvula/" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto sources = box.Sources();
        sources.documents = c.documents;
        sources.roaming = c.roaming;
        box.Resolve(sources);
        EXPECT_EQ(DocumentFolder, c.expectedDocuments);
        EXPECT_EQ(SettingsFolder, c.expectedSettings);
    }
}

TEST(DataFolders, PortableSwitchBesideTheExecutable)
{
    const QString section = QStringLiteral("[") + parvula::test::RealExeName() + "]\r\n";
    struct TCase {
        const char* what;
        QByteArray file; // empty: no file at all
        bool portable;
    };
    const TCase cases[] = {
        { "1", section.toUtf8() + "Portable=1\r\n", true },
        { "yes-like number", section.toUtf8() + "portable = 2x\r\n", true },
        { "0", section.toUtf8() + "Portable=0\r\n", false },
        { "no", section.toUtf8() + "Portable=no\r\n", false },
        { "key missing", section.toUtf8() + "Other=1\r\n", false },
        { "other section", "[elsewhere]\r\nPortable=1\r\n", false },
        { "no file", QByteArray(), false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TFrameworkSandbox box;
        if (!c.file.isEmpty())
            parvula::test::WriteBytes(box.Bin() + parvula::test::RealExeName() + ".ini", c.file);
        box.Resolve();
        if (c.portable) {
            EXPECT_GT(PortableMode, 0);
            EXPECT_EQ(SettingsFolder, box.Bin());
            EXPECT_EQ(DocumentFolder, box.Bin() + "data/");
            EXPECT_EQ(SettingsFilePath(), box.Bin() + parvula::test::RealExeName() + ".ini");
        } else {
            EXPECT_EQ(PortableMode, 0);
            EXPECT_EQ(SettingsFolder, box.Root() + "config/Parvula/");
            EXPECT_EQ(DocumentFolder, box.Root() + "docs/Parvula/");
        }
    }
}

TEST(DataFolders, PortableSwitchIsReadOnlyOnce)
{
    TFrameworkSandbox box;
    const QString ini = box.Bin() + parvula::test::RealExeName() + ".ini";
    parvula::test::WriteBytes(
        ini, "[" + parvula::test::RealExeName().toUtf8() + "]\r\nPortable=1\r\n");
    box.Resolve();
    ASSERT_EQ(SettingsFolder, box.Bin());

    QFile::remove(ini);
    ResolveDataFolders(false, box.Sources(), false);
    EXPECT_EQ(SettingsFolder, box.Bin());
}

TEST(DataFolders, CreatesFoldersAndEntersTheDocumentFolder)
{
    TFrameworkSandbox box;
    box.Resolve();
    EXPECT_FALSE(QFileInfo(DocumentFolder).isDir());

    const QString before = QDir::currentPath();
    ResolveDataFolders(true, box.Sources(), true);
    EXPECT_TRUE(QFileInfo(SettingsFolder).isDir());
    EXPECT_TRUE(QFileInfo(DocumentFolder).isDir());
    EXPECT_EQ(QDir::currentPath() + u'/', QDir(DocumentFolder).canonicalPath() + u'/');
    QDir::setCurrent(before);
}

TEST(DataFolders, UncreatableFoldersAreIgnored)
{
    TFrameworkSandbox box;
    // A regular file where the roots should be: nothing can be created below it.
    parvula::test::WriteBytes(box.Root() + "file", "x");
    auto sources = box.Sources();
    sources.exeFilePath = box.Root() + "file/" + parvula::test::RealExeName();
    sources.documents = box.Root() + "file/docs";
    sources.roaming = box.Root() + "file/config";
    const QString before = QDir::currentPath();
    EXPECT_NO_THROW(box.Resolve(sources));
    EXPECT_NO_THROW(ResolveDataFolders(true, sources, true));
    EXPECT_EQ(SettingsFolder, box.Root() + "file/Parvula/");
    EXPECT_EQ(QDir::currentPath(), before);
}

TEST(ExpandPath, TokensFilesClimbingAndAbsoluteNames)
{
    TFrameworkSandbox box;
    box.Resolve();
    const QString exe = box.Bin() + parvula::test::RealExeName();
    const std::tuple<QString, QString, QString> cases[] = {
        { ".ini", "#p", exe + ".ini" },
        { ".ini", "**", SettingsFolder + parvula::test::RealExeName() + ".ini" },
        { "x.ini", "/a/b.txt", "/a/x.ini" },
        { "../../x", "/a/b/c/", "/a/x" },
        { "../x", "/", "/x" },
        { "../../../x", "/a/", "/x" },
        { "/x", "/d/a/", "/x" },
        { "/y/z", "/any/", "/y/z" },
        { "", "/any/", exe },
        { "", "", exe },
        { "x", "", DocumentFolder + "x" },
        { "x", "*", DocumentFolder + "x" },
        { "x", "**", SettingsFolder + "x" },
        { "x", "#p", ExeFolder + "x" },
        { "x", "/a/b", "/a/b/x" },
        { "x", "/a.d/b", "/a.d/b/x" }, // the "." is not in the last part
        // Only a first "." past the third character makes the base a file.
        { "x", "/a.b", "/a.b/x" },
        { "x", "/ab.c", "/x" },
        { "x", "a.b", "a.b/x" },
        { "x", "abc.d", "x" },
        { "x", "/d/.hidden", "/d/x" },
        { "x", "/a/b.txt/", "/a/b.txt/x" }, // a final "/" names a folder
        { "x", "/a/../b.txt", "/a/../b.txt/x" }, // a climbing base is taken as it is
        { "a:b", "/d/", "/d/a:b" }, // ":" is an ordinary character here
        { "a//b", "/d/", "/d/a//b" },
        { "./x.txt", "/d/", "/d/./x.txt" }, // a relative name, not an extension
        { ".cfg", "/d/", "/d/" + parvula::test::RealExeName() + ".cfg" },
        { "sub/../x", "/d/", "/d/sub/../x" },
    };
    for (const auto& [name, base, expected] : cases) {
        SCOPED_TRACE((name + " | " + base).toStdString());
        EXPECT_EQ(ExpandPath(name, base), expected);
    }
}

TEST(SpecialFolders, TokensMapToFoldersWithTheTitleAppended)
{
    const QString savedName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("A/B"));
    const QString docs = SpecialFolderPath(5);
    const QString conf = SpecialFolderPath(26);
    const QString common = SpecialFolderPath(35);
    ASSERT_FALSE(conf.isEmpty());
    EXPECT_FALSE(conf.endsWith(u'/'));
    const std::pair<const char*, QString> cases[] = {
        { "doc", docs },
        { "DOC", docs },
        { "*", docs.isEmpty() ? QString() : docs + "/A-B" },
        { "*Doc", docs.isEmpty() ? QString() : docs + "/A-B" },
        { "app", conf },
        { "dat", conf },
        { "**", conf + "/A-B" },
        { "*app", conf + "/A-B" },
        { "*DAT", conf + "/A-B" },
        { "adat", common },
        { "aapp", common },
        { "xyz", QString() },
        { "", QString() },
    };
    for (const auto& [token, expected] : cases) {
        SCOPED_TRACE(token);
        EXPECT_EQ(SpecialFolderFor(QString::fromUtf8(token)), expected);
    }
    EXPECT_EQ(SpecialFolderPath(0), QString());
    QCoreApplication::setApplicationName(savedName);
}

} // namespace
