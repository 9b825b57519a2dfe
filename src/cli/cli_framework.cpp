// The framework set up for the shell tool as for the window.
#include "cli/cli_framework.h"

#include <QFileInfo>

#include "framework/spz1_paths.h"

namespace parvula::cli {

void InitialiseFramework()
{
    framework::ProductTitle = QStringLiteral("Parvula");
    framework::ProductCode = QStringLiteral("PV");
    framework::TFolderSources sources = framework::SystemFolderSources();
    // The settings file and its default section are named after the window's executable.
    sources.exeFilePath
        = QFileInfo(sources.exeFilePath).absolutePath() + QStringLiteral("/parvula");
    framework::ResolveDataFolders(false, sources, false);
    // The product version is not looked up here: only the window shows it, and finding it means
    // reading the whole executable; --version looks it up itself.
}

} // namespace parvula::cli
