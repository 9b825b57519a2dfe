// Folders the operating system names for us, through QStandardPaths and QDir.
#include "platform/platform_folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include "platform/platform_version.h"

namespace parvula::platform {

namespace {

    QString WithoutFinalSeparator(QString path)
    {
        // The root itself keeps its separator; it is the only name it has.
        while (path.size() > 1 && path.endsWith(u'/'))
            path.chop(1);
        return path;
    }

} // namespace

QString SpecialFolderLocation(TSpecialFolder folder)
{
    switch (folder) {
    case TSpecialFolder::Documents:
        return WithoutFinalSeparator(
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    case TSpecialFolder::RoamingAppData:
        return WithoutFinalSeparator(
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    case TSpecialFolder::CommonAppData: {
        // The list starts with the user's own folder and ends with the system-wide ones
        // (XDG_DATA_DIRS, "/usr/share" last by default; ProgramData on Windows).
        const QStringList all
            = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
        return all.isEmpty() ? QString() : WithoutFinalSeparator(all.last());
    }
    }
    return QString();
}

QString DefaultApplicationTitle()
{
    QString name = QFileInfo(OwnExecutablePath()).fileName();
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString ApplicationTitle()
{
    // Qt's application name is the one the program set or, once the application object exists,
    // the executable's name; before either there is none and the default title stands in.
    const QString set = QCoreApplication::applicationName();
    return set.isEmpty() ? DefaultApplicationTitle() : set;
}

bool CreateFolderWithParents(const QString& path)
{
    if (path.isEmpty())
        return false;
    return QDir().mkpath(path);
}

bool SetCurrentFolder(const QString& path)
{
    if (path.isEmpty())
        return false;
    return QDir::setCurrent(path);
}

} // namespace parvula::platform
