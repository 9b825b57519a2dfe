// Program entry of the window: the command line, the hand-over to a window already open,
// product code, visual style, title, framework start-up, the windows in their order, the paths
// given, the message loop.
#include <QApplication>
#include <QDir>
#include <QTextStream>

#include "app/main_args.h"
#include "app/ui/BasUnit1.h"
#include "app/ui/DragDrop1.h"
#include "framework/spz1_paths.h"
#include "framework/ui/spz1_msg.h"
#include "platform/ui/platform_instance.h"
#include "platform/ui/platform_ui.h"
#include "platform/platform_version.h"

namespace {

QStringList ArgumentsOf(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// Paths from the command line, this start's or a later one's, go in like a drop on the list.
void OpenPaths(const QStringList& paths)
{
    using namespace parvula;
    if (!paths.isEmpty())
        framework::RunGuarded([&] { app::DragDropForm->DropFiles(paths); });
}

} // namespace

int main(int argc, char** argv)
{
    using namespace parvula;

    // --help and --version answer without a display.
    if (app::AsksHelpOrVersion(ArgumentsOf(argc, argv))) {
        QCoreApplication core(argc, argv);
        const app::TWindowArgs args = app::ParseWindowArgs(ArgumentsOf(argc, argv), QString());
        QTextStream out(stdout);
        if (args.help)
            out << app::WindowUsageText();
        else
            out << "parvula "
                << platform::GetVersionInfoValue(QString(), QStringLiteral("FileVersion")) << "\n";
        return 0;
    }

    framework::ProductCode = QStringLiteral("PV");
    QApplication app(argc, argv);
    // Qt has taken its own options out of the arguments by now. Relative paths are read against
    // the folder of the start, before the framework changes the current folder.
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const app::TWindowArgs args = app::ParseWindowArgs(arguments, QDir::currentPath());
    if (!args.error.isEmpty()) {
        QTextStream err(stderr);
        err << "parvula: " << args.error << "\nTry 'parvula --help'.\n";
        return 2;
    }
    platform::TSingleInstance instance;
    if (instance.HandOverOrServe(args.paths))
        return 0;

    app::ApplyVisualStyle(QString::fromLatin1(platform::RubyGraphiteStyle));
    // The title names the settings folder and goes into the information query, so it is set
    // before the framework computes its folders.
    QCoreApplication::setApplicationName(QStringLiteral("Parvula"));
    // Lets the desktop match the windows to parvula.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("parvula"));
    framework::FrameworkStartup(false);

    app::CreateWindows();
    instance.entries = [] { return app::DragDropForm->Entries(); };
    QObject::connect(&instance, &platform::TSingleInstance::PathsReceived, app::Form1,
        [](const QStringList& paths) {
            OpenPaths(paths);
            app::Form1->setWindowState(app::Form1->windowState() & ~Qt::WindowMinimized);
            app::Form1->show();
            app::Form1->raise();
            app::Form1->activateWindow();
        });
    // Shown first: showing sets the accepted extensions the paths are filtered by.
    app::Form1->show();
    OpenPaths(args.paths);
    const int result = app.exec();
    instance.entries = nullptr;
    app::DestroyWindows();
    return result;
}
