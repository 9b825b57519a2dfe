// Shared helpers of the robustness tests: forked children with a hang guard and peak memory,
// process resources, files.
#include "robustness/robustness_support.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/picture_save.h"
#include "imaging/imagefiles.h"

namespace parvula::robustness {

namespace {

    // A value in KiB from /proc/self/status ("VmRSS", "VmHWM"), -1 when absent.
    std::int64_t StatusKiB(const char* field)
    {
        std::ifstream in("/proc/self/status");
        std::string line;
        const std::string prefix = std::string(field) + ":";
        while (std::getline(in, line))
            if (line.rfind(prefix, 0) == 0)
                return std::stoll(line.substr(prefix.size()));
        return -1;
    }

    void WriteAll(int fd, const std::string& text)
    {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }

} // namespace

TTempDir::TTempDir()
{
    std::string pattern
        = (std::filesystem::temp_directory_path() / "parvula-robust-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    m_path = pattern;
}

TTempDir::~TTempDir()
{
    std::error_code ec;
    // A test may have left folders without permissions: give them back first.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string TChildResult::Describe() const
{
    std::ostringstream s;
    if (timedOut)
        s << "hang guard fired after " << seconds << " s";
    else if (!finished)
        s << "killed by signal " << signal << " (" << strsignal(signal) << ")";
    else
        s << "exit " << exitCode;
    s << "; peak " << peakKiB << " KiB; " << text;
    return s.str();
}

TChildResult RunInChild(const std::function<std::string()>& body, int timeoutSeconds)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::signal(SIGALRM, SIG_DFL);
        ::alarm(static_cast<unsigned>(timeoutSeconds));
        // Writing 5 resets VmHWM to the current resident size: the peak is the work's own.
        if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", f);
            std::fclose(f);
        }
        const std::int64_t before = StatusKiB("VmRSS");
        std::string text;
        try {
            text = body();
        } catch (const std::exception& e) {
            text = std::string("exception: ") + e.what();
        } catch (...) {
            text = "exception: (not a std::exception)";
        }
        const std::int64_t peak = StatusKiB("VmHWM");
        WriteAll(pipeFds[1], std::to_string(peak - before) + "\n" + text);
        ::close(pipeFds[1]);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    TChildResult result;
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) {
        result.finished = true;
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
        result.timedOut = result.signal == SIGALRM;
    }
    const std::size_t newline = output.find('\n');
    if (newline != std::string::npos) {
        result.peakKiB = std::stoll(output.substr(0, newline));
        result.text = output.substr(newline + 1);
    }
    return result;
}

bool UnderSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

int GuardSeconds(int seconds) { return UnderSanitizer() ? seconds * 5 : seconds; }

TChildResult LoadAndDrawInChild(const std::filesystem::path& path, int timeoutSeconds)
{
    return RunInChild(
        [&]() -> std::string {
            try {
                imaging::TPicture picture;
                imaging::LoadFromFile(picture, path);
                imaging::ConvertPictureToBitmap(picture);
                return "decoded";
            } catch (const imaging::EImageError& error) {
                return std::string("refused: ") + error.what();
            }
        },
        GuardSeconds(timeoutSeconds));
}

int OpenFileDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

std::int64_t ResidentKiB() { return StatusKiB("VmRSS"); }

bool BecomeNobody()
{
    if (::getuid() != 0)
        return true; // permissions already apply
    return ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

TBytes ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, const TBytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(
        reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::filesystem::path CorporaDir()
{
    const std::filesystem::path dir = PARVULA_CORPORA_DIR;
    return std::filesystem::exists(dir / "MANIFEST.tsv") ? dir : std::filesystem::path();
}

std::filesystem::path TestDataDir() { return PARVULA_TEST_DATA_DIR; }

std::vector<std::string> Names(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void WriteImage(const std::filesystem::path& path, int width, int height, unsigned seed)
{
    imaging::TBitmap bitmap(width, height, 24);
    unsigned state = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width * 3; ++x) {
            state = state * 1103515245u + 12345u;
            row[x] = static_cast<std::uint8_t>(state >> 16);
        }
    }
    imaging::TPicture picture;
    picture.Assign(std::move(bitmap));
    if (!app::SaveByExtension(picture, path))
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace parvula::robustness
