// Write faults and races, each in a child process: a full disk (a file-size limit), a read-only
// folder, a second process taking the output names while the run publishes, a dangling link and
// the source itself under a candidate name, two program instances writing the settings file.
#include <csignal>
#include <set>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif

#include <QProcess>

#include "app/BasUnit1_batch.h"
#include "app/picture_save.h"
#include "framework/spz1_ini.h"
#include "imaging/imagefiles.h"
#include "platform/platform_fs.h"
#include "robustness/robustness_support.h"

using namespace parvula;
using namespace parvula::robustness;

namespace {

// The "disk" holds bytes more bytes per file: writes beyond fail with EFBIG instead of a signal.
void LimitFileSize(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit { bytes, bytes };
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

QString Q(const std::filesystem::path& path) { return platform::FromPath(path); }

app::TBatchSettings BmpSettings()
{
    app::TBatchSettings s;
    s.format = QStringLiteral("bmp");
    return s;
}

// One output through the batch run, in the child: the path written or "exception: ...".
std::string MakeOutput(const std::filesystem::path& source, const app::TBatchSettings& settings)
{
    app::TBatchRun run([settings] { return settings; });
    return run.MakeOutputFile(Q(source)).toStdString();
}

// A folder that the "nobody" account may enter and read but not write.
void OpenForReading(const std::filesystem::path& path)
{
    std::filesystem::permissions(path,
        std::filesystem::perms::owner_all | std::filesystem::perms::group_read
            | std::filesystem::perms::group_exec | std::filesystem::perms::others_read
            | std::filesystem::perms::others_exec);
}

class Faults : public ::testing::Test {
protected:
    TTempDir dir;
    std::filesystem::path source = dir / "a.bmp";
    void SetUp() override { WriteImage(source, 300, 300); } // 270 KB as BMP
};

} // namespace

TEST_F(Faults, AFailingThumbnailWriteLeavesNothingAndReportsTheError)
{
    struct TCase {
        const char* name;
        std::function<bool()> prepare; // in the child; false: not possible here
    };
    OpenForReading(dir.Path());
    const std::vector<TCase> cases = {
        { "disk full",
            [] {
                LimitFileSize(4096);
                return true;
            } },
        { "read-only folder", [] { return BecomeNobody(); } },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool batch : { true, false }) {
            const TChildResult r = RunInChild(
                [&]() -> std::string {
                    if (!c.prepare())
                        return "skip";
                    if (batch)
                        return MakeOutput(source, BmpSettings());
                    imaging::TPicture picture;
                    imaging::LoadFromFile(picture, source);
                    return app::SaveByExtension(picture, dir / "b.png") ? "saved" : "false";
                },
                GuardSeconds(20));
            if (r.text == "skip")
                GTEST_SKIP() << "cannot drop root privileges here";
            ASSERT_TRUE(r.finished) << r.Describe();
            EXPECT_EQ(r.text.rfind("exception: ", 0), 0u) << r.text;
            // The user is told where writing failed: the file, or its folder when no file could
            // be created there at all.
            EXPECT_NE(r.text.find(dir.Path().string()), std::string::npos) << r.text;
            EXPECT_EQ(Names(dir.Path()), std::vector<std::string> { "a.bmp" });
        }
    }
}

// A copy of parvula-cli that the "nobody" account can run: the build folder may lie where only
// root may enter (root's home is mode 700 on Debian).
std::filesystem::path ReachableCopyOfTheCli(const TTempDir& into)
{
    const std::filesystem::path copy = into.Path() / "parvula-cli";
    std::filesystem::copy_file(PARVULA_BIN_DIR "/parvula-cli", copy);
    using std::filesystem::perms;
    const perms enterAndRun = perms::owner_all | perms::group_read | perms::group_exec
        | perms::others_read | perms::others_exec;
    std::filesystem::permissions(into.Path(), enterAndRun);
    std::filesystem::permissions(copy, enterAndRun);
    return copy;
}

TEST_F(Faults, ParvulaCliReportsAFailedWriteOnStderrWithStatus1)
{
    const TTempDir bin;
    const std::filesystem::path cli = ReachableCopyOfTheCli(bin);
    for (const bool readOnly : { false, true }) {
        SCOPED_TRACE(readOnly ? "read-only folder" : "disk full");
        TTempDir home;
        OpenForReading(dir.Path());
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", Q(home.Path()));
        env.insert("XDG_CONFIG_HOME", Q(home.Path()) + "/.config");
        process.setProcessEnvironment(env);
        process.setChildProcessModifier([readOnly] {
            if (readOnly)
                BecomeNobody();
            else
                LimitFileSize(4096);
        });
        // A working folder the child may enter, wherever the tests were started from.
        process.setWorkingDirectory(Q(bin.Path()));
        process.start(Q(cli), { "--format", "bmp", "--quiet", Q(source) });
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 1);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_TRUE(err.contains(Q(dir.Path()))) << err.toStdString();
        EXPECT_EQ(Names(dir.Path()), std::vector<std::string> { "a.bmp" });
    }
}

