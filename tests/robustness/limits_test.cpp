// The resource limits that the bombs do not reach, each with the message that names it: the file
// size, progressive JPEG scans, numbered output names and files per drop.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "app/BasUnit1_batch.h"
#include "app/DragDrop1_collect.h"
#include "imaging/imagefiles.h"
#include "imaging/limits.h"
#include "platform/platform_fs.h"
#include "robustness/robustness_support.h"

using namespace parvula;
using namespace parvula::robustness;

namespace {

// An 8 x 8 grey progressive JPEG whose DC scan is repeated scans times. Each scan holds one block
// whose only code, "0", says the DC value is unchanged.
TBytes ProgressiveJpeg(int scans)
{
    TBytes b = { 0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00 };
    b.insert(b.end(), 64, 1);
    const std::uint8_t frame[]
        = { 0xFF, 0xC2, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00 };
    b.insert(b.end(), std::begin(frame), std::end(frame));
    const std::uint8_t table[]
        = { 0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00 };
    b.insert(b.end(), std::begin(table), std::end(table));
    const std::uint8_t scan[]
        = { 0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x7F };
    for (int i = 0; i < scans; ++i)
        b.insert(b.end(), std::begin(scan), std::end(scan));
    b.push_back(0xFF);
    b.push_back(0xD9);
    return b;
}

std::string LoadText(const std::filesystem::path& path)
{
    try {
        imaging::TPicture picture;
        imaging::LoadFromFile(picture, path);
        imaging::ConvertPictureToBitmap(picture);
        return "decoded " + std::to_string(picture.Width()) + "x"
            + std::to_string(picture.Height());
    } catch (const imaging::EImageError& error) {
        return std::string("refused: ") + error.what();
    }
}

} // namespace

TEST(Limits, AFileLargerThanTheLimitIsRefusedUnread)
{
    TTempDir dir;
    // Sparse: no disk space, but a size above the limit.
    const std::filesystem::path path = dir / "huge.png";
    WriteImage(path, 8, 8);
    std::filesystem::resize_file(path, imaging::MaxFileBytes + 1);
    const TChildResult r = RunInChild([&] { return LoadText(path); }, GuardSeconds(10));
    ASSERT_TRUE(r.finished) << r.Describe();
    EXPECT_NE(r.text.find("512 MiB"), std::string::npos) << r.text;
    EXPECT_LT(r.peakKiB, 24 * 1024) << r.Describe();
}

TEST(Limits, ProgressiveJpegScansStopAtTheLimit)
{
    TTempDir dir;
    WriteBytes(dir / "ok.jpg", ProgressiveJpeg(imaging::MaxJpegScans));
    WriteBytes(dir / "many.jpg", ProgressiveJpeg(imaging::MaxJpegScans + 1));
    EXPECT_EQ(LoadText(dir / "ok.jpg"), "decoded 8x8");
    const std::string text = LoadText(dir / "many.jpg");
    EXPECT_EQ(text.rfind("refused: ", 0), 0u) << text;
    EXPECT_NE(text.find(std::to_string(imaging::MaxJpegScans)), std::string::npos) << text;
}

TEST(Limits, WhenEveryNumberedNameIsTakenNothingIsWrittenAndTheLimitIsNamed)
{
    TTempDir dir;
    WriteImage(dir / "a.bmp", 8, 8);
    for (int n = 0; n <= app::MaxNameCandidates; ++n) {
        const std::string name = n == 0 ? "tn_a.bmp" : "tn_a_" + std::to_string(n) + ".bmp";
        ::close(::open((dir / name).c_str(), O_WRONLY | O_CREAT, 0644));
    }
    app::TBatchRun run([] { return app::TBatchSettings {}; });
    try {
        run.MakeOutputFile(platform::FromPath(dir / "a.bmp"));
        ADD_FAILURE() << "a file was written";
    } catch (const app::EBatchError& error) {
        EXPECT_NE(std::string(error.what()).find("_9999"), std::string::npos) << error.what();
    }
    EXPECT_EQ(Names(dir.Path()).size(), 2u + app::MaxNameCandidates);
}

TEST(Limits, ADropTakesAtMostTheFileLimitAndSaysSo)
{
    TTempDir dir;
    for (int i = 0; i <= app::MaxDropFiles; ++i)
        ::close(
            ::open((dir / ("f" + std::to_string(i) + ".gif")).c_str(), O_WRONLY | O_CREAT, 0644));
    QStringList list;
    const app::TDropResult result
        = app::CollectDrop(list, { platform::FromPath(dir.Path()) }, app::DefaultFileAccept());
    EXPECT_EQ(list.size(), app::MaxDropFiles);
    EXPECT_TRUE(result.notice.contains(QString::number(app::MaxDropFiles)))
        << result.notice.toStdString();
}
