// The information panel against a local HTTP server: the query, reloads, failures, following
// the host window, and EmbedForm.
#include "webinfo/ui/webinfo1.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFrame>
#include <QLocale>
#include <QNetworkProxy>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "framework/spz1_paths.h"
#include "platform/platform_version.h"
#include "webinfo/webinfo_url.h"
#include "webinfo_http_support.h"

using namespace parvula;
using namespace parvula::webinfo;

namespace {

constexpr int kWaitMs = 15000;

class WebInfoTest : public testing::Test {
protected:
    void SetUp() override
    {
        // A proxy from the environment must not get between the panel and the loopback server.
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        framework::ProductCode = QStringLiteral("PV");
        framework::ProductVersion = QStringLiteral("0.2.0.3");
        framework::ProductTitle = QStringLiteral("Parvula");
        ASSERT_TRUE(server.Listen());
        panel.SetInfoServiceUrl(server.Url("/gw/"));
        panel.SetClock([this] { return now; });
        host.resize(520, 300);
        host.move(40, 30);
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    // Waits until the server has answered n requests and the panel has dealt with the last one.
    bool LoadedPages(int n)
    {
        return QTest::qWaitFor([&] { return server.targets.size() >= n && loaded >= n; }, kWaitMs);
    }
    void CountLoads()
    {
        QObject::connect(&panel, &TWebInfo::PageLoaded, [this] { ++loaded; });
        QObject::connect(&panel, &TWebInfo::NavigationFailed, [this] { ++failed; });
    }

    TTestHttpServer server;
    TWebInfo panel;
    QWidget host;
    QDateTime now = QDateTime(QDate(2026, 12, 10), QTime(12, 0, 0));
    int loaded = 0;
    int failed = 0;
};

QString Key(const QString& target, const QString& key)
{
    const QRegularExpression re(QStringLiteral("[?&]") + key + QStringLiteral("=([^&]*)"));
    return re.match(target).captured(1);
}

} // namespace

TEST_F(WebInfoTest, SendsTheQueryKeysInOrderAndShowsThePage)
{
    CountLoads();
    framework::ProductTitle = QStringLiteral("Par vula&Co");
    server.body = "<html><body><p><b>Parvula</b> 0.2.0.3 &ndash; what is new: faster GIF output, "
                  "and a colour picker for Mono Color.</p></body></html>";
    panel.exec(&host, 3);
    ASSERT_TRUE(LoadedPages(1));

    const QString date = QLocale(QLocale::German, QLocale::Germany)
                             .toString(platform::ExeBuildDate().date(), QLocale::ShortFormat);
    EXPECT_TRUE(QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d\\d$").match(date).hasMatch())
        << date.toStdString();
    EXPECT_EQ(server.targets.at(0),
        "/gw/?cmd=info&p=PV&v=0.2.0.3&d=" + date + "&t=Par%20vula%26Co&l=&tst=5000");
    EXPECT_TRUE(panel.isVisible());
    EXPECT_TRUE(panel.wb->toPlainText().contains("what is new"));
    EXPECT_TRUE(panel.Timer.isActive());
    EXPECT_EQ(panel.Timer.interval(), 180000);
    EXPECT_EQ(failed, 0);

    const QString docs = qEnvironmentVariable("PARVULA_DOCS_DIR");
    if (!docs.isEmpty()) {
        EXPECT_TRUE(panel.grab().save(QDir(docs).filePath("information-panel.png")));
    }
}

TEST_F(WebInfoTest, ReloadsSendAFreshDayStamp)
{
    CountLoads();
    panel.exec(&host, 3);
    ASSERT_TRUE(LoadedPages(1));
    now = now.addSecs(9); // more than 8.64 s later
    panel.btO->click();
    ASSERT_TRUE(LoadedPages(2));
    now = now.addSecs(9);
    panel.TimerTimer();
    ASSERT_TRUE(LoadedPages(3));
    EXPECT_EQ(Key(server.targets.at(0), "tst"), "5000");
    EXPECT_EQ(Key(server.targets.at(1), "tst"), "5002");
    EXPECT_EQ(Key(server.targets.at(2), "tst"), "5003");
}

TEST_F(WebInfoTest, AFailedLoadHidesThePanelAndTheTimerDoesNotBringItBack)
{
    CountLoads();
    server.status = 404;
    panel.exec(&host, 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed == 1; }, kWaitMs));
    EXPECT_FALSE(panel.isVisible());
    EXPECT_TRUE(panel.Timer.isActive());
    panel.TimerTimer();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(server.targets.size(), 1);