TEST_F(Faults, AFailingSettingsWriteOrProfileDeletionKeepsThePreviousFile)
{
    const std::filesystem::path ini = dir / "parvula.ini";
    const std::string previous
        = "[parvula]\r\nWidth=120\r\n[Profile A]\r\nPrefix=tn_\r\nWidth=64\r\n"
          "[Profile B]\r\nPrefix=sm_\r\n";
    OpenForReading(dir.Path());
    struct TCase {
        const char* name;
        std::function<bool()> prepare;
        std::function<void()> write;
    };
    const QString path = Q(ini);
    const auto writeLongValue
        = [path] { framework::WriteSetting("parvula", "Note", QString(1500, u'x'), path); };
    const auto deleteProfile = [path] {
        QStringList lines = framework::ReadSettingsLines(path);
        framework::RemoveSection(lines, "Profile A");
        framework::WriteSettingsLines(path, lines);
    };
    const std::vector<TCase> cases = {
        { "disk full, new key",
            [&] {
                LimitFileSize(previous.size() + 8);
                return true;
            },
            writeLongValue },
        { "disk full, profile deleted",
            [] {
                LimitFileSize(16);
                return true;
            },
            deleteProfile },
        { "read-only folder, new key", [] { return BecomeNobody(); }, writeLongValue },
        { "read-only folder, profile deleted", [] { return BecomeNobody(); }, deleteProfile },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteText(ini, previous);
        const TChildResult r = RunInChild(
            [&]() -> std::string {
                if (!c.prepare())
                    return "skip";
                c.write();
                return "written";
            },
            GuardSeconds(30));
        if (r.text == "skip")
            GTEST_SKIP() << "cannot drop root privileges here";
        ASSERT_TRUE(r.finished) << r.Describe();
        EXPECT_EQ(r.text.rfind("exception: ", 0), 0u) << r.text;
        EXPECT_NE(r.text.find("parvula.ini"), std::string::npos) << r.text;
        const TBytes after = ReadBytes(ini);
        EXPECT_EQ(std::string(after.begin(), after.end()), previous);
        EXPECT_EQ(Names(dir.Path()), (std::vector<std::string> { "a.bmp", "parvula.ini" }));
    }
}

TEST_F(Faults, ADanglingLinkOrTheSourceUnderACandidateNameIsPassedOver)
{
    // A link to a file that does not exist yet: writing through it would create the victim.
    std::filesystem::create_symlink(dir / "victim.bmp", dir / "tn_a.bmp");
    EXPECT_EQ(MakeOutput(source, BmpSettings()), (dir / "tn_a_1.bmp").string());
    EXPECT_FALSE(std::filesystem::exists(dir / "victim.bmp"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "tn_a.bmp"));

    // No affix and the source's own format: the first candidate is the source itself.
    const TBytes original = ReadBytes(source);
    app::TBatchSettings same;
    same.namex.clear();
    same.width = 10;
    same.height = 10;
    EXPECT_EQ(MakeOutput(source, same), (dir / "a_1.bmp").string());
    EXPECT_EQ(ReadBytes(source), original);
    imaging::TPicture thumbnail;
    imaging::LoadFromFile(thumbnail, dir / "a_1.bmp");
    EXPECT_EQ(thumbnail.Width(), 10);
}

