// The program's version record and build date, read back from an executable file.
#include "platform/platform_version.h"

#include <algorithm>
#include <array>
#include <functional>
#include <string_view>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include "buildinfo.h"
#include "platform/platform_buildstamp.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#ifdef _MSC_VER
#pragma comment(lib, "version.lib")
#endif
#endif

namespace parvula::platform {

namespace {

    // Layout: marker NUL, then "key NUL value NUL" pairs, then one more NUL. The marker is only
    // ever used in constant evaluation, and the reader takes its search pattern from the record
    // itself, so its bytes appear in the executable only where the record is.
    constexpr std::string_view kMarker = "\x7fParvula/VersionRecord/1";
    constexpr std::string_view kProductName = "Parvula";

    constexpr std::size_t RecordSize()
    {
        const std::size_t version = std::char_traits<char>::length(buildinfo::kVersion);
        return kMarker.size() + 1 + (sizeof("FileVersion") + version + 1)
            + (sizeof("ProductVersion") + version + 1)
            + (sizeof("ProductName") + kProductName.size() + 1)
            + (kBuildTimeKey.size() + 1 + kBuildTimeUnset.size() + 1) + 1;
    }

    constexpr std::array<char, RecordSize()> MakeRecord()
    {
        std::array<char, RecordSize()> r {};
        std::size_t n = 0;
        auto put = [&](std::string_view s) {
            for (char ch : s)
                r[n++] = ch;
            r[n++] = '\0';
        };
        const std::string_view version(buildinfo::kVersion);
        put(kMarker);
        put("FileVersion");
        put(version);
        put("ProductVersion");
        put(version);
        put("ProductName");
        put(kProductName);
        put(kBuildTimeKey);
        put(kBuildTimeUnset);
        r[n++] = '\0';
        return r;
    }

    // Kept in every program that links this file, even though only the reader below refers to
    // it, and only for its first bytes; the reader finds the record in the file's bytes.
    [[gnu::used]] constexpr std::array<char, RecordSize()> kVersionRecord = MakeRecord();

    std::string_view MarkerPattern()
    {
        return std::string_view(kVersionRecord.data(), kMarker.size() + 1);
    }

    // A record never holds more than a few short values; this bounds the walk over a file
    // that happens to contain the marker followed by garbage.
    constexpr std::size_t kMaxRecordBytes = 4096;

    QString TrimBlanksAndControls(const QString& s)
    {
        qsizetype first = 0;
        qsizetype last = s.size();
        while (first < last && s.at(first).unicode() <= 0x20)
            ++first;
        while (last > first && s.at(last - 1).unicode() <= 0x20)
            --last;
        return s.mid(first, last - first);
    }

    // Returns true when a well-formed record starts at data; value receives the key's value,
    // or stays empty when the record lacks the key.
    bool ParseRecord(std::string_view data, const QString& key, QString& value)
    {
        std::size_t pos = MarkerPattern().size();
        const std::size_t end = std::min(data.size(), kMaxRecordBytes);
        auto field = [&](std::string_view& out) {
            const std::size_t nul = data.find('\0', pos);
            if (nul == std::string_view::npos || nul >= end)
                return false;
            out = data.substr(pos, nul - pos);
            pos = nul + 1;
            return true;
        };
        QString found;
        for (;;) {
            std::string_view k;
            if (!field(k))
                return false;
            if (k.empty())
                break;
            std::string_view v;
            if (!field(v))
                return false;
            // Look-ups in version records ignore the key's letter case.
            if (found.isNull()
                && QString::fromUtf8(k.data(), qsizetype(k.size()))
                        .compare(key, Qt::CaseInsensitive)
                    == 0)
                found = QString::fromUtf8(v.data(), qsizetype(v.size()));
        }
        value = found;
        return true;
    }

