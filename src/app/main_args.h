// The window's command line: --help, --version, and paths that go to the file list like a drop.
#pragma once

#include <QString>
#include <QStringList>

namespace parvula::app {

struct TWindowArgs {
    bool help = false;
    bool version = false;
    QStringList paths; // absolute, in the order given
    QString error; // a usage error; empty when none
};

// Reads the arguments after the program's name (Qt's own options already taken out). A relative
// path is made absolute against folder, the current folder of the start: the window changes its
// current folder later, and a running window that is handed the paths has another one.
TWindowArgs ParseWindowArgs(const QStringList& arguments, const QString& folder);

// Whether the arguments ask only for --help or --version, so the answer needs no display.
bool AsksHelpOrVersion(const QStringList& arguments);

// What --help prints.
QString WindowUsageText();

} // namespace parvula::app
