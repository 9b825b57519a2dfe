// The one way a finished file reaches its name. Both ways write the bytes whole into a hidden
// temporary file of the target's folder first (created exclusively, so nothing planted under its
// name is written through; every write checked, flushed and closed) and only then give it its
// name, so a partial file never appears under the target name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>

#include <QLockFile>
#include <QString>

#include "errors/errors.h"

namespace parvula::platform {

// Publishes bytes as a new file under the first of candidate(first) ... candidate(last) that no
// entry holds, a dangling link included, and returns that path. Never replaces anything: a name
// taken between the test and the publication moves on to the next candidate. folder is where
// the candidates lie: empty or ending in a separator. Throws EError: CannotCreateIn (the folder),
// CannotWriteOutput (the file) with the system's words as detail, or NoFreeName (the first
// candidate, with last as detail). With dateOf set, the file has that file's modification time
// when it appears (CannotKeepDate, naming the target, when it cannot be given it; nothing is then
// published).
QString PublishNewFile(const QString& folder, std::span<const std::uint8_t> bytes,
    const std::function<QString(int)>& candidate, int first, int last,
    const QString& dateOf = QString());

// Replaces the file at path with bytes in one step: a reader sees the old file or the new one.
// An entry under the name is replaced, a link included (it is not written through); a file
// replaced keeps its permissions. The bytes are on the disk before the name is given.
// Throws EError as PublishNewFile does.
void ReplaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Held while one process rewrites a file that another may rewrite too (a lock file beside it).
class TFileLock {
public:
    explicit TFileLock(const QString& path);
    // False when the lock is still held by another after timeoutMs.
    bool TryLock(int timeoutMs);

private:
    QLockFile m_lock;
};

} // namespace parvula::platform
