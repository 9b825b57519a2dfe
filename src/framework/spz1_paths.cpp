// Process-wide framework values, the data folders with the portable switch, and ExpandPath.
#include "framework/spz1_paths.h"

#include <algorithm>

#include <QFileInfo>
#include <QLocale>

#include "framework/spz1_ini.h"
#include "framework/spz1_text.h"
#include "platform/platform_folders.h"
#include "platform/platform_fs.h"
#include "platform/platform_version.h"

namespace parvula::framework {

QString ExeFolder;
QString DocumentFolder;
QString SettingsFolder;
QString ProductTitle;
QString ProductVersion;
QString ProductCode;
qint32 PortableMode = -1;

namespace {

    bool g_initialised = false;
    QString g_exeFilePath;

    const QChar kSep = u'/';

    QString WithSeparator(const QString& folder)
    {
        return folder.isEmpty() || folder.endsWith(kSep) ? folder : folder + kSep;
    }

    // A title may hold "/", which would open a further folder level.
    QString FolderNameOf(const QString& title)
    {
        return ReplaceAll(title, QStringLiteral("/"), QStringLiteral("-"), false);
    }

    bool IsAbsoluteName(const QString& name)
    {
#ifdef Q_OS_WIN
        // A drive ("C:") or a network path ("//server/share"); Qt writes both with "/".
        if (name.size() >= 2 && name.at(1) == u':')
            return true;
#endif
        return name.startsWith(kSep);
    }

    // The part of base that a name beginning with "/" keeps: a drive or a network share on
    // Windows; POSIX paths have none.
    QString DrivePartOf([[maybe_unused]] const QString& base)
    {
#ifdef Q_OS_WIN
        if (base.size() >= 2 && base.at(1) == u':')
            return base.left(2);
        if (base.startsWith(QStringLiteral("//"))) {
            const qsizetype server = base.indexOf(kSep, 2);
            if (server < 0)
                return base;
            const qsizetype share = base.indexOf(kSep, server + 1);
            return share < 0 ? base : base.left(share);
        }
#endif
        return QString();
    }

} // namespace

TFolderSources SystemFolderSources()
{
    TFolderSources s;
    s.exeFilePath = platform::OwnExecutablePath();
    s.documents = platform::SpecialFolderLocation(platform::TSpecialFolder::Documents);
    s.roaming = platform::SpecialFolderLocation(platform::TSpecialFolder::RoamingAppData);
    s.title = platform::ApplicationTitle();
    return s;
}

void FrameworkInitialise(bool changeCurrentFolder)
{
    if (g_initialised)
        return;
    g_initialised = true;
    // Number and date formats follow the user's own locale, not the C locale.
    QLocale::setDefault(QLocale::system());
    ResolveDataFolders(false, SystemFolderSources(), changeCurrentFolder);
}

void FrameworkStartup(bool createFolders, bool changeCurrentFolder)
{
    FrameworkInitialise(changeCurrentFolder);
    if (ProductTitle.isEmpty())
        ProductTitle = platform::ApplicationTitle();
    ResolveDataFolders(createFolders, SystemFolderSources(), changeCurrentFolder);
    ProductVersion = platform::GetVersionInfoValue(QString(), QStringLiteral("FileVersion"));
}

void ResolveDataFolders(bool createFolders)
{
    ResolveDataFolders(createFolders, SystemFolderSources());
}

void ResolveDataFolders(bool createFolders, const TFolderSources& sources, bool changeCurrentFolder)
{
    // Any resolution counts as the initialisation, so a later first use does not redo it with
    // other sources.
    g_initialised = true;
    g_exeFilePath = sources.exeFilePath;

    const QString title = ProductTitle.isEmpty() ? sources.title : ProductTitle;
    const QString name = FolderNameOf(title) + kSep;
    const qsizetype lastSep = g_exeFilePath.lastIndexOf(kSep);
    ExeFolder = lastSep < 0 ? QString() : g_exeFilePath.left(lastSep + 1);

    // A folder the system cannot name counts as missing, like one that does not exist; an empty
    // root would otherwise become "/" and put the program's folders at the file system's root.
    QString docRoot = sources.documents.isEmpty() ? QString() : WithSeparator(sources.documents);
    QString appRoot = sources.roaming.isEmpty() ? QString() : WithSeparator(sources.roaming);
    if (docRoot.isEmpty() || !platform::FolderExists(docRoot))
        docRoot = ExeFolder;
    if (appRoot.isEmpty() || !platform::FolderExists(appRoot))
        appRoot = docRoot;
    DocumentFolder = docRoot + name;
    SettingsFolder = appRoot + name;
    if (docRoot == ExeFolder)
        DocumentFolder = ExeFolder + QStringLiteral("data") + kSep;

    if (PortableMode < 0) {
        // The file beside the executable; reading never fails, a missing file or key gives "0".
        PortableMode = StrToIntPrefix(ReadSetting(
            QString(), QStringLiteral("Portable"), QStringLiteral("0"), QString(), ExeFolder));
    }
    if (PortableMode > 0) {
        DocumentFolder = ExeFolder + QStringLiteral("data") + kSep;
        SettingsFolder = ExeFolder;
    }

    if (createFolders) {
        platform::CreateFolderWithParents(SettingsFolder);
        platform::CreateFolderWithParents(DocumentFolder);
    }
    if (changeCurrentFolder && platform::FolderExists(DocumentFolder))
        platform::SetCurrentFolder(DocumentFolder);
}

QString ExeFilePath()
{
    FrameworkInitialise();
    return g_exeFilePath;
}

QString ExeBaseName()
{
    QString fileName = QFileInfo(ExeFilePath()).fileName();
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot >= 0)
        fileName.truncate(dot);
    return fileName;
}

