// The folder walk on hostile trees, each walk in a child process under a hang guard: link cycles,
// dangling links, unreadable folders, a FIFO with an image name, names that are not UTF-8, a tree
// deeper than the limit and a drop of 50,000 files.
#include <algorithm>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/BasUnit1_batch.h"
#include "app/DragDrop1_collect.h"
#include "platform/platform_fs.h"
#include "robustness/robustness_support.h"

using namespace parvula;
using namespace parvula::robustness;

namespace {

QString Q(const std::filesystem::path& path) { return platform::FromPath(path); }

// A drop of one folder in a child: the entries relative to root, one per line, then the notice.
std::string DropInChild(
    const std::filesystem::path& root, int seconds = 20, const std::function<bool()>& prepare = {})
{
    const TChildResult r = RunInChild(
        [&]() -> std::string {
            if (prepare && !prepare())
                return "skip";
            QStringList list;
            const app::TDropResult result
                = app::CollectDrop(list, { Q(root) }, app::DefaultFileAccept());
            std::string text;
            for (const QString& entry : list)
                text += entry.mid(Q(root).size() + 1).toStdString() + "\n";
            return text + "notice: " + result.notice.toStdString();
        },
        GuardSeconds(seconds));
    EXPECT_TRUE(r.finished && r.exitCode == 0) << r.Describe();
    return r.text;
}

void Touch(const std::filesystem::path& path)
{
    std::filesystem::create_directories(path.parent_path());
    WriteText(path, "x");
}

} // namespace

TEST(Walk, LinkCyclesAndDanglingLinksNeitherLoopNorAppear)
{
    TTempDir dir;
    Touch(dir / "x.jpg");
    Touch(dir / "a/y.jpg");
    std::filesystem::create_directory_symlink("..", dir / "a/up"); // a cycle through the parent
    std::filesystem::create_directory_symlink(dir.Path(), dir / "a/root"); // and an absolute one
    std::filesystem::create_symlink(dir / "nowhere.jpg", dir / "dead.jpg");
    std::filesystem::create_directory_symlink(dir / "gone", dir / "deadfolder");
    EXPECT_EQ(DropInChild(dir.Path()), "a/y.jpg\nx.jpg\nnotice: ");
}

TEST(Walk, AFifoNamedLikeAnImageNeverBlocks)
{
    TTempDir dir;
    Touch(dir / "y.jpg");
    ASSERT_EQ(::mkfifo((dir / "x.jpg").c_str(), 0644), 0);
    EXPECT_EQ(DropInChild(dir.Path()), "y.jpg\nnotice: ");

    // Dropped directly and run anyway (as parvula-cli would if handed the name): an error.
    const TChildResult r = RunInChild(
        [&]() -> std::string {
            QStringList list;
            app::CollectDrop(list, { Q(dir / "x.jpg") }, app::DefaultFileAccept());
            app::TBatchRun run([] { return app::TBatchSettings {}; });
            try {
                run.MakeOutputFile(Q(dir / "x.jpg"));
            } catch (const std::exception& e) {
                return std::to_string(list.size()) + " taken; " + e.what();
            }
            return "written";
        },
        GuardSeconds(10));
    ASSERT_TRUE(r.finished) << r.Describe();
    EXPECT_EQ(r.text.rfind("0 taken; ", 0), 0u) << r.text;
    EXPECT_FALSE(std::filesystem::exists(dir / "tn_x.jpg"));
}

TEST(Walk, AnUnreadableFolderIsSkippedAndTheWalkGoesOn)
{
    TTempDir dir;
    Touch(dir / "a/y.jpg");
    Touch(dir / "b/locked/z.jpg");
    Touch(dir / "c/w.jpg");
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);
    for (const char* open : { "a", "b", "c" })
        std::filesystem::permissions(dir / open, std::filesystem::perms::all);
    std::filesystem::permissions(dir / "b/locked", std::filesystem::perms::none);
    const std::string text = DropInChild(dir.Path(), 20, [] { return BecomeNobody(); });
    if (text == "skip")
        GTEST_SKIP() << "cannot drop root privileges here";
    EXPECT_EQ(text.substr(0, text.find("notice: ")), "a/y.jpg\nc/w.jpg\n");
    // The user learns that a folder was left out.
    EXPECT_NE(text.find("locked"), std::string::npos) << text;
}

// Qt turns bytes that are not UTF-8 into replacement characters, so such a name cannot be opened
// through the text the list holds: the drop leaves it out and says so, rather than listing a file
// that fails later or losing it without a word. Its valid neighbours are taken as usual.
TEST(Walk, ANameThatIsNotUtf8IsReportedNotLost)
{
    TTempDir dir;
    const std::string raw = "\xff\xfe-caf\xe9";
    WriteImage(dir / (raw + ".bmp"), 20, 20);
    std::filesystem::create_directories(dir / ("sub" + raw));
    WriteImage(dir / ("sub" + raw) / "inside.bmp", 20, 20);
    WriteImage(dir / "caf\xc3\xa9.bmp", 20, 20); // valid UTF-8
    const std::string text = DropInChild(dir.Path());
    EXPECT_EQ(text.substr(0, text.find("notice: ")), "caf\xc3\xa9.bmp\n");
    EXPECT_NE(text.find("2 name(s) not valid in the system's encoding"), std::string::npos) << text;
}

TEST(Walk, ATreeDeeperThanTheLimitIsCutWithANotice)
{
    TTempDir dir;
    std::filesystem::path folder = dir.Path();
    std::string relative;
    for (int level = 0; level <= app::MaxWalkDepth + 40; ++level) {
        Touch(folder / "f.png");
        folder /= "d";
        relative += "d/";
    }
    const std::string text = DropInChild(dir.Path(), 60);
    // Files of the dropped folder and of the MaxWalkDepth levels below it.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), app::MaxWalkDepth + 1);
    EXPECT_NE(text.find(std::to_string(app::MaxWalkDepth) + " levels"), std::string::npos)
        << text.substr(text.find("notice: "));
}

TEST(Walk, FiftyThousandFilesInOneDropStaySorted)
{
    TTempDir dir;
    constexpr int count = 50000;
    for (int i = 0; i < count; ++i) {
        // Letter case and order mixed, so the list's own order must do the sorting.
        const int k = (i * 7919) % count;
        const std::string name = std::string(k % 3 ? "Img" : "img") + std::to_string(k) + ".jpg";
        const int fd = ::creat((dir / ("s" + std::to_string(k % 10)) / name).c_str(), 0644);
        if (fd < 0) {
            std::filesystem::create_directories(dir / ("s" + std::to_string(k % 10)));
            ::close(::creat((dir / ("s" + std::to_string(k % 10)) / name).c_str(), 0644));
        } else {
            ::close(fd);
        }
    }
    // A hang guard only: a quadratic walk or insertion would blow far past it.
    const TChildResult r = RunInChild(
        [&]() -> std::string {
            QStringList list;
            app::CollectDrop(list, { Q(dir.Path()) }, app::DefaultFileAccept());
            const bool sorted = std::is_sorted(list.begin(), list.end(),
                [](const QString& a, const QString& b) { return app::CompareEntries(a, b) < 0; });
            return std::to_string(list.size()) + (sorted ? " sorted" : " unsorted");
        },
        GuardSeconds(120));
    ASSERT_TRUE(r.finished) << r.Describe();
    EXPECT_EQ(r.text, std::to_string(count) + " sorted");
    std::cout << "[walk] " << count << " files collected in " << r.seconds << " s\n";
}
