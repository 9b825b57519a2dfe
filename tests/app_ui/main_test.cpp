// The window binary itself: paths on its command line fill the list like a drop, a second start
// hands its paths to the first and ends, a socket left by a killed window does not block the
// next start, --version and a usage error answer without a window, and the program's icon.
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "app/ui/BasUnit1.h"
#include "app/main_args.h"
#include "app_ui/app_ui_support.h"
#include "platform/ui/platform_instance.h"

using namespace parvula;
using platform::TInstanceRequest;
using platform::TSingleInstance;

namespace {

const QString kWindowBinary = QStringLiteral(PARVULA_BIN_DIR "/parvula");

class WindowBinary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_home = m_dir.filePath(QStringLiteral("home"));
        m_runtime = m_dir.filePath(QStringLiteral("runtime"));
        m_pictures = m_dir.filePath(QStringLiteral("pictures"));
        // With its document folder present the window makes it the current folder at start-up,
        // after it has read the relative paths against the folder it was started in.
        ASSERT_TRUE(QDir().mkpath(m_home + QStringLiteral("/Documents/Parvula")));
        ASSERT_TRUE(QDir().mkpath(m_runtime));
        // Qt refuses a runtime folder that others can read.
        ASSERT_TRUE(QFile::setPermissions(
            m_runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        for (const char* name : { "a.jpg", "notes.txt", "sub/b.png", "sub/.hidden.jpg",
                 "sub/deeper/C.GIF", "other/d.bmp", "other/e.ico" })
            Touch(m_pictures + QLatin1Char('/') + QLatin1String(name));
    }

    void TearDown() override
    {
        for (const auto& process : m_processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    static void Touch(const QString& path)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }

    QString ServerName() const { return m_runtime + QStringLiteral("/parvula"); }

    // A start of the window binary in folder, with its own home, settings and runtime folder.
    QProcess* Start(const QStringList& arguments, const QString& folder)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
        if (!env.contains(QStringLiteral("QT_QPA_PLATFORM"))
            && !env.contains(QStringLiteral("DISPLAY"))
            && !env.contains(QStringLiteral("WAYLAND_DISPLAY")))
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(folder);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(kWindowBinary, arguments);
        EXPECT_TRUE(process->waitForStarted(10000)) << process->errorString().toStdString();
        m_processes.push_back(std::move(process));
        return m_processes.back().get();
    }

    // The list of the window serving the socket, once it answers and holds expected.
    QStringList WaitForEntries(const QStringList& expected, QProcess* window)
    {
        QStringList entries;
        QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired() && window->state() == QProcess::Running) {
            if (TSingleInstance::Ask(ServerName(), TInstanceRequest::Entries, {}, entries, 2000)
                && entries == expected)
                return entries;
            QThread::msleep(50);
        }
        return entries;
    }

    QString Picture(const char* name) const
    {
        return m_pictures + QLatin1Char('/') + QLatin1String(name);
    }

    QTemporaryDir m_dir;
    QString m_home;
    QString m_runtime;
    QString m_pictures;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

} // namespace

TEST_F(WindowBinary, PathsOnTheCommandLineAreCollectedLikeADrop)
{
    // A relative path is read against the folder of the start; the folder is walked (the hidden
    // file and the text file stay out), the file given directly is taken as it is.
    QProcess* window
        = Start({ QStringLiteral("sub"), Picture("a.jpg"), Picture("notes.txt") }, m_pictures);
    const QStringList expected { Picture("a.jpg"), Picture("sub/b.png"),
        Picture("sub/deeper/C.GIF") };
    EXPECT_EQ(WaitForEntries(expected, window), expected);
    EXPECT_EQ(window->state(), QProcess::Running);
}

