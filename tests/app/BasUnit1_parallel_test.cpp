// The batch run with several files in flight: the same names and bytes as one file after
// another, publication in list order, and a failure or a stop that publishes exactly the files
// before it.
#include <gtest/gtest.h>

#include <thread>

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

// A picture with fine detail, so every kernel and writer has something to change.
imaging::TBitmap Texture(int w, int h, int seed)
{
    imaging::TBitmap bmp(w, h, 24);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < 3 * w; ++x)
            row[x] = static_cast<std::uint8_t>((x * 37 + y * 91 + seed * 53 + x * y) % 256);
    }
    return bmp;
}

void MakeImage(const QString& path, int w, int h, int seed)
{
    imaging::TPicture picture;
    picture.Assign(Texture(w, h, seed));
    const QString ext = QFileInfo(path).suffix().toLower();
    const auto target = platform::ToPath(path);
    if (ext == "jpg")
        ASSERT_TRUE(app::SaveAsJpeg(picture, target, 92));
    else
        ASSERT_TRUE(app::SaveByExtension(picture, target));
}

QStringList Entries(const QString& dir)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.sort();
    return names;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The same sources in two folders, so a run with one job and a run with several can be compared.
struct TParallelFixture : ::testing::Test {
    QTemporaryDir one;
    QTemporaryDir many;
    QStringList names;

    void MakeSources(const QStringList& list)
    {
        names = list;
        int seed = 0;
        for (const QString& name : names) {
            ++seed;
            // Odd sizes, landscape and portrait.
            const int w = 31 + 17 * (seed % 5);
            const int h = 23 + 13 * (seed % 4);
            MakeImage(one.path() + "/" + name, w, h, seed);
            QFile::copy(one.path() + "/" + name, many.path() + "/" + name);
        }
    }
    QStringList In(const QTemporaryDir& dir) const
    {
        QStringList paths;
        for (const QString& name : names)
            paths << dir.path() + "/" + name;
        return paths;
    }
};

} // namespace

TEST_F(TParallelFixture, SeveralJobsWriteTheNamesAndBytesOfOneJob)
{
    // b.png and b.jpg both become tn_b.jpg: the one first in the list takes the plain name.
    MakeSources({ "a.jpg", "b.jpg", "b.png", "c.gif", "d.bmp", "e.jpg", "f.png", "g.jpg", "h.gif",
        "i.jpg", "j.png" });
    struct TCase {
        int filter;
        int width;
        int height;
        const char* format;
    };
    const TCase cases[] = {
        { 6, 20, 20, "jpg" }, // Lanczos3, shrinking
        { 2, 90, 0, "" }, // Triangle, enlarging, each source's own format
        { 0, 25, 25, "png" }, // no filter
        { 7, 33, 17, "gif" }, // Mitchell into palette output
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.filter);
        TBatchSettings settings;
        settings.filter = c.filter;
        settings.width = c.width;
        settings.height = c.height;
        settings.format = c.format;
        settings.namex = QStringLiteral("tn%1_").arg(c.filter);

        app::TBatchRun sequential([&] { return settings; });
        sequential.SetJobs(1);
        QStringList outputsOne;
        EXPECT_EQ(app::RunBatch(sequential, In(one),
                      [&](int, const QString&, const QString& out) { outputsOne << out; }),
            names.size());

        app::TBatchRun parallel([&] { return settings; });
        parallel.SetJobs(4);
        QStringList outputsMany;
        EXPECT_EQ(app::RunBatch(parallel, In(many),
                      [&](int, const QString&, const QString& out) { outputsMany << out; }),
            names.size());

        ASSERT_EQ(outputsOne.size(), outputsMany.size());
        for (int i = 0; i < outputsOne.size(); ++i) {
            EXPECT_EQ(QFileInfo(outputsOne[i]).fileName(), QFileInfo(outputsMany[i]).fileName());
            EXPECT_EQ(ReadAll(outputsOne[i]), ReadAll(outputsMany[i]))
                << outputsMany[i].toStdString();
        }
        EXPECT_EQ(Entries(one.path()), Entries(many.path()));
    }
}

