// Stopping parvula-cli from outside: Ctrl-C and SIGTERM end the run after the file in progress,
// keep every file written, leave no temporary file, and say how many were created.
#include <csignal>
#include <utility>

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

#include "app/picture_save.h"
#include "cli/cli_run.h"
#include "imaging/imagefiles.h"
#include "platform/platform_fs.h"
#include "platform/platform_signals.h"

using namespace parvula;

namespace {

// Folder with count pictures of w × h, p00.png, p01.png, …
void MakePictures(const QString& folder, int count, int w, int h)
{
    imaging::TBitmap bmp(w, h, 24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = bmp.ScanLine(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x * 3);
            p[1] = static_cast<std::uint8_t>(y * 5);
            p[2] = static_cast<std::uint8_t>(x ^ y);
        }
    imaging::TPicture picture;
    picture.Assign(std::move(bmp));
    for (int i = 0; i < count; ++i) {
        const QString path = folder + QStringLiteral("/p%1.png").arg(i, 2, 10, QLatin1Char('0'));
        ASSERT_TRUE(app::SaveAsPng(picture, platform::ToPath(path)));
    }
}

QStringList Entries(const QString& folder, const QString& pattern)
{
    return QDir(folder).entryList({ pattern }, QDir::Files | QDir::Hidden, QDir::Name);
}

// Standard output that raises a signal in this process when the run writes its first line, so
// the request arrives, deterministically, while the run is under way.
class TSignallingOutput : public QBuffer {
public:
    explicit TSignallingOutput(int signal)
        : m_signal(signal)
    {
    }

protected:
    qint64 writeData(const char* data, qint64 length) override
    {
        const qint64 written = QBuffer::writeData(data, length);
        if (m_signal && buffer().contains('\n')) {
            std::raise(std::exchange(m_signal, 0));
        }
        return written;
    }

private:
    int m_signal;
};

class CliStop : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        platform::ClearStopRequest();
        platform::InstallStopHandlers();
    }
    void TearDown() override
    {
        // The test binary itself must stay stoppable by Ctrl-C.
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        platform::ClearStopRequest();
    }
    QTemporaryDir folder;
};

} // namespace

TEST_F(CliStop, ARequestDuringTheRunEndsItAfterTheFileInProgress)
{
    MakePictures(folder.path(), 8, 16, 16);
    const struct {
        int signal;
        int status;
    } cases[] = { { SIGINT, 130 }, { SIGTERM, 143 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        platform::ClearStopRequest();
        for (const QString& made : Entries(folder.path(), "tn_*"))
            QFile::remove(folder.filePath(made));

        TSignallingOutput device(c.signal);
        ASSERT_TRUE(device.open(QIODevice::WriteOnly));
        QString errText;
        QTextStream out(&device);
        QTextStream err(&errText);
        const int status = cli::RunCli({ folder.path() }, out, err, false);
        out.flush();
        EXPECT_EQ(status, c.status);
        const QString text = QString::fromUtf8(device.data());
        // The request came while the first line was written: no further file was started.
        EXPECT_EQ(text.count(QStringLiteral(" -> ")), 1) << text.toStdString();
        EXPECT_TRUE(text.endsWith(QStringLiteral("Created: 1\n"))) << text.toStdString();
        EXPECT_EQ(Entries(folder.path(), "tn_*"), QStringList { "tn_p00.png" });
        EXPECT_TRUE(Entries(folder.path(), ".parvula-*").isEmpty());
        EXPECT_TRUE(errText.contains(QStringLiteral("stopped after 1 of 8")))
            << errText.toStdString();
    }
}

TEST_F(CliStop, ARequestBeforeTheFirstFileWritesNothing)
{
    MakePictures(folder.path(), 3, 8, 8);
    std::raise(SIGINT);
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    EXPECT_EQ(cli::RunCli({ folder.path() }, out, err, false), platform::kExitInterrupted);
    out.flush();
    EXPECT_EQ(outText, QStringLiteral("Created: 0\n"));
    EXPECT_TRUE(Entries(folder.path(), "tn_*").isEmpty());
}

TEST(CliHelp, TellsTheExitStatusOfAStop)
{
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    EXPECT_EQ(cli::RunCli({ "--help" }, out, err, false), cli::kExitOk);
    out.flush();
    EXPECT_TRUE(outText.contains(QStringLiteral("130"))) << outText.toStdString();
    EXPECT_TRUE(outText.contains(QStringLiteral("SIGINT")));
}

// The real process on a folder of many files: Ctrl-C once the first output is listed.
TEST(CliInterrupt, CtrlCLeavesCompleteDecodableOutputsAndNoTemporaryFile)
{
#ifndef Q_OS_UNIX
    GTEST_SKIP() << "sends SIGINT, which only POSIX systems deliver to another process";
#else
    QTemporaryDir home;
    QTemporaryDir tree;
    ASSERT_TRUE(home.isValid() && tree.isValid());
    constexpr int kFiles = 40;
    MakePictures(tree.path(), kFiles, 640, 480);

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(PARVULA_BIN_DIR "/parvula-cli"),
        { "--width", "64", "--filter", "lanczos3", tree.path() });
    ASSERT_TRUE(process.waitForStarted());
    QByteArray out;
    const QDeadlineTimer deadline(60000);
    while (!out.contains('\n') && !deadline.hasExpired() && process.state() == QProcess::Running) {
        process.waitForReadyRead(1000);
        out += process.readAllStandardOutput();
    }
    ASSERT_TRUE(out.contains(" -> ")) << out.toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
    ASSERT_TRUE(process.waitForFinished(60000));
    out += process.readAllStandardOutput();
    const QString err = QString::fromUtf8(process.readAllStandardError());

    ASSERT_EQ(process.exitStatus(), QProcess::NormalExit) << "ended by the signal itself";
    EXPECT_EQ(process.exitCode(), platform::kExitInterrupted) << err.toStdString();

    // Every listed output is there, complete, and nothing else was written.
    QStringList listed;
    int created = -1;
    for (const QString& line : QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts)) {
        const qsizetype arrow = line.indexOf(QStringLiteral(" -> "));
        if (arrow >= 0)
            listed << QFileInfo(line.mid(arrow + 4)).fileName();
        else if (line.startsWith(QStringLiteral("Created: ")))
            created = line.mid(9).toInt();
    }
    EXPECT_EQ(created, listed.size()) << out.toStdString();
    listed.sort();
    EXPECT_EQ(Entries(tree.path(), "tn_*"), listed);
    for (const QString& name : listed) {
        imaging::TPicture picture;
        ASSERT_NO_THROW(imaging::LoadFromFile(picture, platform::ToPath(tree.filePath(name))))
            << name.toStdString();
        EXPECT_EQ(picture.Width(), 64) << name.toStdString();
        EXPECT_EQ(picture.Height(), 48) << name.toStdString();
    }
    EXPECT_TRUE(Entries(tree.path(), ".parvula-*").isEmpty());
#endif
}
