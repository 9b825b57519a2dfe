// The information panel under the real main window: placed at its lower edge, as wide as it,
// and following it. With PARVULA_GRAB_PANEL set to a file name the two are drawn into one
// picture there, which is how docs/main-window-with-panel.png is made.
#include <gtest/gtest.h>

#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include "app/ui/BasUnit1.h"
#include "app_ui/app_ui_support.h"
#include "framework/ui/spz1_msg.h"
#include "framework/spz1_paths.h"
#include "platform/ui/platform_ui.h"
#include "webinfo/ui/webinfo1.h"

using namespace parvula;
using namespace parvula::app;

TEST(MainWindowPanel, ThePanelSitsUnderTheWindowAndFollowsIt)
{
    QTemporaryDir dir;
    test::UseOwnFolders(dir);
    framework::ProductVersion = "0.2.0.3";
    const auto previous = framework::SetMsgResponder([](const auto&) { return framework::mrOk; });
    ApplyVisualStyle(QString::fromLatin1(platform::RubyGraphiteStyle));
    CreateWindows();
    webinfo::TWebInfo* panel = webinfo::WebInfo;
    // Nothing listens there: the load fails at once; the page is then shown by hand.
    panel->SetInfoServiceUrl("http://127.0.0.1:9/gw/");
    Form1->move(20, 30);
    Form1->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
    QTRY_VERIFY(!panel->isVisible());

    panel->wb->ShowPage(QUrl("http://127.0.0.1/gw/"),
        "<p><b>Parvula</b> 0.2.0.3 &ndash; what is new: photos come out upright, and a run of "
        "many files shows its progress.</p>");
    panel->show();
    panel->MainResize();
    const QRect main = Form1->frameGeometry();
    EXPECT_EQ(panel->geometry().top(), main.bottom() + 1);
    EXPECT_EQ(panel->geometry().left(), main.left());
    EXPECT_EQ(panel->width(), main.width());

    Form1->move(60, 80);
    QTRY_COMPARE(panel->geometry().top(), Form1->frameGeometry().bottom() + 1);
    EXPECT_EQ(panel->geometry().left(), Form1->frameGeometry().left());

    const QString target = qEnvironmentVariable("PARVULA_GRAB_PANEL");
    if (!target.isEmpty()) {
        const QPixmap window = Form1->grab();
        const QPixmap info = panel->grab();
        QPixmap both(window.width(), window.height() + info.height());
        QPainter painter(&both);
        painter.drawPixmap(0, 0, window);
        painter.drawPixmap(0, window.height(), info);
        painter.end();
        EXPECT_TRUE(both.save(target));
    }
    DestroyWindows();
    framework::SetMsgResponder(previous);
}