TEST_F(TParallelFixture, AFailureInTheMiddlePublishesExactlyTheFilesBeforeIt)
{
    MakeSources({ "a.jpg", "b.png", "c.jpg", "d.png", "e.jpg", "f.png", "g.jpg", "h.png" });
    // The fourth file is broken; the files after it are fine and would be done first by the
    // workers, but none of them may appear.
    QFile broken(many.path() + "/d.png");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("not a png at all");
    broken.close();

    TBatchSettings settings;
    settings.filter = 6;
    settings.width = 16;
    settings.height = 16;
    for (int jobs : { 2, 3, 8 }) {
        SCOPED_TRACE(jobs);
        app::TBatchRun run([&] { return settings; });
        run.SetJobs(jobs);
        std::vector<int> published;
        try {
            app::RunBatch(run, In(many),
                [&](int index, const QString&, const QString&) { published.push_back(index); });
            ADD_FAILURE() << "the broken file did not end the run";
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find("PNG"), std::string::npos) << e.what();
        }
        EXPECT_EQ(published, (std::vector<int> { 0, 1, 2 }));
        const QStringList outputs = Entries(many.path()).filter(QStringLiteral("tn_"));
        EXPECT_EQ(outputs, (QStringList { "tn_a.jpg", "tn_b.png", "tn_c.jpg" }));
        for (const QString& name : Entries(many.path()))
            EXPECT_FALSE(name.startsWith('.')) << "temporary file left: " << name.toStdString();
        for (const QString& name : outputs)
            QFile::remove(many.path() + "/" + name);
    }
}

TEST_F(TParallelFixture, CallbacksAndSettingsStayOnTheCallingThreadInListOrder)
{
    MakeSources({ "a.jpg", "b.png", "c.jpg", "d.png", "e.jpg", "f.png" });
    const std::thread::id caller = std::this_thread::get_id();
    TBatchSettings settings;
    settings.filter = 2;
    settings.width = 10;
    int settingsReads = 0;
    app::TBatchRun run([&] {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        ++settingsReads;
        return settings;
    });
    run.SetJobs(3);
    std::vector<int> asked;
    std::vector<int> published;
    // A stop requested while the third file is reported (as a cancel button or Ctrl-C would):
    // the workers are ahead, but nothing after the third file may be written.
    bool stop = false;
    const int created = app::RunBatch(
        run, In(many),
        [&](int index, const QString&, const QString&) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            published.push_back(index);
            stop = index == 2;
        },
        [&](int index, const QString&) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            asked.push_back(index);
            return !stop;
        });
    EXPECT_EQ(created, 3);
    EXPECT_EQ(asked, (std::vector<int> { 0, 1, 2, 3 }));
    EXPECT_EQ(published, (std::vector<int> { 0, 1, 2 }));
    EXPECT_GE(settingsReads, 3); // files in flight have had theirs read
    EXPECT_EQ(Entries(many.path()).filter(QStringLiteral("tn_")),
        (QStringList { "tn_a.jpg", "tn_b.png", "tn_c.jpg" }));
    for (const QString& name : Entries(many.path()))
        EXPECT_FALSE(name.startsWith('.')) << "temporary file left: " << name.toStdString();
}

TEST_F(TParallelFixture, NamesAreClaimedWhenPublishedSoANameTakenMeanwhileIsPassedOver)
{
    MakeSources({ "a.png", "b.png", "c.png" });
    TBatchSettings settings;
    app::TBatchRun run([&] { return settings; });
    run.SetJobs(2);
    QStringList outputs;
    // After a's output appears, another program takes tn_c.png while c is being worked on.
    app::RunBatch(run, In(many), [&](int index, const QString&, const QString& out) {
        outputs << QFileInfo(out).fileName();
        if (index == 0) {
            QFile taken(many.path() + "/tn_c.png");
            ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
        }
    });
    EXPECT_EQ(outputs, (QStringList { "tn_a.png", "tn_b.png", "tn_c_1.png" }));
    EXPECT_EQ(ReadAll(many.path() + "/tn_c.png"), QByteArray());
}
