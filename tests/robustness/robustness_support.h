// Shared helpers of the robustness tests: running a piece of work in a forked child under a hang
// guard and measuring its peak memory, process resources, fixture folders and file bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace parvula::robustness {

using TBytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// What a child process did with one piece of work.
struct TChildResult {
    bool finished = false; // exited normally (not killed by a signal)
    int exitCode = -1;
    int signal = 0; // the signal that ended it, 0 when none
    bool timedOut = false; // ended by the hang guard
    std::int64_t peakKiB = -1; // resident memory the work added at its peak
    double seconds = 0;
    std::string text; // what the work returned, or "exception: <what>" when it threw
    std::string Describe() const;
};

// Runs body in a forked child with alarm(timeoutSeconds) as hang guard. The child's peak resident
// memory is reset just before body runs, so peakKiB is what the work itself took.
TChildResult RunInChild(const std::function<std::string()>& body, int timeoutSeconds);

// Loads the file and draws it on white in a child process (hang guard: GuardSeconds of
// timeoutSeconds): "decoded", or "refused: " and the error text.
TChildResult LoadAndDrawInChild(const std::filesystem::path& path, int timeoutSeconds);

// True when built with AddressSanitizer: its shadow memory and quarantine change memory figures.
bool UnderSanitizer();
// A hang guard scaled for sanitizer builds, which run several times slower.
int GuardSeconds(int seconds);

// Open file descriptors and resident memory of this process.
int OpenFileDescriptors();
std::int64_t ResidentKiB();

// Drops root to the "nobody" account (so permissions apply); false when that is not possible.
bool BecomeNobody();

TBytes ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const TBytes& bytes);
void WriteText(const std::filesystem::path& path, const std::string& text);

// The shared corpus, or an empty path when it is absent.
std::filesystem::path CorporaDir();
std::filesystem::path TestDataDir();

// Every name in a folder (hidden ones included), sorted.
std::vector<std::string> Names(const std::filesystem::path& folder);

// A small image file of the given format ("bmp", "jpg", "png", "gif") with a pattern of colours.
void WriteImage(const std::filesystem::path& path, int width, int height, unsigned seed = 1);

} // namespace parvula::robustness
