// One long-lived process: a batch of 1,000 small files, then 100 runs that each end on a damaged
// file. Open file descriptors and resident memory must stay flat across the failing runs, which
// catches handles and buffers left behind on the codecs' error paths.
#include <iostream>

#include <gtest/gtest.h>

#include "app/BasUnit1_batch.h"
#include "platform/platform_fs.h"
#include "robustness/robustness_support.h"

using namespace parvula;
using namespace parvula::robustness;

namespace {

// A copy of a valid file cut to part of its length (or with bytes overwritten from an offset).
void Damage(const std::filesystem::path& from, const std::filesystem::path& to, double keep)
{
    TBytes bytes = ReadBytes(from);
    bytes.resize(static_cast<std::size_t>(static_cast<double>(bytes.size()) * keep));
    WriteBytes(to, bytes);
}

} // namespace

TEST(Endurance, FailingRunsLeakNeitherDescriptorsNorMemory)
{
    TTempDir dir;
    const char* formats[] = { "bmp", "jpg", "png", "gif" };
    QStringList good;
    for (int i = 0; i < 1000; ++i) {
        const std::filesystem::path path = dir / ("g" + std::to_string(i) + "." + formats[i % 4]);
        WriteImage(path, 24, 16, static_cast<unsigned>(i));
        good << platform::FromPath(path);
    }
    // Each damaged file fails inside its codec, after the decoder has taken its memory.
    WriteImage(dir / "big.jpg", 256, 256);
    WriteImage(dir / "big.png", 256, 256);
    WriteImage(dir / "big.gif", 256, 256);
    WriteImage(dir / "big.bmp", 256, 256);
    Damage(dir / "big.jpg", dir / "bad_header.jpg", 0.002); // inside the tables
    Damage(dir / "big.png", dir / "bad_rows.png", 0.5);
    Damage(dir / "big.gif", dir / "bad_rows.gif", 0.5);
    Damage(dir / "big.bmp", dir / "bad_rows.bmp", 0.5);
    WriteText(dir / "bad_directory.ico", std::string("\0\0\1\0\1\0", 6));
    const QStringList damaged
        = { "bad_header.jpg", "bad_rows.png", "bad_rows.gif", "bad_rows.bmp", "bad_directory.ico" };

    const TChildResult r = RunInChild(
        [&]() -> std::string {
            app::TBatchSettings settings;
            settings.width = 8;
            settings.height = 8;
            settings.filter = 6;
            app::TBatchRun run([settings] { return settings; });
            if (app::RunBatch(run, good) != 1000)
                return "the good batch did not write every file";
            int fds = 0;
            std::int64_t resident = 0;
            std::string log;
            for (int i = 0; i < 100; ++i) {
                // The first runs are a warm-up: a codec may set up tables once per process.
                if (i == 10) {
                    fds = OpenFileDescriptors();
                    resident = ResidentKiB();
                }
                const QStringList entries
                    = { good.at(i), platform::FromPath(dir.Path()) + "/" + damaged.at(i % 5) };
                try {
                    app::RunBatch(run, entries);
                    return "run " + std::to_string(i) + " did not fail";
                } catch (const std::exception&) {
                }
            }
            return std::to_string(OpenFileDescriptors() - fds) + " "
                + std::to_string(ResidentKiB() - resident);
        },
        GuardSeconds(60));
    ASSERT_TRUE(r.finished) << r.Describe();
    std::istringstream figures(r.text);
    int fdGrowth = -1;
    std::int64_t residentGrowth = -1;
    figures >> fdGrowth >> residentGrowth;
    ASSERT_TRUE(figures) << r.text;
    std::cout << "[endurance] " << r.seconds << " s; across 90 failing runs: descriptors +"
              << fdGrowth << ", resident " << residentGrowth << " KiB\n";
    EXPECT_EQ(fdGrowth, 0);
    // The sanitizer's quarantine holds freed memory back on purpose; its leak check at exit
    // covers that build instead.
    if (!UnderSanitizer()) {
        EXPECT_LT(residentGrowth, 1024);
    }
}