    // Nothing listens: the connection is refused.
    panel.SetInfoServiceUrl(QStringLiteral("http://127.0.0.1:%1/gw/").arg(ClosedLoopbackPort()));
    panel.exec(&host, 3);
    EXPECT_TRUE(panel.isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed == 2; }, kWaitMs));
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(loaded, 0);

    // A reply far larger than any information page.
    server.status = 200;
    server.body = QByteArray(3 * 1024 * 1024, 'a');
    panel.SetInfoServiceUrl(server.Url("/gw/"));
    panel.exec(&host, 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed == 3; }, kWaitMs));
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(loaded, 0);

    // Only a new exec shows it again.
    server.body = "<p>back</p>";
    panel.exec(&host, 3);
    ASSERT_TRUE(LoadedPages(1));
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(failed, 3);
}

TEST_F(WebInfoTest, CloseButtonHidesForGoodAndReloadButtonReloads)
{
    CountLoads();
    panel.exec(&host, 3);
    ASSERT_TRUE(LoadedPages(1));
    now = now.addSecs(60);
    panel.btO->click();
    ASSERT_TRUE(LoadedPages(2));
    EXPECT_NE(Key(server.targets.at(1), "tst"), Key(server.targets.at(0), "tst"));

    panel.btX->click();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(panel.Timer.isActive());
    EXPECT_TRUE(host.isVisible());
    panel.TimerTimer();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(server.targets.size(), 2);
}

TEST_F(WebInfoTest, IntervalFollowsTimerVal)
{
    CountLoads();
    panel.exec(&host, 0);
    EXPECT_EQ(panel.Timer.interval(), 360000);
    EXPECT_TRUE(panel.Timer.isActive());
    panel.exec(&host, 3);
    EXPECT_EQ(panel.Timer.interval(), 180000);
    panel.exec(&host, 0);
    EXPECT_EQ(panel.Timer.interval(), 180000);
    // Loads once and never reloads by itself.
    panel.exec(&host, -1);
    EXPECT_FALSE(panel.Timer.isActive());
    EXPECT_EQ(panel.Timer.interval(), 180000);
    // Far beyond what a timer can hold: the longest interval instead of a wrapped one.
    panel.exec(&host, 100000);
    EXPECT_EQ(panel.Timer.interval(), std::numeric_limits<int>::max());
    // Each load superseded the one before; aborting those is no failure that would hide it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded >= 1; }, kWaitMs));
    EXPECT_EQ(failed, 0);
    EXPECT_TRUE(panel.isVisible());
}

TEST_F(WebInfoTest, FollowsTheHostWindowsMovesAndWidth)
{
    CountLoads();
    panel.exec(&host, 3);
    ASSERT_TRUE(LoadedPages(1));
    EXPECT_TRUE(panel.isWindow());
    EXPECT_EQ(panel.MainForm, &host);
    auto under = [&] {
        const QRect f = host.frameGeometry();
        return panel.geometry() == QRect(f.left(), f.top() + f.height(), f.width(), 90);
    };
    EXPECT_TRUE(QTest::qWaitFor(under, kWaitMs))
        << panel.geometry().x() << "," << panel.geometry().y();

    host.move(200, 150);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return host.pos() == QPoint(200, 150) && under(); }, kWaitMs));
    host.resize(640, 200);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return panel.width() == host.frameGeometry().width() && under(); }, kWaitMs));
    EXPECT_EQ(panel.height(), 90);
}

