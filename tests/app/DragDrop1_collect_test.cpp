// Collecting dropped files: extension test, folder walk, sorted insertion and the duplicate rule.
#include <ostream>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/DragDrop1_collect.h"

using namespace parvula::app;

// Readable failure output for paths.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

const QString Accept = DefaultFileAccept();

// A folder tree made of the relative file names given; folders come with their files.
class Tree {
public:
    Tree() { EXPECT_TRUE(m_dir.isValid()); }
    QString Root() const { return m_dir.path(); }
    QString Path(const QString& relative) const { return m_dir.filePath(relative); }
    void Files(const QStringList& relatives) const
    {
        for (const QString& r : relatives) {
            const QString path = Path(r);
            QDir().mkpath(QFileInfo(path).path());
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
            f.write("x");
        }
    }
    QStringList Relative(const QStringList& paths) const
    {
        QStringList out;
        for (const QString& p : paths)
            out.append(QDir(Root()).relativeFilePath(p));
        return out;
    }

private:
    QTemporaryDir m_dir;
};

} // namespace

TEST(ExtensionTest, AcceptsByTheLowerCasedTextAfterTheLastDot)
{
    const struct {
        const char* name;
        bool accepted;
    } cases[] = {
        { "A.JPG", true },
        { "photo.Jpeg", true },
        { "archive.tar.png", true },
        { "photo", false },
        { "photo.", false },
        { "notes.txt", false },
        { "photo.jpg.txt", false },
        { "/pics.jpg/photo", false }, // a dot in a folder name is no extension
        { ".jpg", true },
        { "x.jp", false },
        { "x.jpgx", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExtensionAccepted(QString::fromUtf8(c.name), Accept), c.accepted) << c.name;
}

TEST(SortedInsertion, NewEntriesGoToTheirPlaceIgnoringCaseAndAfterTheirEquals)
{
    QStringList list { "/p/apple.jpg", "/p/Cherry.jpg" };
    InsertSorted(list, { "/p/banana.jpg", "/p/APPLE.jpg", "/p/0.jpg", "/p/Zebra.png" });
    EXPECT_EQ(list,
        (QStringList { "/p/0.jpg", "/p/apple.jpg", "/p/APPLE.jpg", "/p/banana.jpg", "/p/Cherry.jpg",
            "/p/Zebra.png" }));
    EXPECT_LT(CompareEntries("/p/a.jpg", "/p/B.jpg"), 0);
    EXPECT_EQ(CompareEntries("/p/A.jpg", "/p/a.JPG"), 0);
}

TEST(SortedInsertion, AFullListRefusesTheRestAndKeepsWhatFitted)
{
    QStringList list { "/p/b.jpg" };
    try {
        InsertSorted(list, { "/p/c.jpg", "/p/a.jpg", "/p/d.jpg" }, 3);
        FAIL() << "the full list took every entry";
    } catch (const parvula::errors::EError& e) {
        EXPECT_EQ(e.Code(), parvula::errors::TCode::ListInsert);
        EXPECT_STREQ(e.what(), "Zeile kann nicht eingefügt werden");
    }
    EXPECT_EQ(list, (QStringList { "/p/a.jpg", "/p/b.jpg", "/p/c.jpg" }));
}

TEST(Duplicates, FirstStaysAndCaseCountsOnlyOnCaseSensitiveFileSystems)
{
    const QStringList sorted { "/p/a.jpg", "/p/A.jpg", "/p/a.jpg", "/p/b.jpg", "/p/B.JPG",
        "/p/c.jpg" };

    QStringList ignoring = sorted;
    EXPECT_EQ(RemoveDuplicates(ignoring, SamePathIgnoringCase), 3);
    EXPECT_EQ(ignoring, (QStringList { "/p/a.jpg", "/p/b.jpg", "/p/c.jpg" }));

    QStringList exact = sorted;
    EXPECT_EQ(RemoveDuplicates(exact, SamePathExact), 1);
    EXPECT_EQ(exact, (QStringList { "/p/a.jpg", "/p/A.jpg", "/p/b.jpg", "/p/B.JPG", "/p/c.jpg" }));
}

TEST(Drop, FoldersFourLevelsDeepHiddenEntriesAndDirectFiles)
{
    Tree t;
    t.Files({ "d/top.jpg", "d/notes.txt", "d/noext", "d/.hidden.jpg", "d/1/one.PNG",
        "d/1/2/two.gif", "d/1/2/3/three.ico", "d/1/2/3/deeper.bmp", "d/.secret/in.jpg",
        "d/1/.h/in.jpg", "loose/.dot.jpg", "loose/B.jpeg" });

    QStringList list;
    const TDropResult r = CollectDrop(list, { t.Path("d") }, Accept);
    EXPECT_EQ(r.added, 5);
    EXPECT_TRUE(r.notice.isEmpty());
    // Sorted ignoring case over the whole path; the hidden file and hidden folders are left out.
    EXPECT_EQ(t.Relative(list),
        (QStringList { "d/1/2/3/deeper.bmp", "d/1/2/3/three.ico", "d/1/2/two.gif", "d/1/one.PNG",
            "d/top.jpg" }));

    // Dropped directly, a hidden file is taken; a refused extension adds nothing, silently.
    CollectDrop(list,
        { t.Path("loose/.dot.jpg"), t.Path("loose/B.jpeg"), t.Path("d/notes.txt"),
            t.Path("d/noext") },
        Accept);
    EXPECT_EQ(list.size(), 7);
    EXPECT_TRUE(list.contains(t.Path("loose/.dot.jpg")));
    EXPECT_TRUE(list.contains(t.Path("loose/B.jpeg")));

    // Before the accepted extensions are set every file is taken.
    QStringList all;
    CollectDrop(all, { t.Path("d/notes.txt"), t.Path("d/noext") }, QString());
    EXPECT_EQ(all.size(), 2);
}

TEST(CollectFiles, APatternAndADepthOfZeroKeepToTheFolderItself)
{
    Tree t;
    t.Files({ "p/a.jpg", "p/b.png", "p/noext", "p/sub/c.jpg" });
    QStringList list;
    EXPECT_EQ(CollectFiles(list, t.Path("p/*.jpg"), 0, QString(), 0), 1);
    EXPECT_EQ(t.Relative(list), QStringList { "p/a.jpg" });
    list.clear();
    // "*.*" also takes names without a dot; the depth of 1 reaches the sub-folder.
    EXPECT_EQ(CollectFiles(list, t.Path("p/*.*"), 1, QString(), 0), 4);
    EXPECT_EQ(t.Relative(list), (QStringList { "p/a.jpg", "p/b.png", "p/noext", "p/sub/c.jpg" }));
}

TEST(Drop, SamePathTwiceAndAFolderWithAFileInsideListOnce)
{
    Tree t;
    t.Files({ "p/A.JPG", "p/b.jpg" });
    QStringList list;
    CollectDrop(list, { t.Path("p/A.JPG"), t.Path("p"), t.Path("p/A.JPG") }, Accept);
    CollectDrop(list, { t.Path("p/b.jpg") }, Accept);
    EXPECT_EQ(t.Relative(list), (QStringList { "p/A.JPG", "p/b.jpg" }));
}

TEST(Drop, PathsDifferingInCaseFollowTheFileSystemRule)
{
    Tree t;
    t.Files({ "p/A.JPG", "p/a.jpg" });
    const QString upper = t.Path("p/A.JPG");
    const QString lower = t.Path("p/a.jpg");

    TDropOptions ignoring;
    ignoring.samePath = SamePathIgnoringCase;
    QStringList one;
    CollectDrop(one, { upper }, Accept, ignoring);
    CollectDrop(one, { lower }, Accept, ignoring);
    EXPECT_EQ(one, QStringList { upper });

    TDropOptions exact;
    exact.samePath = SamePathExact;
    QStringList two;
    CollectDrop(two, { upper }, Accept, exact);
    CollectDrop(two, { lower }, Accept, exact);
    EXPECT_EQ(two, (QStringList { upper, lower }));
}

TEST(Drop, LimitsOfDepthAndFileCountStopWithANotice)
{
    Tree t;
    QString deep = QStringLiteral("d");
    QStringList files { "d/f0.jpg" };
    for (int level = 1; level <= 4; ++level) {
        deep += QStringLiteral("/s");
        files.append(deep + QStringLiteral("/f%1.jpg").arg(level));
    }
    t.Files(files);

    TDropOptions shallow;
    shallow.maxDepth = 2;
    QStringList list;
    TDropResult r = CollectDrop(list, { t.Path("d") }, Accept, shallow);
    EXPECT_EQ(t.Relative(list), (QStringList { "d/f0.jpg", "d/s/f1.jpg", "d/s/s/f2.jpg" }));
    EXPECT_TRUE(r.notice.contains(QStringLiteral("2 levels"))) << r.notice.toStdString();

    TDropOptions few;
    few.maxFiles = 3;
    list.clear();
    r = CollectDrop(list, { t.Path("d"), t.Path("d/s/s/s/s/f4.jpg") }, Accept, few);
    EXPECT_EQ(list.size(), 3);
    EXPECT_TRUE(r.notice.contains(QStringLiteral("first 3 files"))) << r.notice.toStdString();
}

TEST(Drop, TheRealDepthLimitStillReachesLevel256)
{
    Tree t;
    QString deep = QStringLiteral("d");
    for (int level = 1; level <= MaxWalkDepth + 1; ++level) {
        deep += QStringLiteral("/s");
        if (level >= MaxWalkDepth)
            t.Files({ deep + QStringLiteral("/f%1.jpg").arg(level) });
    }
    QStringList list;
    const TDropResult r = CollectDrop(list, { t.Path("d") }, Accept);
    ASSERT_EQ(list.size(), 1);
    EXPECT_TRUE(list[0].endsWith(QStringLiteral("/f256.jpg")));
    EXPECT_FALSE(r.notice.isEmpty());
}

TEST(Drop, AFullListRefusesWithItsErrorAndKeepsWhatFitted)
{
    Tree t;
    t.Files({ "p/a.jpg", "p/b.jpg", "p/c.jpg" });
    TDropOptions small;
    small.capacity = 2;
    QStringList list;
    try {
        CollectDrop(list, { t.Path("p") }, Accept, small);
        ADD_FAILURE() << "the full list took every entry";
    } catch (const parvula::errors::EError& e) {
        EXPECT_EQ(e.Code(), parvula::errors::TCode::ListInsert);
    }
    EXPECT_EQ(t.Relative(list), (QStringList { "p/a.jpg", "p/b.jpg" }));
}

#ifndef _WIN32
TEST(Drop, LinkCyclesFifosAndUnreadableFoldersNeverStopTheWalk)
{
    Tree t;
    t.Files({ "d/a.jpg", "d/sub/b.jpg", "d/locked/c.jpg", "other/e.jpg" });
    // A link from deep inside back to the top, and a second way into another folder.
    ASSERT_TRUE(QFile::link(t.Path("d"), t.Path("d/sub/loop")));
    ASSERT_TRUE(QFile::link(t.Path("other"), t.Path("d/sub/toOther")));
    ASSERT_TRUE(QFile::link(t.Path("other"), t.Path("d/toOtherAgain")));
    ASSERT_EQ(::mkfifo(t.Path("d/x.jpg").toLocal8Bit().constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(t.Path("lonely.jpg").toLocal8Bit().constData(), 0600), 0);
    ASSERT_EQ(::chmod(t.Path("d/locked").toLocal8Bit().constData(), 0), 0);

    QStringList list;
    const TDropResult r = CollectDrop(list, { t.Path("d"), t.Path("lonely.jpg") }, Accept);
    ::chmod(t.Path("d/locked").toLocal8Bit().constData(), 0700);

    // "other" is walked once, through the first link met (sub before toOtherAgain).
    QStringList expected { "d/a.jpg", "d/sub/b.jpg", "d/sub/toOther/e.jpg" };
    // Permissions do not bind the superuser, who reads the locked folder too.
    if (::geteuid() == 0)
        expected.insert(1, "d/locked/c.jpg");
    EXPECT_EQ(t.Relative(list), expected);
    // A folder that could not be read is named in the notice; the walk went on past it.
    if (::geteuid() == 0)
        EXPECT_TRUE(r.notice.isEmpty()) << r.notice.toStdString();
    else
        EXPECT_TRUE(r.notice.contains(QStringLiteral("locked"))) << r.notice.toStdString();
}
#endif
