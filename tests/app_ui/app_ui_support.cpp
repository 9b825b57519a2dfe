// Shared set-up of the widget tests.
#include "app_ui/app_ui_support.h"

#include <QDir>
#include <QTest>

#include "app/ui/BasUnit1.h"
#include "framework/spz1_paths.h"
#include "webinfo/ui/webinfo1.h"

namespace parvula::test {

void UseOwnFolders(const QTemporaryDir& dir)
{
    framework::TFolderSources sources;
    sources.exeFilePath = dir.filePath(QStringLiteral("bin/parvula"));
    sources.roaming = dir.filePath(QStringLiteral("config"));
    sources.documents = dir.filePath(QStringLiteral("documents"));
    sources.title = QStringLiteral("Parvula");
    QDir().mkpath(sources.roaming);
    QDir().mkpath(sources.documents);
    framework::ResolveDataFolders(false, sources, false);
}

bool StartWindows()
{
    app::CreateWindows();
    webinfo::WebInfo->SetInfoServiceUrl(QStringLiteral("http://127.0.0.1:9/gw/"));
    app::Form1->show();
    return QTest::qWaitForWindowExposed(app::Form1);
}

} // namespace parvula::test
