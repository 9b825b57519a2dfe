// Program entry of the window: product code, visual style, title, framework start-up, the
// windows in their order, the message loop.
#include <QApplication>

#include "app/ui/BasUnit1.h"
#include "framework/spz1_paths.h"
#include "platform/ui/platform_ui.h"

int main(int argc, char** argv)
{
    using namespace parvula;

    framework::ProductCode = QStringLiteral("PV");
    QApplication app(argc, argv);
    app::ApplyVisualStyle(QString::fromLatin1(platform::RubyGraphiteStyle));
    // The title names the settings folder and goes into the information query, so it is set
    // before the framework computes its folders.
    QCoreApplication::setApplicationName(QStringLiteral("Parvula"));
    framework::FrameworkStartup(false);

    app::CreateWindows();
    app::Form1->show();
    const int result = app.exec();
    app::DestroyWindows();
    return result;
}
