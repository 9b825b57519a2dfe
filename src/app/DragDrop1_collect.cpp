// Collecting files for the file list: extension test, folder walk, sorted insertion, duplicates.
#include "app/DragDrop1_collect.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "framework/spz1_messages.h"
#include "framework/spz1_text.h"
#include "imaging/formats.h"
#include "platform/platform_fs.h"

namespace parvula::app {

QString DefaultFileAccept() { return QString::fromStdString(imaging::AcceptedExtensions()); }

namespace {

    // A file-name pattern with * and ?. "*.*" and "*" match every name, also one without a dot,
    // as the file search always did.
    class TNamePattern {
    public:
        explicit TNamePattern(const QString& pattern)
            : m_all(pattern == QLatin1String("*.*") || pattern == QLatin1String("*"))
        {
            if (!m_all)
                m_re = QRegularExpression::fromWildcard(pattern, Qt::CaseInsensitive);
        }
        bool Matches(const QString& name) const { return m_all || m_re.match(name).hasMatch(); }

    private:
        bool m_all;
        QRegularExpression m_re;
    };

    QString WithSeparator(const QString& folder)
    {
        if (folder.isEmpty() || platform::IsPathSeparator(folder.back()))
            return folder;
        return folder + platform::PathSeparator();
    }

    struct TWalkJob {
        QString folder; // ends in a separator, or empty for the current folder
        int depth; // levels still to go down; negative: no limit
        int level; // levels below the folder the walk started in
        int attributes;
    };

} // namespace

bool ExtensionAccepted(const QString& fileName, const QString& filter)
{
    // Only the name counts: a dot in a folder name ("/a.b/photo") is no extension.
    QString name = fileName;
    for (qsizetype i = name.size() - 1; i >= 0; --i) {
        if (platform::IsPathSeparator(name.at(i))) {
            name = name.mid(i + 1);
            break;
        }
    }
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString extension = dot < 0 ? QString() : framework::AsciiLowerCase(name.mid(dot));
    framework::ReplaceAllInPlace(extension, QStringLiteral("."), QString(), false);
    return framework::InCommaList(extension, filter, false);
}

int CompareEntries(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive);
}

bool SamePathExact(const QString& a, const QString& b) { return a == b; }

bool SamePathIgnoringCase(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

TSamePath FileSystemSamePath()
{
#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
    return SamePathIgnoringCase;
#else
    return SamePathExact;
#endif
}

void InsertSorted(QStringList& list, const QStringList& entries, int capacity)
{
    const qsizetype room = std::max<qsizetype>(0, capacity - list.size());
    const bool refused = entries.size() > room;
    QStringList added = refused ? entries.mid(0, room) : entries;

    // One stable sort and a merge give the same order as inserting each entry after its equals,
    // without moving the whole list for every entry of a large drop.
    const auto less = [](const QString& a, const QString& b) { return CompareEntries(a, b) < 0; };
    std::stable_sort(added.begin(), added.end(), less);
    QStringList merged;
    merged.reserve(list.size() + added.size());
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < list.size() || j < added.size()) {
        // On a tie the entry already listed comes first.
        if (j < added.size() && (i == list.size() || less(added.at(j), list.at(i))))
            merged.append(added.at(j++));
        else
            merged.append(list.at(i++));
    }
    list = std::move(merged);
    if (refused)
        throw errors::EError(errors::TCode::ListInsert);
}

int RemoveDuplicates(QStringList& list, const TSamePath& samePath)
{
    // Entries naming the same file are equal in the list's order, so they stand side by side:
    // each run of equal entries is checked on its own, keeping the first of each file.
    QStringList kept;
    kept.reserve(list.size());
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i > 0 && CompareEntries(list.at(i - 1), list.at(i)) != 0)
            runStart = kept.size();
        const QString& entry = list.at(i);
        bool duplicate = false;
        for (qsizetype k = runStart; k < kept.size() && !duplicate; ++k)
            duplicate = samePath(kept.at(k), entry);
        if (!duplicate)
            kept.append(entry);
    }
    const int removed = static_cast<int>(list.size() - kept.size());
    list = std::move(kept);
    return removed;
}

int CollectFiles(
    QStringList& list, const QString& mask, int depth, const QString& filter, int attributes)
{
    TCollectState state;
    return CollectFiles(list, mask, depth, filter, attributes, state);
}

