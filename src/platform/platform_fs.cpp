// File-system services on Qt and POSIX.
#include "platform/platform_fs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace parvula::platform {

std::filesystem::path ToPath(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    // The file system's own bytes: a name that is not valid UTF-8 survives the round trip.
    const QByteArray bytes = QFile::encodeName(path);
    return std::filesystem::path(std::string(bytes.constData(), bytes.size()));
#endif
}

QString FromPath(const std::filesystem::path& path)
{
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.wstring());
#else
    const std::string& s = path.native();
    return QFile::decodeName(QByteArray(s.data(), static_cast<qsizetype>(s.size())));
#endif
}

QChar PathSeparator()
{
#ifdef Q_OS_WIN
    return QLatin1Char('\\');
#else
    return QLatin1Char('/');
#endif
}

bool IsPathSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
#else
    return c == QLatin1Char('/');
#endif
}

bool EntryExists(const QString& path)
{
    if (path.isEmpty())
        return false;
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
#else
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
#endif
}

bool FolderExists(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

bool FolderIdentity(const QString& path, TFileId& id)
{
#ifdef Q_OS_WIN
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    id.device = 0;
    id.inode = qHash(canonical.toLower());
    return true;
#else
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    return true;
#endif
}

bool ListFolder(const QString& folder, QList<TFolderEntry>& entries)
{
    entries.clear();
#ifdef Q_OS_WIN
    QDir dir(folder);
    if (!dir.exists() || !dir.isReadable())
        return false;
    const QFileInfoList list
        = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : list) {
        TFolderEntry e;
        e.name = info.fileName();
        e.folder = info.isDir();
        e.regularFile = info.isFile();
        e.hidden = info.isHidden();
        entries.append(e);
    }
    return true;
#else
    const QByteArray encoded = QFile::encodeName(folder);
    DIR* dir = ::opendir(encoded.constData());
    if (!dir)
        return false;
    const int dirFd = ::dirfd(dir);
    while (dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0)
            continue;
        TFolderEntry e;
        const QByteArray raw(d->d_name);
        e.name = QFile::decodeName(raw);
        e.undecodable = QFile::encodeName(e.name) != raw;
        e.hidden = d->d_name[0] == '.';
        // fstatat follows links without opening anything, so a FIFO is recognised, never read.
        struct stat st;
        if (::fstatat(dirFd, d->d_name, &st, 0) == 0) {
            e.folder = S_ISDIR(st.st_mode);
            e.regularFile = S_ISREG(st.st_mode);
        }
        entries.append(e);
    }
    ::closedir(dir);
    return true;
#endif
}

namespace {

    // QFile::rename refuses an existing target and uses renameat2(RENAME_NOREPLACE) where the
    // kernel offers it; the name may still be taken between its test and the rename.
    TPublishResult RenameRefusingExisting(const QString& from, const QString& to, QString* error)
    {
        QFile file(from);
        if (file.rename(to))
            return TPublishResult::Published;
        if (EntryExists(to))
            return TPublishResult::NameTaken;
        if (error)
            *error = file.errorString();
        return TPublishResult::Failed;
    }

} // namespace

bool CopyModificationTime(const QString& from, const QString& to, QString* error)
{
    std::error_code ec;
    const std::filesystem::file_time_type time = std::filesystem::last_write_time(ToPath(from), ec);
    if (!ec)
        std::filesystem::last_write_time(ToPath(to), time, ec);
    if (ec && error)
        *error = QString::fromStdString(ec.message());
    return !ec;
}

TPublishResult PublishNoReplace(const QString& from, const QString& to, QString* error)
{
    if (EntryExists(to))
        return TPublishResult::NameTaken;
#ifdef Q_OS_WIN
    return RenameRefusingExisting(from, to, error);
#else
    // link() fails with EEXIST when any entry, a dangling link included, holds the name, and it
    // never follows a link; the temporary name is removed only after it succeeded.
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    if (::link(src.constData(), dst.constData()) == 0) {
        ::unlink(src.constData());
        return TPublishResult::Published;
    }
    const int err = errno;
    if (err == EEXIST)
        return TPublishResult::NameTaken;
    if (err == EPERM || err == ENOTSUP || err == EXDEV || err == EMLINK)
        return RenameRefusingExisting(from, to, error); // a file system without hard links
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(err));
    return TPublishResult::Failed;
#endif
}

bool StdoutIsTerminal()
{
#ifdef Q_OS_WIN
    return ::_isatty(::_fileno(stdout)) != 0;
#else
    return ::isatty(STDOUT_FILENO) != 0;
#endif
}

} // namespace parvula::platform
