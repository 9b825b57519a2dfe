// File-system services in place of the operating system's own: paths, existence tests,
// folder listing with the hidden flag, and publishing a finished file without replacing anything.
#pragma once

#include <cstdint>
#include <filesystem>

#include <QList>
#include <QString>

namespace parvula::platform {

// Qt text paths and std::filesystem paths, without passing through an 8-bit code page.
std::filesystem::path ToPath(const QString& path);
QString FromPath(const std::filesystem::path& path);

// The native separator: "/" here, "\" on Windows.
QChar PathSeparator();
// True for "/" and, on Windows, also for "\".
bool IsPathSeparator(QChar c);

// Any directory entry under the name, a dangling link included: such a name is taken.
bool EntryExists(const QString& path);
// A folder, links followed.
bool FolderExists(const QString& path);

// The identity of a folder, so a walk can enter each folder only once.
struct TFileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const TFileId&, const TFileId&) = default;
};
// False when the entry cannot be examined.
bool FolderIdentity(const QString& path, TFileId& id);

struct TFolderEntry {
    QString name;
    bool folder = false; // links followed
    bool regularFile = false; // links followed; FIFOs, sockets and devices are neither
    bool hidden = false; // POSIX: the name begins with "."
    // The name's bytes are not valid in the system's encoding: the text cannot name the entry
    // (it holds replacement characters), so the entry cannot be opened through it.
    bool undecodable = false;
};
// The entries of a folder without "." and "..", in no particular order.
// False when the folder cannot be read.
bool ListFolder(const QString& folder, QList<TFolderEntry>& entries);

// Gives the file "to" the modification time of "from", to the nanosecond where the file systems
// keep it. False, with the system's words in error, when either file cannot be reached.
bool CopyModificationTime(const QString& from, const QString& to, QString* error = nullptr);

enum class TPublishResult { Published, NameTaken, Failed };
// Moves a finished file to its final name unless that name is taken by any entry. Never replaces.
TPublishResult PublishNoReplace(const QString& from, const QString& to, QString* error = nullptr);

// Whether standard output is a terminal (progress bars are drawn only there).
bool StdoutIsTerminal();

} // namespace parvula::platform
