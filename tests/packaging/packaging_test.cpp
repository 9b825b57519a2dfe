// What the package installs beside the binaries: the desktop entry and the AppStream metainfo
// name a MIME type for every extension the list accepts, the manual pages name every option of
// the two programs' --help, the icon's PNGs have their theme sizes.
#include <gtest/gtest.h>

#include <QFile>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include "app/DragDrop1_collect.h"
#include "app/main_args.h"
#include "cli/cli_options.h"

using namespace parvula;

namespace {

QString ReadText(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

QString DesktopValue(const QString& key)
{
    const QString text = ReadText(QStringLiteral(PARVULA_PACKAGING_BUILD_DIR "/parvula.desktop"));
    const QRegularExpression line(
        QStringLiteral("^") + key + QStringLiteral("=(.*)$"), QRegularExpression::MultilineOption);
    return line.match(text).captured(1);
}

QStringList DesktopMimeTypes()
{
    return DesktopValue(QStringLiteral("MimeType")).split(u';', Qt::SkipEmptyParts);
}

QStringList MetainfoMediaTypes()
{
    const QString text = ReadText(QStringLiteral(PARVULA_METAINFO_FILE));
    QStringList types;
    const QRegularExpression type(QStringLiteral("<mediatype>([^<]*)</mediatype>"));
    for (const QRegularExpressionMatch& m : type.globalMatch(text))
        types.append(m.captured(1));
    return types;
}

// The options a --help text names ("--width", "--no-mono", ...).
QStringList OptionsOf(const QString& usage)
{
    QStringList options;
    const QRegularExpression option(QStringLiteral("(?<![\\w-])--[a-z][a-z-]*"));
    for (const QRegularExpressionMatch& m : option.globalMatch(usage))
        options.append(m.captured(0));
    options.removeDuplicates();
    return options;
}

// A manual page's text as it reads, without the escapes of its minus signs.
QString ManualPage(const char* name)
{
    return ReadText(QStringLiteral(PARVULA_PACKAGING_BUILD_DIR "/") + QLatin1String(name)
        + QStringLiteral(".1"))
        .replace(QStringLiteral("\\-"), QStringLiteral("-"));
}

} // namespace

TEST(Packaging, EveryAcceptedExtensionHasItsMimeTypeInTheDesktopEntry)
{
    const QStringList listed = DesktopMimeTypes();
    ASSERT_FALSE(listed.isEmpty());
    const QMimeDatabase db;
    QSet<QString> needed;
    for (const QString& extension : app::DefaultFileAccept().split(u',')) {
        const QMimeType type
            = db.mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
        ASSERT_FALSE(type.isDefault()) << extension.toStdString();
        QStringList names = type.aliases();
        names.prepend(type.name());
        bool found = false;
        for (const QString& name : names) {
            if (listed.contains(name)) {
                found = true;
                needed.insert(name);
            }
        }
        EXPECT_TRUE(found) << "no MIME type of ." << extension.toStdString()
                           << " in the desktop entry; add " << type.name().toStdString()
                           << " to PARVULA_READ_MIME_TYPES";
    }
    // And nothing the window would not take.
    for (const QString& name : listed)
        EXPECT_TRUE(needed.contains(name)) << name.toStdString();
}

TEST(Packaging, DesktopEntryAndMetainfoAgree)
{
    EXPECT_EQ(DesktopValue(QStringLiteral("Exec")), QStringLiteral("parvula %F"));
    EXPECT_EQ(DesktopValue(QStringLiteral("Icon")), QStringLiteral("parvula"));
    EXPECT_EQ(MetainfoMediaTypes(), DesktopMimeTypes());
    const QString metainfo = ReadText(QStringLiteral(PARVULA_METAINFO_FILE));
    EXPECT_TRUE(metainfo.contains(
        QStringLiteral("<launchable type=\"desktop-id\">parvula.desktop</launchable>")));
    EXPECT_TRUE(metainfo.contains(QStringLiteral("<release version=\"" PARVULA_PROJECT_VERSION)));
    EXPECT_TRUE(metainfo.contains(QStringLiteral("docs/main-window.png</image>")));
}

TEST(Packaging, ManualPagesNameEveryOption)
{
    const QString cliPage = ManualPage("parvula-cli");
    const QStringList cliOptions = OptionsOf(cli::UsageText());
    EXPECT_GE(cliOptions.size(), 18);
    for (const QString& option : cliOptions)
        EXPECT_TRUE(cliPage.contains(option)) << option.toStdString();
    EXPECT_TRUE(cliPage.contains(QStringLiteral("Parvula " PARVULA_PROJECT_VERSION)));

    const QString windowPage = ManualPage("parvula");
    const QStringList windowOptions = OptionsOf(app::WindowUsageText());
    EXPECT_EQ(
        windowOptions, (QStringList { QStringLiteral("--help"), QStringLiteral("--version") }));
    for (const QString& option : windowOptions)
        EXPECT_TRUE(windowPage.contains(option)) << option.toStdString();
}

TEST(Packaging, IconPngsHaveTheirThemeSizes)
{
    for (int size : { 16, 24, 32, 48, 64, 128, 256 }) {
        QFile png(QStringLiteral(PARVULA_ICONS_DIR "/hicolor/%1x%1/apps/parvula.png").arg(size));
        ASSERT_TRUE(png.open(QIODevice::ReadOnly)) << size;
        const QByteArray head = png.read(24);
        ASSERT_EQ(head.size(), 24);
        ASSERT_TRUE(head.startsWith("\x89PNG\r\n\x1a\n"));
        // IHDR: width and height, big-endian, at bytes 16 and 20.
        const auto at = [&](int i) {
            return (quint32(quint8(head[i])) << 24) | (quint32(quint8(head[i + 1])) << 16)
                | (quint32(quint8(head[i + 2])) << 8) | quint32(quint8(head[i + 3]));
        };
        EXPECT_EQ(at(16), quint32(size));
        EXPECT_EQ(at(20), quint32(size));
    }
}