TEST_F(WindowBinary, ASecondStartHandsItsPathsToTheFirstAndEnds)
{
    QProcess* first = Start({ Picture("a.jpg") }, m_pictures);
    ASSERT_EQ(WaitForEntries({ Picture("a.jpg") }, first), QStringList { Picture("a.jpg") });

    // From another folder, with a relative path and a duplicate of what is listed.
    QProcess* second = Start({ QStringLiteral("other"), QStringLiteral("a.jpg") }, m_pictures);
    ASSERT_TRUE(second->waitForFinished(30000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);

    const QStringList expected { Picture("a.jpg"), Picture("other/d.bmp"), Picture("other/e.ico") };
    EXPECT_EQ(WaitForEntries(expected, first), expected);

    // A start without paths only brings the window to the front; the list stays.
    QProcess* third = Start({}, m_dir.path());
    ASSERT_TRUE(third->waitForFinished(30000));
    EXPECT_EQ(third->exitCode(), 0);
    EXPECT_EQ(WaitForEntries(expected, first), expected);
    EXPECT_EQ(first->state(), QProcess::Running);
}

TEST_F(WindowBinary, StartsAtTheSameMomentMakeOneWindowWithAllTheirPaths)
{
    std::vector<QProcess*> starts;
    for (const char* name : { "a.jpg", "other/d.bmp", "other/e.ico" })
        starts.push_back(Start({ Picture(name) }, m_pictures));
    // Two of them hand their paths over and end.
    QProcess* window = nullptr;
    QDeadlineTimer deadline(30000);
    for (;;) {
        int running = 0;
        for (QProcess* start : starts) {
            start->waitForFinished(10);
            if (start->state() == QProcess::Running) {
                ++running;
                window = start;
            }
        }
        if (running <= 1 || deadline.hasExpired()) {
            ASSERT_EQ(running, 1);
            break;
        }
    }
    const QStringList expected { Picture("a.jpg"), Picture("other/d.bmp"), Picture("other/e.ico") };
    EXPECT_EQ(WaitForEntries(expected, window), expected);
}

TEST_F(WindowBinary, ASocketLeftByAKilledWindowDoesNotBlockTheNextStart)
{
    QProcess* crashed = Start({ Picture("a.jpg") }, m_pictures);
    ASSERT_EQ(WaitForEntries({ Picture("a.jpg") }, crashed), QStringList { Picture("a.jpg") });
    crashed->kill();
    ASSERT_TRUE(crashed->waitForFinished(10000));
    // The killed window could not remove its socket.
    ASSERT_TRUE(QFile::exists(ServerName()));

    QProcess* next = Start({ Picture("other/d.bmp") }, m_pictures);
    EXPECT_EQ(
        WaitForEntries({ Picture("other/d.bmp") }, next), QStringList { Picture("other/d.bmp") });
    EXPECT_EQ(next->state(), QProcess::Running);
}

TEST_F(WindowBinary, VersionAndUsageErrorNeedNoWindow)
{
    QProcess* version = Start({ QStringLiteral("--version") }, m_dir.path());
    ASSERT_TRUE(version->waitForFinished(30000));
    EXPECT_EQ(version->exitCode(), 0);
    EXPECT_EQ(
        QString::fromUtf8(version->readAllStandardOutput()), QStringLiteral("parvula 0.2.0.3\n"));

    QProcess* help = Start({ QStringLiteral("--help") }, m_dir.path());
    ASSERT_TRUE(help->waitForFinished(30000));
    EXPECT_EQ(help->exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(help->readAllStandardOutput()), app::WindowUsageText());

    QProcess* wrong = Start({ QStringLiteral("--width"), QStringLiteral("5") }, m_dir.path());
    ASSERT_TRUE(wrong->waitForFinished(30000));
    EXPECT_EQ(wrong->exitCode(), 2);
    // No window was opened, so none serves the socket.
    EXPECT_FALSE(QFile::exists(ServerName()));
}

TEST(ProgramIcon, EveryWindowHasTheIconInTheThemeSizes)
{
    const QList<QSize> sizes = app::ProgramIcon().availableSizes();
    for (int size : { 16, 24, 32, 48, 64, 128, 256 })
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;

    QTemporaryDir dir;
    test::UseOwnFolders(dir);
    ASSERT_TRUE(test::StartWindows());
    EXPECT_EQ(app::Form1->windowIcon().availableSizes(), sizes);
    EXPECT_EQ(QApplication::windowIcon().availableSizes(), sizes);
    app::DestroyWindows();
}