    QString ValueFromRecordBytes(std::string_view bytes, const QString& key)
    {
        const std::string_view marker = MarkerPattern();
        const std::boyer_moore_horspool_searcher searcher(marker.begin(), marker.end());
        auto it = bytes.begin();
        for (;;) {
            it = std::search(it, bytes.end(), searcher);
            if (it == bytes.end())
                return QString();
            const auto offset = std::size_t(it - bytes.begin());
            // An unoptimised build may also hold the marker's text on its own, followed by
            // unrelated strings; only a record that holds the key answers.
            QString value;
            if (ParseRecord(bytes.substr(offset), key, value) && !value.isNull())
                return value;
            ++it;
        }
    }

    QString ValueFromFile(const QString& path, const QString& key)
    {
        // Regular files only: opening a FIFO would block.
        const QFileInfo info(path);
        if (!info.isFile())
            return QString();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
            return QString();
        if (uchar* mapped = file.map(0, file.size())) {
            const std::string_view bytes(
                reinterpret_cast<const char*>(mapped), std::size_t(file.size()));
            return ValueFromRecordBytes(bytes, key);
        }
        const QByteArray all = file.readAll();
        return ValueFromRecordBytes(
            std::string_view(all.constData(), std::size_t(all.size())), key);
    }

#ifdef Q_OS_WIN
    QString ValueFromResource(const QString& path, const QString& key)
    {
        const std::wstring name = path.toStdWString();
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(name.c_str(), &handle);
        if (size == 0)
            return QString();
        std::vector<char> buffer(size);
        if (!GetFileVersionInfoW(name.c_str(), 0, size, buffer.data()))
            return QString();
        void* p = nullptr;
        UINT len = 0;
        if (!VerQueryValueW(buffer.data(), L"\\VarFileInfo\\Translation", &p, &len) || len < 4)
            return QString();
        const auto* translation = static_cast<const WORD*>(p);
        const QString sub = QStringLiteral("\\StringFileInfo\\")
            + QStringLiteral("%1%2")
                  .arg(translation[0], 4, 16, QLatin1Char('0'))
                  .arg(translation[1], 4, 16, QLatin1Char('0'))
                  .toUpper()
            + QStringLiteral("\\") + key;
        const std::wstring subName = sub.toStdWString();
        if (!VerQueryValueW(buffer.data(), subName.c_str(), &p, &len) || len == 0)
            return QString();
        QString value = QString::fromWCharArray(static_cast<const wchar_t*>(p), qsizetype(len));
        while (value.endsWith(QChar(0)))
            value.chop(1);
        return value;
    }
#endif

} // namespace

QString OwnExecutablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
#ifdef Q_OS_LINUX
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
#elif defined(Q_OS_WIN)
    std::array<wchar_t, 32768> buffer {};
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    return QString::fromWCharArray(buffer.data(), qsizetype(n));
#else
    return QString();
#endif
}

QString GetVersionInfoValue(const QString& file, const QString& key)
{
    const QString path = file.isEmpty() ? OwnExecutablePath() : file;
    if (path.isEmpty() || key.isEmpty())
        return QString();
#ifdef Q_OS_WIN
    QString value = ValueFromResource(path, key);
    if (value.isEmpty())
        value = ValueFromFile(path, key);
#else
    const QString value = ValueFromFile(path, key);
#endif
    return TrimBlanksAndControls(value);
}

QByteArray EncodeVersionRecord(const std::vector<std::pair<QString, QString>>& values)
{
    const std::string_view marker = MarkerPattern();
    QByteArray out(marker.data(), qsizetype(marker.size()));
    for (const auto& [k, v] : values) {
        out += k.toUtf8();
        out += '\0';
        out += v.toUtf8();
        out += '\0';
    }
    out += '\0';
    return out;
}

QDateTime ExeBuildDate(const QString& file)
{
    // From the record the build stamped, never from the file's time stamp, which copying or
    // installing the file changes.
    bool ok = false;
    const qint64 seconds
        = GetVersionInfoValue(file, QString::fromLatin1(kBuildTimeKey.data(), kBuildTimeKey.size()))
              .toLongLong(&ok);
    if (!ok || seconds < 0)
        return QDateTime();
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

} // namespace parvula::platform
