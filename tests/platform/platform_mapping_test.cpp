// Tests of mapped files: the bytes, the files that are read instead, and the guard against a
// file cut short while it is mapped.
#include "app/picture_save.h"
#include "platform/platform_mapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include <QTemporaryDir>

#include "imaging/imagefiles.h"
#include "imaging/picstretch1.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace parvula;
using platform::TMappedFile;

namespace {

std::vector<std::uint8_t> NoiseBytes(std::size_t size)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(
        reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Open file descriptors of the process, where the system lists them.
int OpenFiles()
{
    std::error_code ec;
    int count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end;
         it.increment(ec))
        ++count;
    return count;
}

class MappedFileTest : public ::testing::Test {
protected:
    std::filesystem::path Path(const char* name) const
    {
        return std::filesystem::path(m_dir.path().toStdString()) / name;
    }
    QTemporaryDir m_dir;
};

TEST_F(MappedFileTest, GivesTheFilesBytes)
{
    const auto bytes = NoiseBytes(3 * 4096 + 123);
    WriteFile(Path("a.bin"), bytes);
    const auto mapped = TMappedFile::Open(Path("a.bin"), 1 << 20);
    ASSERT_TRUE(mapped);
    EXPECT_TRUE(
        std::equal(bytes.begin(), bytes.end(), mapped->Bytes().begin(), mapped->Bytes().end()));
    EXPECT_FALSE(mapped->Damaged());
}

// Pages let go are read from the file again: the bytes stay the file's, before, at and past the
// offset (inside a page and at the end), and however often.
TEST_F(MappedFileTest, PagesLetGoReadAsTheFileAgain)
{
    const auto bytes = NoiseBytes(40 * 4096 + 77);
    WriteFile(Path("a.bin"), bytes);
    const auto mapped = TMappedFile::Open(Path("a.bin"), 1 << 20);
    ASSERT_TRUE(mapped);
    for (const std::size_t offset : { std::size_t { 0 }, std::size_t { 5000 },
             17 * std::size_t { 4096 }, bytes.size(), bytes.size() + 9999 }) {
        mapped->LetGo(offset);
        EXPECT_TRUE(
            std::equal(bytes.begin(), bytes.end(), mapped->Bytes().begin(), mapped->Bytes().end()))
            << offset;
    }
    EXPECT_FALSE(mapped->Damaged());
}

// Each of these is left to the ordinary read, which reports the reason in its own words.
TEST_F(MappedFileTest, LeavesToTheReadWhatItCannotMap)
{
    const int openBefore = OpenFiles();
    WriteFile(Path("empty.bin"), {});
    WriteFile(Path("large.bin"), NoiseBytes(1000));
    std::filesystem::create_directory(Path("folder"));
    EXPECT_FALSE(TMappedFile::Open(Path("missing.bin"), 1 << 20));
    EXPECT_FALSE(TMappedFile::Open(Path("empty.bin"), 1 << 20));
    EXPECT_FALSE(TMappedFile::Open(Path("folder"), 1 << 20));
    EXPECT_FALSE(TMappedFile::Open(Path("large.bin"), 999));
    EXPECT_TRUE(TMappedFile::Open(Path("large.bin"), 1000));
#ifndef _WIN32
    // Opening a FIFO for reading would wait for a writer.
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(TMappedFile::Open(Path("fifo"), 1 << 20));
#endif
    EXPECT_EQ(OpenFiles(), openBefore);
}

TEST_F(MappedFileTest, MapsManyFilesAtOnceAndReadsTheRest)
{
    WriteFile(Path("a.bin"), NoiseBytes(100));
    const int openBefore = OpenFiles();
    std::vector<std::shared_ptr<TMappedFile>> held;
    for (int i = 0; i < 100; ++i)
        held.push_back(TMappedFile::Open(Path("a.bin"), 1 << 20));
    const auto mapped
        = std::count_if(held.begin(), held.end(), [](const auto& m) { return m != nullptr; });
    EXPECT_GE(mapped, 16);
    EXPECT_LT(mapped, 100);
    held.clear();
    EXPECT_EQ(OpenFiles(), openBefore);
    // Every record is free again.
    for (int i = 0; i < 16; ++i)
        held.push_back(TMappedFile::Open(Path("a.bin"), 1 << 20));
    EXPECT_TRUE(std::all_of(held.begin(), held.end(), [](const auto& m) { return m != nullptr; }));
}

#ifndef _WIN32

// Pages past the file's new end read as zeros instead of ending the process, and the mapping
// says so; cut within the last page, the lost bytes read as zeros without any fault.
TEST_F(MappedFileTest, SurvivesTheFileCutShort)
{
    const long page = sysconf(_SC_PAGESIZE);
    for (const std::size_t cut : { std::size_t { 0 }, std::size_t(page), std::size_t(page) + 10,
             std::size_t(3 * page) - 1 }) {
        SCOPED_TRACE(cut);
        WriteFile(Path("a.bin"), NoiseBytes(3 * static_cast<std::size_t>(page)));
        const auto mapped = TMappedFile::Open(Path("a.bin"), 1 << 20);
        ASSERT_TRUE(mapped);
        std::filesystem::resize_file(Path("a.bin"), cut);
        const auto bytes = mapped->Bytes();
        unsigned past = 0;
        for (std::size_t i = (cut + static_cast<std::size_t>(page) - 1) / page * page;
             i < bytes.size(); ++i)
            past |= bytes[i];
        EXPECT_EQ(past, 0u);
        EXPECT_TRUE(mapped->Damaged());
    }
}

// Workers may read the same lost pages at the same moment: each gets zeros.
TEST_F(MappedFileTest, SurvivesTwoThreadsReadingLostPagesAtOnce)
{
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    WriteFile(Path("a.bin"), NoiseBytes(64 * page));
    const auto mapped = TMappedFile::Open(Path("a.bin"), 1 << 30);
    ASSERT_TRUE(mapped);
    std::filesystem::resize_file(Path("a.bin"), 0);
    const auto bytes = mapped->Bytes();
    unsigned seen[2] = { 1, 1 };
    auto read = [&](int k) {
        unsigned all = 0;
        for (std::size_t i = 0; i < bytes.size(); i += 512)
            all |= bytes[i];
        seen[k] = all;
    };
    std::thread first(read, 0);
    std::thread second(read, 1);
    first.join();
    second.join();
    EXPECT_EQ(seen[0], 0u);
    EXPECT_EQ(seen[1], 0u);
    EXPECT_TRUE(mapped->Damaged());
}

// Written over in place, at the same size: no page is lost, but the bytes are no longer one
// file's.
TEST_F(MappedFileTest, NoticesTheFileWrittenOver)
{
    WriteFile(Path("a.bin"), NoiseBytes(3 * 4096));
    std::filesystem::last_write_time(
        Path("a.bin"), std::filesystem::last_write_time(Path("a.bin")) - std::chrono::hours(24));
    const auto mapped = TMappedFile::Open(Path("a.bin"), 1 << 20);
    ASSERT_TRUE(mapped);
    EXPECT_FALSE(mapped->Damaged());
    {
        std::fstream file(Path("a.bin"), std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(5000);
        file.put('x');
    }
    EXPECT_TRUE(mapped->Damaged());
}

// A JPEG cut short in the middle of being decoded: no crash, and the mapping marked damaged,
// so the batch run throws its thumbnail away.
TEST_F(MappedFileTest, DecodingAJpegCutShortEndsInDamage)
{
    imaging::TBitmap noise(1200, 900, 24);
    std::mt19937 random(3);
    for (int y = 0; y < noise.Height(); ++y)
        for (int x = 0; x < noise.Width() * 3; ++x)
            noise.ScanLine(y)[x] = static_cast<std::uint8_t>(random());
    imaging::TPicture source;
    source.Assign(std::move(noise));
    ASSERT_TRUE(app::SaveAsJpeg(source, Path("photo.jpg"), 95));
    const auto size = std::filesystem::file_size(Path("photo.jpg"));
    ASSERT_GT(size, 16u * 4096);

    const auto mapped = TMappedFile::Open(Path("photo.jpg"), 1 << 30);
    ASSERT_TRUE(mapped);
    imaging::TPicture picture;
    imaging::LoadFromBytes(picture, Path("photo.jpg"), mapped, mapped->Bytes());
    std::filesystem::resize_file(Path("photo.jpg"), size / 3);
    try {
        imaging::FitToBox(picture,
            { 200, 200, true, imaging::TFitDirection::BothWays, imaging::TFilter::Lanczos3 });
    } catch (const imaging::EImageError&) {
        // The zeros may well make the rest of the file invalid.
    }
    EXPECT_TRUE(mapped->Damaged());
}

// The guard takes only the faults of its own mappings: any other bus error still ends the
// process.
TEST_F(MappedFileTest, LeavesOtherBusErrorsFatal)
{
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    WriteFile(Path("guarded.bin"), NoiseBytes(100));
    WriteFile(Path("other.bin"), NoiseBytes(3 * page));
    const auto guarded = TMappedFile::Open(Path("guarded.bin"), 1 << 20);
    ASSERT_TRUE(guarded);
    const std::string other = Path("other.bin").string();
    const int file = ::open(other.c_str(), O_RDONLY);
    ASSERT_GE(file, 0);
    void* mapping = mmap(nullptr, 3 * page, PROT_READ, MAP_PRIVATE, file, 0);
    ::close(file);
    ASSERT_NE(mapping, MAP_FAILED);
    const auto* data = static_cast<const volatile std::uint8_t*>(mapping);
    // A fault in a mapping of someone else's (the sanitizer, where present, reports it).
    EXPECT_DEATH(
        {
            std::filesystem::resize_file(other, 0);
            (void)data[2 * page];
        },
        "");
    // A bus error sent by a process, not raised by a read.
    EXPECT_DEATH(raise(SIGBUS), "");
    munmap(mapping, 3 * page);
}

#endif

} // namespace
