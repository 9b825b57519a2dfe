// Tests of the INI settings store: reading, writing in place, encodings, atomic replacement, the
// section helpers of profile deletion.
#include "framework/spz1_ini.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>

#include "framework/spz1_paths.h"
#include "framework/spz1_support.h"

using namespace parvula::framework;
using parvula::test::ReadBytes;
using parvula::test::WriteBytes;

namespace {

class IniStore : public testing::Test {
protected:
    void SetUp() override
    {
        m_box.Resolve();
        m_path = SettingsFilePath();
    }
    QString Folder() const { return SettingsFolder; }

    parvula::test::TFrameworkSandbox m_box;
    QString m_path;
};

TEST_F(IniStore, DefaultFileAndSectionFollowTheExecutableName)
{
    const QString exe = parvula::test::RealExeName();
    EXPECT_EQ(m_path, SettingsFolder + exe + ".ini");
    EXPECT_EQ(DefaultSettingsSection(), exe);
    WriteSetting(QString(), QStringLiteral("Form1.top"), 12);
    EXPECT_EQ(ReadBytes(m_path), "[" + exe.toUtf8() + "]\r\nForm1.top=12\r\n");
}

TEST_F(IniStore, ReadsLenientlyAndFallsBackToTheDefault)
{
    EXPECT_EQ(ReadSetting("df", "Width", "d"), "d"); // no file
    WriteBytes(m_path,
        "[DF]\r\n  WIDTH =  100 "
        "\t\r\nEmpty=\r\nNoEquals\r\n[other]\r\nHeight=5\r\n[df]\r\nx=later\n");
    EXPECT_EQ(ReadSetting("df", "width", "d"), "100");
    EXPECT_EQ(ReadSetting("Df", "Empty", "d"), "");
    EXPECT_EQ(ReadSetting("df", "Height", "d"), "d"); // in another section
    EXPECT_EQ(ReadSetting("df", "x", "d"), "d"); // only the first [df] counts
    EXPECT_EQ(ReadSetting("nosuch", "Width", "d"), "d");
    EXPECT_EQ(ReadSetting("OTHER", "HEIGHT", "d"), "5");
}

TEST_F(IniStore, SectionNamesWithTrailingBlanksOrBracketsAreFoundAgain)
{
    // Profile names are typed by users: "Small " and "a]b" must each stay one section.
    for (const QString& section :
        { QStringLiteral("Profil_Small "), QStringLiteral("Profil_a]b") }) {
        WriteSetting(section, "Width", "10");
        WriteSetting(section, "Height", "20");
        EXPECT_EQ(ReadSetting(section, "Width", "d"), "10") << section.toStdString();
        EXPECT_EQ(ReadSetting(section, "Height", "d"), "20") << section.toStdString();
    }
    QStringList names;
    ListSections(ReadSettingsLines(m_path), names, true);
    // One header each, however often they were written.
    ASSERT_EQ(names.size(), 2);
    EXPECT_EQ(names.at(0), "Profil_Small ");
}

TEST_F(IniStore, LongValuesReadBackAs2047Characters)
{
    const QString value(3000, u'v');
    WriteSetting("df", "Long", value);
    EXPECT_EQ(ReadSetting("df", "Long", QString()), QString(2047, u'v'));
}

TEST_F(IniStore, WritesInPlaceAndLeavesOtherLinesUntouched)
{
    WriteBytes(m_path,
        "; kept comment\n[One]\r\nA = 1\r\n\r\n[Two]\r\nB=2\r\n  odd line  "
        "\r\n\r\n\r\n[Three]\r\n");
    WriteSetting("one", "C", "3");
    WriteSetting("TWO", "b", "5");
    WriteSetting("Two", "New", "n");
    WriteSetting("three", "T", "t");
    WriteSetting("Four", "F", "f");
    EXPECT_EQ(ReadBytes(m_path),
        "; kept comment\r\n[One]\r\nA = 1\r\nC=3\r\n\r\n[Two]\r\nB=5\r\n  odd line  \r\nNew=n\r\n"
        "\r\n\r\n[Three]\r\nT=t\r\n[Four]\r\nF=f\r\n");
}

TEST_F(IniStore, UnchangedValuesWriteNothing)
{
    WriteSetting("df", "Width", 100);
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-3);
    {
        QFile f(m_path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    const QByteArray before = ReadBytes(m_path);
    EXPECT_TRUE(WriteSetting("df", "Width", QStringLiteral("100")));
    EXPECT_TRUE(WriteSetting("DF", "WIDTH", 100));
    EXPECT_EQ(ReadBytes(m_path), before);
    EXPECT_EQ(QFileInfo(m_path).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());

    // A missing key reads as the empty text, so storing an empty value creates nothing.
    const QString otherFile = Folder() + "never.ini";
    WriteSetting("df", "Mono", QString(), otherFile);
    EXPECT_FALSE(QFileInfo::exists(otherFile));
}

TEST_F(IniStore, FirstWriteCreatesTheFolder)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/a/b/c/";
    WriteSetting("s", "k", "v", QString(), folder);
    EXPECT_EQ(ReadSetting("s", "k", QString(), QString(), folder), "v");
    EXPECT_TRUE(QFileInfo::exists(folder + parvula::test::RealExeName() + ".ini"));
}

TEST_F(IniStore, WriteErrorNamesTheFullPath)
{
    // A regular file in place of a folder cannot be written below, not even by root.
    QTemporaryDir dir;
    WriteBytes(dir.path() + "/plain", "x");
    const QString folder = dir.path() + "/plain/sub/";
    const QString expected
        = "In " + QDir::toNativeSeparators(folder + "p.ini") + " kann nicht geschrieben werden";
    try {
        WriteSetting("s", "k", "v", "p.ini", folder);
        FAIL() << "no error raised";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(e.Code(), parvula::errors::TCode::SettingsCannotWrite);
        EXPECT_EQ(QString::fromStdString(e.what()), expected);
    }
    // Reading the same place quietly gives the default.
    EXPECT_EQ(ReadSetting("s", "k", "d", "p.ini", folder), "d");
}

TEST_F(IniStore, ReplacesTheFileAsAWhole)
{
    WriteSetting("df", "Width", 1);
    QFile old(m_path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    WriteSetting("df", "Width", 2);
    // The handle still sees the old file: the new text went into a new file that replaced it.
    EXPECT_EQ(old.readAll(), "[df]\r\nWidth=1\r\n");
    EXPECT_EQ(ReadBytes(m_path), "[df]\r\nWidth=2\r\n");
    // Neither the temporary file nor the lock stays behind.
    EXPECT_EQ(QDir(Folder()).entryList(QDir::Files | QDir::Hidden),
        QStringList { parvula::test::RealExeName() + ".ini" });
}

TEST_F(IniStore, Utf16FilesStayUtf16AndOtherFilesUtf8)
{
    const QString text = QStringLiteral("[s]\r\nname=Müller 照片\r\n");
    QStringEncoder le(QStringConverter::Utf16LE);
    WriteBytes(m_path, QByteArray("\xFF\xFE") + QByteArray(le(text)));
    EXPECT_EQ(ReadSetting("s", "name", QString()), QStringLiteral("Müller 照片"));
    WriteSetting("s", "k", QStringLiteral("ä"));
    QStringEncoder le2(QStringConverter::Utf16LE);
    EXPECT_EQ(ReadBytes(m_path),
        QByteArray("\xFF\xFE") + QByteArray(le2(text + QStringLiteral("k=ä\r\n"))));
    EXPECT_EQ(ReadSettingsLines(m_path),
        (QStringList { "[s]", QStringLiteral("name=Müller 照片"), QStringLiteral("k=ä") }));

    // Profile deletion's rewrite keeps the file UTF-16 too.
    WriteSettingsLines(m_path, { "[s]", QStringLiteral("k=ö") });
    QStringEncoder le3(QStringConverter::Utf16LE);
    EXPECT_EQ(ReadBytes(m_path), QByteArray("\xFF\xFE") + QByteArray(le3(u"[s]\r\nk=ö\r\n")));

    const QString other = Folder() + "plain.ini";
    WriteSetting("s", "name", QStringLiteral("照片"), other);
    EXPECT_EQ(ReadBytes(other), QStringLiteral("[s]\r\nname=照片\r\n").toUtf8());
}

TEST_F(IniStore, EightBitFilesKeepTheirBytes)
{
    const QByteArray latin = "[s]\r\nname=M\xFCller\r\n";
    WriteBytes(m_path, latin);
    EXPECT_EQ(ReadSetting("s", "name", QString()), QStringLiteral("Müller"));
    WriteSetting("s", "k", "v");
    EXPECT_EQ(ReadBytes(m_path), latin + "k=v\r\n");
}

TEST_F(IniStore, LineBreaksInAValueCannotAddKeysOrSections)
{
    WriteSetting("df", "Namex", QStringLiteral("a\r\n[evil]\nWidth=9"));
    QStringList sections;
    ListSections(ReadSettingsLines(m_path), sections, true);
    EXPECT_EQ(sections, QStringList { "df" });
    EXPECT_EQ(ReadSetting("df", "Namex", QString()), "a  [evil] Width=9");
    EXPECT_EQ(ReadSetting("df", "Width", "none"), "none");
}

TEST(IniSections, ListSectionsTakesLinesStartingWithABracket)
{
    const QStringList lines { "[df]", "Width=1", "[Profil_B]", "w=1", " [Profil_X]",
        "[Profil_A] \t", "[[odd]]x", "", "x[y]" };
    QStringList names { "kept" };
    ListSections(lines, names, false);
    EXPECT_EQ(names, (QStringList { "kept", "df", "Profil_B", "Profil_A", "oddx" }));
    ListSections(lines, names, true);
    EXPECT_EQ(names.first(), "df");
    EXPECT_EQ(names.size(), 4);
}

TEST(IniSections, RemoveSectionCases)
{
    struct TCase {
        const char* what;
        QStringList lines;
        QString name;
        bool found;
        QStringList expected;
    };
    const TCase cases[] = {
        { "followed by a blank line and a section",
            { "[df]", "a=1", "[Profil_B]", "w=1", "", "[Profil_A]", "w=2" }, "Profil_B", true,
            { "[df]", "a=1", "[Profil_A]", "w=2" } },
        { "last section runs to the end", { "[df]", "a=1", "[Profil_B]", "w=1", "", "junk" },
            "Profil_B", true, { "[df]", "a=1" } },
        { "header in lower case", { "[profil_c]", "w=1", "[df]" }, "Profil_C", true, { "[df]" } },
        { "not there", { "[df]", "a=1" }, "Profil_Z", false, { "[df]", "a=1" } },
        { "only the first of two", { "[P]", "a=1", "[p]", "b=2" }, "P", true, { "[p]", "b=2" } },
        { "an indented bracket does not end it", { "[P]", "a=1", " [x]", "[n]" }, "p", true,
            { "[n]" } },
        { "an indented header is not the target", { " [P]", "a=1" }, "P", false,
            { " [P]", "a=1" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QStringList lines = c.lines;
        EXPECT_EQ(RemoveSection(lines, c.name), c.found);
        EXPECT_EQ(lines, c.expected);
    }
}

TEST_F(IniStore, ProfileDeletionRewriteAgreesWithTheKeyWriter)
{
    WriteSetting("df", "Width", 10);
    WriteSetting("Profil_Small", "Width", 20);
    WriteSetting("Profil_Big", "Width", 30);
    QStringList lines = ReadSettingsLines(m_path);
    ASSERT_TRUE(RemoveSection(lines, "Profil_Small"));
    WriteSettingsLines(m_path, lines);
    EXPECT_EQ(ReadBytes(m_path), "[df]\r\nWidth=10\r\n[Profil_Big]\r\nWidth=30\r\n");
    EXPECT_EQ(ReadSetting("Profil_Small", "Width", "gone"), "gone");

    EXPECT_TRUE(ReadSettingsLines(Folder() + "missing.ini").isEmpty());
    QTemporaryDir dir;
    WriteBytes(dir.path() + "/plain", "x");
    EXPECT_THROW(WriteSettingsLines(dir.path() + "/plain/x.ini", lines), ESettingsError);
}

} // namespace