#ifdef __linux__
// A second process creates the very name the run is about to publish, the moment the run's
// temporary file appears. The run must land on the next free name and overwrite nothing.
// A second process takes each candidate name in target the moment our temporary file appears
// there; the run writes ten outputs of source into target with settings.
void RaceTheRun(const std::filesystem::path& source, const std::filesystem::path& target,
    const app::TBatchSettings& settings, const std::filesystem::path& sourceFolder)
{
    WriteImage(source, 1000, 700); // a 2 MB output: the write takes long enough to be raced
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    int took[2]; // a byte for every name the racer takes
    ASSERT_EQ(::pipe(took), 0);
    const pid_t racer = ::fork();
    if (racer == 0) {
        // Stopped only while waiting for the next event, never half-way through taking a name
        // (an empty file of its own would look like a lost output).
        sigset_t stop;
        sigset_t waiting;
        sigemptyset(&stop);
        sigaddset(&stop, SIGTERM);
        ::sigprocmask(SIG_BLOCK, &stop, &waiting);
        const int watch = ::inotify_init();
        ::inotify_add_watch(watch, target.c_str(), IN_CREATE);
        (void)!::write(ready[1], "r", 1);
        alignas(inotify_event) char buffer[4096];
        int taken = 0;
        for (;;) {
            pollfd next { watch, POLLIN, 0 };
            if (::ppoll(&next, 1, nullptr, &waiting) < 0)
                continue;
            const ssize_t n = ::read(watch, buffer, sizeof buffer);
            if (n <= 0)
                ::_exit(1);
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->len == 0 || std::string(event->name).rfind(".parvula-", 0) != 0)
                    continue;
                // The run chose the first free candidate before creating its temporary file.
                for (int k = 0;; ++k) {
                    const std::string name
                        = k == 0 ? "tn_a.bmp" : "tn_a_" + std::to_string(k) + ".bmp";
                    const int fd
                        = ::open((target / name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                    if (fd >= 0) {
                        const std::string mark = "racer " + std::to_string(++taken);
                        (void)!::write(fd, mark.data(), mark.size());
                        ::close(fd);
                        (void)!::write(took[1], "t", 1);
                        break;
                    }
                }
            }
        }
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    std::set<std::string> ours;
    for (int i = 0; i < 10; ++i)
        ours.insert(MakeOutput(source, settings));
    // On a busy machine the racer may not have run at all yet: it is given time to react to
    // the temporary files before it is stopped.
    pollfd reacted { took[0], POLLIN, 0 };
    (void)::poll(&reacted, 1, 10000);
    ::kill(racer, SIGTERM);
    ::waitpid(racer, nullptr, 0);
    for (const int fd : { ready[0], ready[1], took[0], took[1] })
        ::close(fd);

    EXPECT_EQ(ours.size(), 10u);
    int racerFiles = 0;
    for (const std::string& name : Names(target)) {
        SCOPED_TRACE(name);
        EXPECT_NE(name.rfind(".parvula-", 0), 0u) << "temporary file left behind";
        if (name == "a.bmp")
            continue;
        const std::string path = (target / name).string();
        const TBytes bytes = ReadBytes(path);
        if (ours.count(path)) {
            imaging::TPicture picture;
            imaging::LoadFromFile(picture, path);
            EXPECT_EQ(picture.Width(), 1000);
        } else {
            ++racerFiles;
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()).rfind("racer ", 0), 0u);
        }
    }
    // The racer reacts to every temporary file; had it never won, the race was not tested.
    EXPECT_GT(racerFiles, 0);
    const std::size_t sources = target == sourceFolder ? 1u : 0u;
    EXPECT_EQ(Names(target).size(), sources + ours.size() + racerFiles);
    if (sources == 0) {
        EXPECT_EQ(Names(sourceFolder), (std::vector<std::string> { "a.bmp", "out" }));
    }
}

TEST_F(Faults, ASecondProcessTakingTheCandidateNamesWhileWeWriteLosesNothing)
{
    RaceTheRun(source, dir.Path(), BmpSettings(), dir.Path());
}

TEST_F(Faults, ARacerInAnOutputFolderLosesNothingEither)
{
    const std::filesystem::path out = dir / "out";
    std::filesystem::create_directory(out);
    app::TBatchSettings settings = BmpSettings();
    settings.outputDir = Q(out);
    RaceTheRun(source, out, settings, dir.Path());
}

#endif

// Two program instances saving their settings at the same moment: each rewrite happens under the
// lock on the latest file, so no profile either of them stored goes missing.
TEST_F(Faults, TwoInstancesWritingTheSettingsFileLoseNoProfile)
{
    const QString ini = Q(dir / "parvula.ini");
    constexpr int perProcess = 60;
    std::vector<pid_t> writers;
    for (int w = 0; w < 2; ++w) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::alarm(static_cast<unsigned>(GuardSeconds(60)));
            int status = 0;
            try {
                for (int i = 0; i < perProcess; ++i) {
                    const QString profile = QStringLiteral("Profile %1-%2").arg(w).arg(i);
                    framework::WriteSetting(profile, "Width", i, ini);
                    framework::WriteSetting(
                        "parvula", QStringLiteral("Key%1-%2").arg(w).arg(i), i * 3, ini);
                }
            } catch (...) {
                status = 3;
            }
            ::_exit(status);
        }
        writers.push_back(pid);
    }
    for (const pid_t pid : writers) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    int missing = 0;
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < perProcess; ++i) {
            const QString profile = QStringLiteral("Profile %1-%2").arg(w).arg(i);
            missing += framework::ReadSetting(profile, "Width", "", ini) != QString::number(i);
            missing += framework::ReadSetting(
                           "parvula", QStringLiteral("Key%1-%2").arg(w).arg(i), "", ini)
                != QString::number(i * 3);
        }
    EXPECT_EQ(missing, 0);
}
