// Homepage, donation address, help text and version label.
#include "webinfo/ui/links.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QLabel>
#include <QUrl>

#include "buildinfo.h"
#include "framework/ui/spz1_msg.h"

using namespace parvula;
using namespace parvula::webinfo;

namespace {

// Takes the URLs that would go to the user's browser.
class TUrlRecorder : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void Open(const QUrl& url) { urls << url; }
};

} // namespace

TEST(Links, DonationAddressCarriesTheEncodedTitle)
{
    const QString prefix = QString::fromUtf8(buildinfo::kDonationUrl);
    ASSERT_TRUE(prefix.endsWith("/donate/?text="));
    EXPECT_EQ(DonationAddress("Parvula"), prefix + "Parvula");
    EXPECT_EQ(DonationAddress("My Tool & Co"), prefix + "My%20Tool%20%26%20Co");

    TUrlRecorder recorder;
    const QString scheme = QUrl(prefix).scheme();
    QDesktopServices::setUrlHandler(scheme, &recorder, "Open");
    OpenDonationPage("My Tool");
    EXPECT_EQ(ShellOpen(HomepageURL()), 1);
    EXPECT_EQ(ShellOpen(QString()), 0);
    QDesktopServices::unsetUrlHandler(scheme);

    ASSERT_EQ(recorder.urls.size(), 2);
    EXPECT_EQ(recorder.urls.at(0).toString(QUrl::FullyEncoded), prefix + "My%20Tool");
    EXPECT_EQ(recorder.urls.at(1), QUrl(HomepageURL()));
}

TEST(Links, HelpTextIsNineLinesEachEndingInCrLf)
{
    const QStringList lines = HelpLines();
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines.count(QString()), 3);
    EXPECT_TRUE(lines.at(1).isEmpty() && lines.at(3).isEmpty() && lines.at(6).isEmpty());
    EXPECT_TRUE(lines.at(4).endsWith(' '));
    EXPECT_EQ(lines.at(8), QUrl(HomepageURL()).host());
    EXPECT_FALSE(lines.at(8).isEmpty());

    framework::TMsgRequest shown;
    int count = 0;
    const auto previous = framework::SetMsgResponder([&](const framework::TMsgRequest& r) {
        shown = r;
        ++count;
        return framework::mrOk;
    });
    ShowHelp(lines);
    framework::SetMsgResponder(previous);

    ASSERT_EQ(count, 1);
    EXPECT_EQ(shown.kind, framework::TMsgKind::Information);
    EXPECT_EQ(shown.text.count("\r\n"), 9);
    EXPECT_TRUE(shown.text.endsWith("\r\n"));
    EXPECT_EQ(shown.text.split("\r\n").mid(0, 9), lines);
}

TEST(Links, VersionLabelIsRightAlignedAt485)
{
    QWidget panel;
    panel.resize(500, 130);
    auto* label = new QLabel(QStringLiteral("v."), &panel);
    label->setGeometry(475, 108, 10, 13);
    for (const QString& version :
        { QStringLiteral("0.2.0.3"), QString(), QStringLiteral("10.20.300.4000") }) {
        SetVersionLabel(label, version);
        EXPECT_EQ(label->text(), "v " + version + " beta");
        EXPECT_EQ(label->x() + label->width(), 485);
        EXPECT_EQ(label->y(), 108);
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
    }
    EXPECT_EQ(VersionCaption("0.2.0.3"), "v 0.2.0.3 beta");
}

TEST(Links, HomeLinkShowsItsAddressAsHint)
{
    QLabel label;
    SetupHomeLink(&label);
    EXPECT_EQ(label.text(), "Tervaso Raruzirize");
    EXPECT_EQ(label.toolTip(), HomepageURL());
    EXPECT_TRUE(label.font().underline());
    EXPECT_EQ(label.font().pixelSize(), 11);
}

#include "links_test.moc"
