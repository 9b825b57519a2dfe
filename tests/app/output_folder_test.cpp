// Thumbnails into an output folder: the dropped tree kept below it, naming and never-overwrite
// as beside the source, missing folders made, a folder that cannot be made ending the run.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include "app/BasUnit1_batch.h"
#include "app/DragDrop1_collect.h"
#include "app/picture_save.h"
#include "imaging/imagefiles.h"
#include "platform/platform_fs.h"

using namespace parvula;
using parvula::app::TBatchSettings;

namespace {

void MakePng(const QString& path, int w = 24, int h = 16)
{
    QDir().mkpath(QFileInfo(path).path());
    imaging::TBitmap bmp(w, h, 24);
    bmp.Fill({ 40, 90, 200 });
    imaging::TPicture picture;
    picture.Assign(std::move(bmp));
    ASSERT_TRUE(app::SaveAsPng(picture, platform::ToPath(path)));
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file below folder, as paths relative to it, sorted.
QStringList Tree(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

struct OutputFolder : ::testing::Test {
    QTemporaryDir dir;
    TBatchSettings settings;
    QString Path(const QString& name) const { return dir.path() + "/" + name; }

    // Collects paths like a drop and runs the batch over them; returns the outputs.
    QStringList Drop(const QStringList& paths, int jobs = 1)
    {
        QStringList entries;
        const app::TDropResult dropped = app::CollectDrop(entries, paths, app::DefaultFileAccept());
        app::TBatchRun run([this] { return settings; });
        run.SetJobs(jobs);
        run.SetDroppedWith(dropped.droppedWith);
        QStringList outputs;
        app::RunBatch(run, entries,
            [&](int, const QString&, const QString& output) { outputs.append(output); });
        return outputs;
    }
};

} // namespace

TEST_F(OutputFolder, ADroppedTreeIsKeptBelowTheOutputFolderAndAFileOnItsOwnGoesIntoIt)
{
    MakePng(Path("Trip/day1/a.png"));
    MakePng(Path("Trip/day2/b.png"));
    MakePng(Path("Trip/day2/deeper/a.png")); // the same name, another folder
    MakePng(Path("loose/c.png"));
    settings.outputDir = Path("Thumbs");
    for (const int jobs : { 1, 3 }) {
        SCOPED_TRACE(jobs);
        QDir(Path("Thumbs")).removeRecursively();
        Drop({ Path("Trip"), Path("loose/c.png") }, jobs);
        EXPECT_EQ(Tree(Path("Thumbs")),
            (QStringList { "Trip/day1/tn_a.png", "Trip/day2/deeper/tn_a.png", "Trip/day2/tn_b.png",
                "tn_c.png" }));
    }
    // The sources' own folders got nothing.
    EXPECT_EQ(
        Tree(Path("Trip")), (QStringList { "day1/a.png", "day2/b.png", "day2/deeper/a.png" }));
    // A folder given below another keeps the tree below itself only.
    QDir(Path("Thumbs")).removeRecursively();
    Drop({ Path("Trip/day2") });
    EXPECT_EQ(Tree(Path("Thumbs")), (QStringList { "day2/deeper/tn_a.png", "day2/tn_b.png" }));
}

TEST_F(OutputFolder, NamesTakenInTheTargetMoveOnAndASecondRunOverwritesNothing)
{
    MakePng(Path("Trip/a.png"));
    MakePng(Path("Trip/b.png"), 30, 20);
    settings.outputDir = Path("out");
    settings.format = QStringLiteral("bmp");
    QDir().mkpath(Path("out/Trip"));
    QFile taken(Path("out/Trip/tn_a.bmp"));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.write("someone else's");
    taken.close();

    EXPECT_EQ(Drop({ Path("Trip") }),
        (QStringList { Path("out/Trip/tn_a_1.bmp"), Path("out/Trip/tn_b.bmp") }));
    const QByteArray first = ReadAll(Path("out/Trip/tn_b.bmp"));
    EXPECT_EQ(Drop({ Path("Trip") }),
        (QStringList { Path("out/Trip/tn_a_2.bmp"), Path("out/Trip/tn_b_1.bmp") }));
    EXPECT_EQ(ReadAll(Path("out/Trip/tn_a.bmp")), "someone else's");
    EXPECT_EQ(ReadAll(Path("out/Trip/tn_b.bmp")), first);
    EXPECT_EQ(ReadAll(Path("out/Trip/tn_b_1.bmp")), first);
}

TEST_F(OutputFolder, AFolderThatCannotBeMadeEndsTheRunAtItsFirstFileWritingNothing)
{
    MakePng(Path("src/a.png"));
    MakePng(Path("src/b.png"));
    QFile file(Path("plain-file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    settings.outputDir = Path("plain-file/out");
    QStringList entries { Path("src/a.png"), Path("src/b.png") };
    app::TBatchRun run([this] { return settings; });
    int written = 0;
    try {
        app::RunBatch(run, entries, [&](int, const QString&, const QString&) { ++written; });
        ADD_FAILURE() << "the run went through";
    } catch (const errors::EError& e) {
        EXPECT_EQ(e.Code(), errors::TCode::CannotCreateFolder);
        EXPECT_NE(
            std::string(e.what()).find(Path("plain-file/out").toStdString()), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(written, 0);
    EXPECT_EQ(Tree(Path("src")), (QStringList { "a.png", "b.png" }));
}

TEST_F(OutputFolder, EmptyMeansBesideTheSourceAndPlanningMakesNoFolder)
{
    MakePng(Path("Trip/a.png"));
    EXPECT_EQ(Drop({ Path("Trip") }), QStringList { Path("Trip/tn_a.png") });

    settings.outputDir = Path("planned");
    QStringList entries;
    const app::TDropResult dropped = app::CollectDrop(entries, { Path("Trip") }, {});
    app::TBatchRun run([this] { return settings; });
    run.SetDroppedWith(dropped.droppedWith);
    EXPECT_EQ(run.PlannedOutput(Path("Trip/a.png")), Path("planned/Trip/tn_a.png"));
    EXPECT_FALSE(QFileInfo::exists(Path("planned")));
}

TEST(OutputFolderOf, EmptyStaysEmptyAndRelativePathsLieBelowTheBase)
{
    const QString home = QDir::homePath();
    const std::tuple<const char*, const char*, QString> cases[] = {
        { "", "/base", QString() },
        { "   ", "/base", QString() },
        { "Thumbs", "/base", "/base/Thumbs" },
        { "a/../b/", "/base", "/base/b" },
        { "/abs/out", "/base", "/abs/out" },
        { "~", "/base", home },
        { "~/Thumbs", "/base", home + "/Thumbs" },
    };
    for (const auto& [setting, base, expected] : cases)
        EXPECT_EQ(
            app::OutputFolderOf(QString::fromUtf8(setting), QString::fromUtf8(base)), expected)
            << setting;
}
