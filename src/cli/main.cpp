// parvula-cli: thumbnails from a shell, with the same collection and run as the window.
#include <cstdio>

#include <QCoreApplication>
#include <QTextStream>

#include "cli/cli_run.h"
#include "cli/cli_framework.h"
#include "platform/platform_fs.h"
#include "platform/platform_signals.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    parvula::cli::InitialiseFramework();
    // From here on Ctrl-C and SIGTERM only ask the run to stop after the file in progress.
    parvula::platform::InstallStopHandlers();
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const int status
        = parvula::cli::RunCli(arguments, out, err, parvula::platform::StdoutIsTerminal());
    out.flush();
    err.flush();
    return status;
}
