// Publishing finished files through a hidden temporary file: as a new file under a free name,
// or as the atomic replacement of a file.
#include "platform/platform_publish.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <QRandomGenerator>

#include "platform/platform_fs.h"

namespace parvula::platform {

namespace {

    using errors::EError;
    using errors::TCode;

    EError Failure(TCode code, const QString& path, const QString& reason)
    {
        return EError(code, path.toStdString(), { reason.toStdString() });
    }

    QString SystemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

    QString Text(const std::filesystem::path& path) { return FromPath(path); }

    // The hidden temporary file, on the file system's own bytes for its name (a folder whose
    // name is not valid in the system's encoding is written into all the same); deleted unless
    // it was given its name.
    class TTemporaryFile {
    public:
        // folderText only names the folder in an error.
        TTemporaryFile(const std::filesystem::path& folder, const QString& folderText)
        {
            // In the target's folder, so giving it its name is a rename on one file system.
            int error = 0;
            for (int attempt = 0; attempt < 100; ++attempt) {
                char name[40];
                std::snprintf(name, sizeof name, ".parvula-%016llx.tmp",
                    static_cast<unsigned long long>(QRandomGenerator::global()->generate64()));
                m_path = folder / name;
#ifdef Q_OS_WIN
                m_fd = ::_wopen(m_path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
#else
                m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
                if (m_fd >= 0)
                    return;
                error = errno;
                if (error != EEXIST)
                    break;
            }
            throw Failure(TCode::CannotCreateIn,
                folderText.isEmpty() ? QStringLiteral(".") : folderText, SystemText(error));
        }
        ~TTemporaryFile()
        {
            if (m_fd >= 0)
                Close();
            if (!m_named) {
                std::error_code ignored;
                std::filesystem::remove(m_path, ignored);
            }
        }
        TTemporaryFile(const TTemporaryFile&) = delete;
        TTemporaryFile& operator=(const TTemporaryFile&) = delete;

        // target only names the file in an error.
        void Write(std::span<const std::uint8_t> bytes, const QString& target, bool sync)
        {
            std::size_t done = 0;
            while (done < bytes.size()) {
                const std::size_t chunk = std::min<std::size_t>(bytes.size() - done, 1 << 30);
#ifdef Q_OS_WIN
                const auto written
                    = ::_write(m_fd, bytes.data() + done, static_cast<unsigned>(chunk));
#else
                const ssize_t written = ::write(m_fd, bytes.data() + done, chunk);
#endif
                if (written < 0 && errno == EINTR)
                    continue;
                if (written <= 0)
                    Fail(target, written < 0 ? errno : ENOSPC);
                done += static_cast<std::size_t>(written);
            }
#ifdef Q_OS_WIN
            if (sync && ::_commit(m_fd) != 0)
#else
            if (sync && ::fsync(m_fd) != 0)
#endif
                Fail(target, errno);
            // Closing reports the errors of the last writes on some file systems (NFS).
            if (Close() != 0)
                Fail(target, errno);
        }
        const std::filesystem::path& Path() const { return m_path; }
        void Named() { m_named = true; }

    private:
        [[noreturn]] void Fail(const QString& target, int error)
        {
            throw Failure(TCode::CannotWriteOutput, target, SystemText(error));
        }
        int Close()
        {
#ifdef Q_OS_WIN
            const int result = ::_close(m_fd);
#else
            const int result = ::close(m_fd);
#endif
            m_fd = -1;
            return result;
        }

        std::filesystem::path m_path;
        int m_fd = -1;
        bool m_named = false;
    };

} // namespace

QString PublishNewFile(const QString& folder, std::span<const std::uint8_t> bytes,
    const std::function<QString(int)>& candidate, int first, int last, const QString& dateOf)
{
    QString target = candidate(first);
    TTemporaryFile temporary(ToPath(folder), folder);
    temporary.Write(bytes, target, false);
    const QString from = Text(temporary.Path());
    // Given to the hidden file, which keeps it through the rename: the output never shows
    // under its name with the wrong date.
    QString dateError;
    if (!dateOf.isEmpty() && !CopyModificationTime(dateOf, from, &dateError))
        throw Failure(TCode::CannotKeepDate, target, dateError);
    for (int number = first;;) {
        QString error;
        switch (PublishNoReplace(from, target, &error)) {
        case TPublishResult::Published:
            temporary.Named();
            return target;
        case TPublishResult::NameTaken:
            do {
                if (++number > last)
                    throw EError(TCode::NoFreeName, candidate(first).toStdString(),
                        { std::to_string(last) });
                target = candidate(number);
            } while (EntryExists(target));
            break;
        case TPublishResult::Failed:
            throw Failure(TCode::CannotWriteOutput, target, error);
        }
    }
}

void ReplaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes)
{
    TTemporaryFile temporary(path.parent_path(), Text(path.parent_path()));
    temporary.Write(bytes, Text(path), true);
    std::error_code ec;
    const std::filesystem::file_status old = std::filesystem::symlink_status(path, ec);
    if (!ec && std::filesystem::is_regular_file(old))
        std::filesystem::permissions(temporary.Path(), old.permissions(), ec);
    // rename replaces the entry itself in one step, a link included.
    std::filesystem::rename(temporary.Path(), path, ec);
    if (ec)
        throw Failure(TCode::CannotWriteOutput, Text(path), QString::fromStdString(ec.message()));
    temporary.Named();
}

TFileLock::TFileLock(const QString& path)
    : m_lock(path)
{
}

bool TFileLock::TryLock(int timeoutMs) { return m_lock.tryLock(timeoutMs); }

} // namespace parvula::platform
