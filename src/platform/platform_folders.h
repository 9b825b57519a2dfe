// Folders the operating system names for us: the user's documents, configuration and shared data,
// the application's default title, creating folders and changing the current folder.
#pragma once

#include <QString>

namespace parvula::platform {

enum class TSpecialFolder {
    Documents, // the user's documents
    RoamingAppData, // the user's own settings, following the user between machines on Windows
    CommonAppData, // data shared by all users of the machine
};

// The folder's path without a final separator, or the empty text when the system names none.
QString SpecialFolderLocation(TSpecialFolder folder);

// The executable's file name up to its first ".", every character after the first in lower case.
QString DefaultApplicationTitle();
// The title the program has set for itself (QCoreApplication's application name), or the
// default title while none is set.
QString ApplicationTitle();

// Creates the folder and every missing parent; true when the folder exists afterwards.
bool CreateFolderWithParents(const QString& path);
// Makes the folder the process's current folder; false when that fails.
bool SetCurrentFolder(const QString& path);

} // namespace parvula::platform