int CollectFiles(QStringList& list, const QString& mask, int depth, const QString& filter,
    int attributes, TCollectState& state)
{
    const qsizetype before = list.size();
    qsizetype cut = mask.size();
    while (cut > 0 && !platform::IsPathSeparator(mask.at(cut - 1)))
        --cut;
    const TNamePattern pattern(mask.mid(cut));
    const QString start = WithSeparator(mask.left(cut));

    // Iterative and depth-first: a stack instead of recursion, so a deep tree cannot exhaust the
    // call stack, and sub-folders pushed in reverse so they are walked in listing order.
    std::vector<TWalkJob> stack { { start, depth, 0, attributes } };
    while (!stack.empty() && !state.filesCut) {
        const TWalkJob job = std::move(stack.back());
        stack.pop_back();
        const QString listed = job.folder.isEmpty() ? QStringLiteral(".") : job.folder;

        // A link back to a folder above would otherwise be walked for ever.
        platform::TFileId id;
        if (!platform::FolderIdentity(listed, id)) {
            state.unreadable.append(listed);
            continue;
        }
        const auto key = std::make_pair(quint64(id.device), quint64(id.inode));
        if (state.entered.contains(key))
            continue;
        state.entered.insert(key);

        QList<platform::TFolderEntry> entries;
        if (!platform::ListFolder(listed, entries)) {
            state.unreadable.append(listed);
            continue;
        }
        std::sort(entries.begin(), entries.end(),
            [](const platform::TFolderEntry& a, const platform::TFolderEntry& b) {
                return a.name < b.name;
            });

        for (const platform::TFolderEntry& e : entries) {
            if (e.hidden && !(job.attributes & faHidden))
                continue;
            // Such a name comes back with replacement characters and would fail to open under
            // them later; it is left out here and reported instead.
            if (e.undecodable) {
                if (e.regularFile || e.folder)
                    state.undecodable.append(job.folder + e.name);
                continue;
            }
            // Regular files only, judged without opening them: a FIFO named x.jpg would block.
            if (!(e.regularFile || (e.folder && (job.attributes & faDirectory))))
                continue;
            if (!pattern.Matches(e.name))
                continue;
            if (!filter.isEmpty() && !ExtensionAccepted(e.name, filter))
                continue;
            if (state.filesTaken >= state.maxFiles) {
                state.filesCut = true;
                break;
            }
            list.append(job.folder + e.name);
            ++state.filesTaken;
        }
        if (state.filesCut || job.depth == 0)
            continue;

        std::vector<TWalkJob> subFolders;
        for (const platform::TFolderEntry& e : entries) {
            if (!e.folder || e.undecodable || (e.hidden && !(job.attributes & faHidden)))
                continue;
            if (job.level >= state.maxDepth) {
                state.depthCut = true;
                break;
            }
            subFolders.push_back({ job.folder + e.name + platform::PathSeparator(),
                job.depth < 0 ? -1 : job.depth - 1, job.level + 1, 0 });
        }
        stack.insert(stack.end(), std::make_move_iterator(subFolders.rbegin()),
            std::make_move_iterator(subFolders.rend()));
    }
    return static_cast<int>(list.size() - before);
}

TDropResult CollectDrop(
    QStringList& list, const QStringList& paths, const QString& filter, const TDropOptions& options)
{
    TCollectState state;
    state.maxDepth = options.maxDepth;
    state.maxFiles = options.maxFiles;
    QStringList collected;
    TDropResult result;
    for (const QString& path : paths) {
        if (state.filesCut)
            break;
        if (path.isEmpty())
            continue;
        if (platform::FolderExists(path)) {
            const qsizetype first = collected.size();
            CollectFiles(
                collected, WithSeparator(path) + QStringLiteral("*.*"), -1, filter, 0, state);
            // The first folder a file came with stays its folder, as the first entry stays.
            for (qsizetype i = first; i < collected.size(); ++i)
                if (!result.droppedWith.contains(collected.at(i)))
                    result.droppedWith.insert(collected.at(i), path);
            continue;
        }
        // Dropped directly, a hidden file is taken too; anything but a regular file is not,
        // since it could never be read as a picture and reading a FIFO would block.
        if (!QFileInfo(path).isFile())
            continue;
        if (!filter.isEmpty() && !ExtensionAccepted(path, filter))
            continue;
        if (state.filesTaken >= state.maxFiles) {
            state.filesCut = true;
            break;
        }
        collected.append(path);
        if (!result.droppedWith.contains(path))
            result.droppedWith.insert(path, QString());
        ++state.filesTaken;
    }

    const qsizetype before = list.size();
    try {
        InsertSorted(list, collected, options.capacity);
    } catch (const errors::EError& e) {
        if (e.Code() == errors::TCode::ListInsert)
            RemoveDuplicates(list, options.samePath);
        throw;
    }
    RemoveDuplicates(list, options.samePath);
    result.added = static_cast<int>(list.size() - before);

    QStringList notes;
    if (state.filesCut)
        notes.append(framework::MessageText(
            errors::TCode::DropFilesCut, {}, { QString::number(state.maxFiles) }));
    if (state.depthCut)
        notes.append(framework::MessageText(
            errors::TCode::DropDepthCut, {}, { QString::number(state.maxDepth) }));
    if (!state.unreadable.isEmpty())
        notes.append(framework::MessageText(errors::TCode::DropUnreadable,
            QDir::toNativeSeparators(state.unreadable.first()),
            { QString::number(state.unreadable.size()) }));
    if (!state.undecodable.isEmpty())
        notes.append(framework::MessageText(errors::TCode::DropUndecodable,
            QDir::toNativeSeparators(state.undecodable.first()),
            { QString::number(state.undecodable.size()) }));
    result.notice = notes.join(QLatin1Char('\n'));
    return result;
}

} // namespace parvula::app
