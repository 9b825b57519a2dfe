// Outbound links and small texts of the main window: homepage, donation page, help, version.
#include "webinfo/ui/links.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QUrl>

#include "buildinfo.h"
#include "framework/ui/spz1_msg.h"
#include "webinfo/webinfo_url.h"

namespace parvula::webinfo {

QString HomepageURL() { return QString::fromUtf8(buildinfo::kHomepageUrl); }

QByteArray DonationURL() { return QByteArray(buildinfo::kDonationUrl); }

int ShellOpen(const QString& target, const QString& parameters)
{
    Q_UNUSED(parameters);
    if (target.isEmpty())
        return 0;
    // An existing file is a document; anything else is taken as an address.
    const QUrl url = QFileInfo::exists(target) ? QUrl::fromLocalFile(target)
                                               : QUrl(target, QUrl::TolerantMode);
    if (!url.isValid())
        return 0;
    return QDesktopServices::openUrl(url) ? 1 : 0;
}

QString DonationAddress(const QString& title)
{
    return QString::fromUtf8(DonationURL()) + URLEncodeText(title);
}

void OpenDonationPage(const QString& title) { ShellOpen(DonationAddress(title)); }

QStringList HelpLines()
{
    return {
        QStringLiteral("Mit diesem Programm können Thumbnails erstellt werden."),
        QString(),
        QStringLiteral("Ziehen Sie die gewünschten Dateien einfach mit der Maus in das Programm."),
        QString(),
        QStringLiteral("Donate: Wenn Ihnen das Programm gefällt, "),
        QStringLiteral("können Sie eine Spende machen (auch Kleinbeträge sind willkommen)."),
        QString(),
        QStringLiteral("Herzlichen Dank."),
        QUrl(HomepageURL()).host(),
    };
}

QString HelpText(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    return text;
}

void ShowHelp(const QStringList& lines)
{
    framework::ShowMsg(HelpText(lines), QStringLiteral("i"));
}

QString VersionCaption(const QString& version)
{
    return QStringLiteral("v ") + version + QStringLiteral(" beta");
}

void SetVersionLabel(QLabel* label, const QString& version)
{
    label->setText(VersionCaption(version));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->adjustSize();
    label->move(kVersionLabelRight - label->width(), kVersionLabelTop);
}

void SetupHomeLink(QLabel* label)
{
    label->setText(QString::fromUtf8(kHomepageCaption));
    label->setToolTip(HomepageURL());
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    f.setUnderline(true);
    label->setFont(f);
    label->setCursor(Qt::PointingHandCursor);
    label->setForegroundRole(QPalette::WindowText);
    // The platform's hot-track colour is the highlight where there is no such system colour.
    label->setBackgroundRole(QPalette::Highlight);
    label->setAutoFillBackground(true);
}

} // namespace parvula::webinfo
