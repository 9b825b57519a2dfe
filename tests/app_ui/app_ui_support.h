// Shared set-up of the widget tests: the program's windows over folders of their own.
#pragma once

#include <QTemporaryDir>

namespace parvula::test {

// Points the framework at settings and document folders inside dir, so no test reads or writes
// the user's own settings file (dir/config/Parvula/parvula.ini).
void UseOwnFolders(const QTemporaryDir& dir);

// Creates the program's windows, points the information panel at a port where nothing listens
// (its load fails at once and it hides), and shows the main window. False when it did not show.
bool StartWindows();

} // namespace parvula::test