QString SpecialFolderPath(int folderNumber)
{
    switch (folderNumber) {
    case 5:
        return platform::SpecialFolderLocation(platform::TSpecialFolder::Documents);
    case 26:
        return platform::SpecialFolderLocation(platform::TSpecialFolder::RoamingAppData);
    case 35:
        return platform::SpecialFolderLocation(platform::TSpecialFolder::CommonAppData);
    default:
        return QString();
    }
}

QString SpecialFolderFor(const QString& token)
{
    const QString t = AsciiLowerCase(token);
    int number = 0;
    bool withTitle = false;
    if (t == u"doc") {
        number = 5;
    } else if (t == u"*" || t == u"*doc") {
        number = 5;
        withTitle = true;
    } else if (t == u"app" || t == u"dat") {
        number = 26;
    } else if (t == u"**" || t == u"*app" || t == u"*dat") {
        number = 26;
        withTitle = true;
    } else if (t == u"adat" || t == u"aapp") {
        number = 35;
    } else {
        return QString();
    }
    const QString folder = SpecialFolderPath(number);
    // Without the system's folder the title alone would name a folder under the root.
    if (folder.isEmpty())
        return QString();
    return withTitle ? folder + kSep + FolderNameOf(platform::ApplicationTitle()) : folder;
}

QString ExpandPath(const QString& name, const QString& base)
{
    FrameworkInitialise();
    QString n = name;
    QString b = base;

    if (n.isEmpty())
        n = g_exeFilePath;

    if (b.isEmpty() || b == u"*")
        b = DocumentFolder;
    else if (b == u"**")
        b = SettingsFolder;
    if (b.isEmpty() || b == u"#p")
        b = ExeFolder;

    // A base whose last component holds a "." names a file: its folder is the base. Only a
    // first "." past the third character counts (the room of a drive's "C:/"), and no base that
    // climbs.
    const qsizetype firstDot = b.indexOf(u'.') + 1; // 1-based, 0 when there is none
    if (!b.contains(QStringLiteral("..")) && firstDot > 3
        && LastPosText(QStringLiteral("."), b) > LastPosText(QStringLiteral("/"), b)) {
#ifdef Q_OS_WIN
        // "C:x.txt" names a file in the drive's current folder: the folder part ends at ":".
        b = b.left(std::max(b.lastIndexOf(kSep), b.lastIndexOf(u':')) + 1);
#else
        b = b.left(b.lastIndexOf(kSep) + 1);
#endif
    }
    b = WithSeparator(b);

    // ".ini" means the executable's own name with that extension. A "./x" is a relative path,
    // not an extension, so a name holding a separator never counts as one.
    if (!n.contains(QStringLiteral("..")) && n.startsWith(u'.') && !n.contains(kSep))
        n = ExeBaseName() + n;

    if (n.startsWith(kSep) && !n.startsWith(QStringLiteral("//")))
        n = DrivePartOf(b) + n;

    while (n.startsWith(QStringLiteral("../"))) {
        n.remove(0, 3);
        // The root ("/", or "C:/" on Windows) keeps its separator; any other folder loses its
        // last level. A relative base that runs out of levels leaves the current folder.
        const qsizetype root = DrivePartOf(b).size() + 1;
        if (b.size() > root && b.endsWith(kSep))
            b.chop(1);
        const int p = LastPosText(QStringLiteral("/"), b);
        b = p >= root ? b.left(p) : QString();
    }

    if (!IsAbsoluteName(n))
        n = b + n;
    return n;
}

} // namespace parvula::framework
