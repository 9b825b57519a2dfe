// Collecting files for the file list, without widgets: the extension test, the folder walk
// CollectFiles, the sorted insertion ignoring case and the duplicate rule. The window's drop and
// the command-line tool both go through CollectDrop, so they collect alike.
#pragma once

#include <functional>
#include <utility>

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include "errors/errors.h"

namespace parvula::app {

// The extensions the main window accepts: every format that is read, as a comma list.
QString DefaultFileAccept();

// Limits of one drop: folder levels below a dropped folder, and files taken from one drop.
inline constexpr int MaxWalkDepth = 256;
inline constexpr int MaxDropFiles = 100000;
// Entries the file list holds at most; beyond it the list refuses new entries.
inline constexpr int MaxListEntries = 1000000;

// Attributes of CollectFiles: entries with these are found only when asked for.
inline constexpr int faHidden = 0x02;
inline constexpr int faSysFile = 0x04;
inline constexpr int faDirectory = 0x10;

// The file name's extension (from its last ".", lower-cased A-Z, dots removed) is an element of
// the comma list filter. A name without "." has the empty extension.
bool ExtensionAccepted(const QString& fileName, const QString& filter);

// The one order of the file list: ignoring letter case. Negative, 0 or positive.
int CompareEntries(const QString& a, const QString& b);

// Whether two entries name the same file. It must only say true for entries that CompareEntries
// finds equal (duplicates are looked for among neighbours of the sorted list).
using TSamePath = std::function<bool(const QString&, const QString&)>;
// Paths equal in every character: a case-sensitive file system, where A.jpg and a.jpg are two.
bool SamePathExact(const QString& a, const QString& b);
// Paths equal ignoring letter case: Windows and other case-insensitive file systems.
bool SamePathIgnoringCase(const QString& a, const QString& b);
// The rule of the file system this program runs on.
TSamePath FileSystemSamePath();

// Inserts entries, in their order, each at its sorted place after the entries equal to it, as if
// each were added to a sorted list box one by one. The list must already be sorted. At most
// capacity entries are held: what does not fit is refused with the error ListInsert after the rest
// went in.
void InsertSorted(QStringList& list, const QStringList& entries, int capacity = MaxListEntries);

// Of entries that name the same file the first one in the list stays. Returns how many went.
int RemoveDuplicates(QStringList& list, const TSamePath& samePath);

// Bookkeeping of one drop's walk: the limits and what was cut off by them.
struct TCollectState {
    int maxDepth = MaxWalkDepth;
    int maxFiles = MaxDropFiles;
    int filesTaken = 0;
    bool depthCut = false;
    bool filesCut = false;
    QStringList unreadable; // folders that could not be listed
    QStringList undecodable; // entries whose names the system's encoding cannot represent
    QSet<std::pair<quint64, quint64>> entered; // device and inode of every folder walked
};

// Appends to list every regular file that matches mask (a folder path and a file-name pattern
// such as "*.*") and passes the extension test against filter (empty: every file), then walks the
// sub-folders depth levels further (-1: as deep as state allows). Hidden entries and everything
// in hidden folders are skipped unless attributes include faHidden (only at the first level, as
// sub-folders are walked with attributes 0). Each folder is entered once, even through links.
// Files of a folder come before those of its sub-folders. Returns how many entries were added.
int CollectFiles(
    QStringList& list, const QString& mask, int depth, const QString& filter, int attributes);
int CollectFiles(QStringList& list, const QString& mask, int depth, const QString& filter,
    int attributes, TCollectState& state);

// What one drop did.
struct TDropResult {
    int added = 0; // entries the list grew by, duplicates removed
    QString notice; // a message about limits or unreadable folders; empty when none
    // Every file taken, with the folder it came with as it was dropped, or the empty text for a
    // file dropped on its own; the first way a file came decides. An output folder keeps the
    // tree below that folder.
    QHash<QString, QString> droppedWith;
};

// How one drop is collected; tests narrow the limits or choose the file system's case rule.
struct TDropOptions {
    TSamePath samePath = FileSystemSamePath();
    int capacity = MaxListEntries;
    int maxDepth = MaxWalkDepth;
    int maxFiles = MaxDropFiles;
};

// Adds dropped paths to a sorted list like a drop on the file list: a folder (links followed)
// contributes its accepted files at every depth, any other path is taken when it is a regular
// file, hidden or not, and passes the extension test (every file when filter is empty). Then the
// duplicates go. Throws the error ListInsert when the list is full; the entries that fitted stay.
TDropResult CollectDrop(QStringList& list, const QStringList& paths, const QString& filter,
    const TDropOptions& options = {});

} // namespace parvula::app