TEST_F(WebInfoTest, InsideAContainerTheCloseButtonHidesTheContainerToo)
{
    CountLoads();
    QWidget window;
    window.resize(600, 400);
    auto* container = new QFrame(&window);
    container->setGeometry(10, 300, 580, 90);
    window.show();
    panel.exec(container, 3);
    ASSERT_TRUE(LoadedPages(1));
    EXPECT_EQ(panel.MainForm, nullptr);
    EXPECT_EQ(panel.parentWidget(), container);
    EXPECT_EQ(panel.geometry(), container->contentsRect());
    panel.btX->click();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(container->isVisible());
    EXPECT_FALSE(panel.Timer.isActive());

    // Back to a free window under a host window.
    panel.exec(&host, 3);
    EXPECT_TRUE(panel.isWindow());
    EXPECT_EQ(panel.parentWidget(), nullptr);
    ASSERT_TRUE(LoadedPages(2));
    container->resize(100, 50);
    EXPECT_EQ(panel.height(), 90);
}

TEST(EmbedForm, PlacesAFormInsideAHostAndTakesItOutAgain)
{
    QWidget window;
    window.setGeometry(100, 100, 600, 400);
    auto* host = new QFrame(&window);
    host->setFrameStyle(QFrame::Box);
    host->setLineWidth(2);
    host->setGeometry(10, 20, 300, 100);
    window.show();

    QWidget form;
    form.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    form.resize(200, 50);
    EmbedForm(&form, host);
    EXPECT_EQ(form.parentWidget(), host);
    EXPECT_FALSE(form.isWindow());
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.geometry(), host->contentsRect());
    host->resize(350, 120);
    EXPECT_EQ(form.geometry(), host->contentsRect());

    EmbedForm(&form, nullptr);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.parentWidget(), nullptr);
    EXPECT_TRUE(form.isWindow());
    EXPECT_FALSE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(QRect(form.pos(), form.size()).center(), window.frameGeometry().center());
    // The former host no longer sizes it.
    const QSize size = form.size();
    host->resize(200, 80);
    EXPECT_EQ(form.size(), size);
}

TEST(WebInfoValues, UrlEncodeKeepsOnlyTheSafeBytes)
{
    const std::tuple<QByteArray, bool, QByteArray> cases[] = {
        { "Parvula", false, "Parvula" },
        { "a b", false, "a%20b" },
        { "a b", true, "a+b" },
        { "*-./:@_{}", false, "*-./:@_{}" },
        { "&?=+%#|~\"'", false, "%26%3F%3D%2B%25%23%7C%7E%22%27" },
        { "!$(),;<>[]\\^`", false, "%21%24%28%29%2C%3B%3C%3E%5B%5D%5C%5E%60" },
        { QByteArray("\x00\x01\x1f\x7f\x80\xff", 6), false, "%00%01%1F%7F%80%FF" },
        { "", false, "" },
    };
    for (const auto& [in, plus, out] : cases)
        EXPECT_EQ(URLEncode(in, plus), out) << in.toStdString();
    EXPECT_EQ(URLEncodeText(QStringLiteral("Größe 1")), "Gr%C3%B6%C3%9Fe%201");
}

TEST(WebInfoValues, RoundUpGoesAwayFromZeroAndTheDayStampCountsTenThousandthsOfADay)
{
    const std::pair<double, qint32> round[] = {
        { 0.0, 0 },
        { 2.0, 2 },
        { 2.1, 3 },
        { 0.5, 1 },
        { -0.5, -1 },
        { -2.0, -2 },
        { -2.1, -3 },
        { 1e12, std::numeric_limits<qint32>::max() },
        { -1e12, std::numeric_limits<qint32>::min() },
        { std::nan(""), 0 },
    };
    for (const auto& [v, r] : round)
        EXPECT_EQ(RoundUp(v), r) << v;

    const QDate day(2026, 12, 10);
    const std::pair<QTime, qint32> stamps[] = {
        { QTime(0, 0, 0), 0 },
        { QTime(0, 0, 0, 1), 1 },
        { QTime(0, 0, 8, 640), 1 },
        { QTime(0, 0, 8, 641), 2 },
        { QTime(12, 0, 0), 5000 },
        { QTime(12, 0, 0, 1), 5001 },
        { QTime(23, 59, 59, 999), 10000 },
    };
    for (const auto& [t, s] : stamps)
        EXPECT_EQ(DayStamp(QDateTime(day, t)), s) << t.toString("HH:mm:ss.zzz").toStdString();
}
