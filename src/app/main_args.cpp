// The window's command line: --help, --version, and paths that go to the file list like a drop.
#include "app/main_args.h"

#include <QDir>

#include "app/DragDrop1_collect.h"

namespace parvula::app {

TWindowArgs ParseWindowArgs(const QStringList& arguments, const QString& folder)
{
    TWindowArgs args;
    const QDir base(folder);
    bool onlyPaths = false;
    for (const QString& arg : arguments) {
        // As in parvula-cli: "--" ends the options, and only names that begin with "--" are
        // options, so a file named "-a.jpg" is a path.
        if (onlyPaths || !arg.startsWith(QLatin1String("--"))) {
            if (!arg.isEmpty())
                args.paths.append(QDir::cleanPath(base.absoluteFilePath(arg)));
        } else if (arg == QLatin1String("--")) {
            onlyPaths = true;
        } else if (arg == QLatin1String("--help")) {
            args.help = true;
        } else if (arg == QLatin1String("--version")) {
            args.version = true;
        } else if (args.error.isEmpty()) {
            args.error = QStringLiteral("unknown option ") + arg;
        }
    }
    return args;
}

bool AsksHelpOrVersion(const QStringList& arguments)
{
    for (const QString& arg : arguments) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("--help") || arg == QLatin1String("--version"))
            return true;
    }
    return false;
}

QString WindowUsageText()
{
    QString accepted = DefaultFileAccept();
    accepted.replace(QLatin1Char(','), QStringLiteral(", "));
    return QStringLiteral(
        "Usage: parvula [--help | --version] [--] [PATH...]\n"
        "Opens Parvula's window. The files and folders given are added to its list as if they\n"
        "were dropped on it (folders walked, only %1 files taken).\n"
        "When Parvula is already open, they go to the open window instead, which comes to the\n"
        "front; this start then ends.\n"
        "\n"
        "  --help, --version\n"
        "  --               every argument after it is a path\n")
        .arg(accepted);
}

} // namespace parvula::app
