// The progress window of a longer run from the window: Cancel after the file in progress, the
// main window blocked meanwhile, an error still ending the run with one box, and the README's
// picture of the progress window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include "app/ui/BasUnit1.h"
#include "app/picture_save.h"
#include "app_ui/app_ui_support.h"
#include "app/ui/BasUnit1_progress.h"
#include "app/ui/DragDrop1.h"
#include "framework/ui/spz1_msg.h"
#include "framework/spz1_paths.h"
#include "imaging/imagefiles.h"
#include "platform/platform_fs.h"
#include "platform/ui/platform_ui.h"
#include "webinfo/ui/webinfo1.h"

using namespace parvula;
using namespace parvula::app;

namespace {

class ProgressTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_config.isValid());
        test::UseOwnFolders(m_config);
        m_previous = framework::SetMsgResponder([this](const framework::TMsgRequest& r) {
            boxes.push_back(r);
            // A box shown while the progress window is still up would sit behind it.
            progressUpAtBox.push_back(Form1->findChild<TProgressForm*>() != nullptr);
            return framework::mrOk;
        });
        ASSERT_TRUE(test::StartWindows());
        boxes.clear();
    }
    void TearDown() override
    {
        DestroyWindows();
        framework::SetMsgResponder(m_previous);
    }

    // count small pictures p00.png, p01.png, … dropped on the list.
    QStringList DropPictures(int count)
    {
        imaging::TBitmap bmp(30, 20, 24);
        bmp.Fill({ 10, 200, 30 });
        imaging::TPicture p;
        p.Assign(std::move(bmp));
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            paths << dir.filePath(QStringLiteral("p%1.png").arg(i, 2, 10, QLatin1Char('0')));
            EXPECT_TRUE(app::SaveAsPng(p, platform::ToPath(paths.back())));
        }
        DragDropForm->DropFiles(paths);
        return paths;
    }
    QStringList Outputs() const
    {
        return QDir(dir.path()).entryList({ "tn_*" }, QDir::Files | QDir::Hidden, QDir::Name);
    }
    QStringList Temporaries() const
    {
        return QDir(dir.path()).entryList({ ".parvula-*" }, QDir::Files | QDir::Hidden);
    }
    static void PostClick(QWidget* button)
    {
        const QPointF at = QRectF(button->rect()).center();
        const QPointF global = button->mapToGlobal(at);
        for (QEvent::Type type : { QEvent::MouseButtonPress, QEvent::MouseButtonRelease }) {
            QCoreApplication::postEvent(button,
                new QMouseEvent(type, at, global, Qt::LeftButton,
                    type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {}));
        }
    }
    static TProgressForm* ProgressWindow() { return Form1->findChild<TProgressForm*>(); }

    // A click at btExpand that travels like a user's: through the window system, where a
    // window blocked by a modal one drops it.
    static void UserClickOnExpand()
    {
        const QPoint at = Form1->btExpand->mapTo(Form1, Form1->btExpand->rect().center());
        QTest::mouseClick(Form1->windowHandle(), Qt::LeftButton, {}, at);
    }

    QTemporaryDir dir;
    std::vector<framework::TMsgRequest> boxes;
    std::vector<bool> progressUpAtBox;

private:
    QTemporaryDir m_config;
    framework::TMsgResponder m_previous;
};

} // namespace

TEST_F(ProgressTest, CancelAfterThreeOfFiftyKeepsExactlyTheFilesWrittenAndCountsThem)
{
    DropPictures(50);
    QStringList shownCounts;
    QObject::connect(Form1, &TForm1::BatchFileDone, Form1, [&](int done, int total) {
        EXPECT_EQ(total, 50);
        TProgressForm* progress = ProgressWindow();
        ASSERT_NE(progress, nullptr);
        shownCounts << progress->lbCount->text();
        EXPECT_EQ(progress->ProgressBar1->value(), done);
        // Queued like a user's click: only the run's own event processing between files can
        // deliver it.
        if (done == 3)
            PostClick(progress->btCancel);
    });
    QTest::mouseClick(Form1->btExec, Qt::LeftButton);

    EXPECT_EQ(shownCounts,
        (QStringList { "Files done: 1 of 50", "Files done: 2 of 50", "Files done: 3 of 50" }));
    EXPECT_EQ(Outputs(), (QStringList { "tn_p00.png", "tn_p01.png", "tn_p02.png" }));
    EXPECT_TRUE(Temporaries().isEmpty());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Created: 3");
    EXPECT_EQ(boxes[0].kind, framework::TMsgKind::Information);
    EXPECT_FALSE(progressUpAtBox[0]) << "the count box appeared behind the progress window";
    EXPECT_EQ(ProgressWindow(), nullptr);
}

TEST_F(ProgressTest, EscapeOnTheProgressWindowCancelsLikeTheButton)
{
    DropPictures(6);
    QObject::connect(Form1, &TForm1::BatchFileDone, Form1, [&](int done, int) {
        if (done == 2)
            QTest::keyClick(ProgressWindow(), Qt::Key_Escape);
    });
    QTest::mouseClick(Form1->btExec, Qt::LeftButton);
    EXPECT_EQ(Outputs(), (QStringList { "tn_p00.png", "tn_p01.png" }));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Created: 2");
}

TEST_F(ProgressTest, TheMainWindowTakesNoInputWhileTheProgressWindowIsUp)
{
    // Three files finish without a progress window: nothing is modal, the click goes through.
    DropPictures(3);
    bool modalSeen = false;
    QObject::connect(Form1, &TForm1::BatchFileDone, Form1,
        [&](int, int) { modalSeen = modalSeen || QApplication::activeModalWidget() != nullptr; });
    QTest::mouseClick(Form1->btExec, Qt::LeftButton);
    EXPECT_FALSE(modalSeen);
    EXPECT_EQ(ProgressWindow(), nullptr);

    DragDropForm->Files->clear();
    DropPictures(8);
    int heightDuringRun = 0;
    QObject::connect(Form1, &TForm1::BatchFileDone, Form1, [&](int done, int) {
        if (done != 2)
            return;
        EXPECT_EQ(QApplication::activeModalWidget(), ProgressWindow());
        EXPECT_TRUE(ProgressWindow()->isVisible());
        UserClickOnExpand();
        QApplication::processEvents();
        heightDuringRun = Form1->PanelT->minimumHeight();
    });
    boxes.clear();
    QTest::mouseClick(Form1->btExec, Qt::LeftButton);
    EXPECT_EQ(heightDuringRun, 138) << "the settings panel took a click during the run";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Created: 8");

    // The same click after the run reaches the button.
    UserClickOnExpand();
    QTRY_COMPARE(Form1->PanelT->minimumHeight(), 56);
}

TEST_F(ProgressTest, AnErrorInALongRunStillEndsItWithOneErrorBoxAndNoCount)
{
    const QStringList paths = DropPictures(10);
    QFile broken(paths[4]);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("no picture");
    broken.close();
    QTest::mouseClick(Form1->btExec, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, framework::TMsgKind::Error);
    EXPECT_FALSE(boxes[0].text.startsWith("Created"));
    EXPECT_FALSE(progressUpAtBox[0]) << "the error box appeared behind the progress window";
    EXPECT_EQ(Outputs(), (QStringList { "tn_p00.png", "tn_p01.png", "tn_p02.png", "tn_p03.png" }));
    EXPECT_TRUE(Temporaries().isEmpty());
    EXPECT_EQ(ProgressWindow(), nullptr);
}

// Draws the progress window in the middle of a run. With PARVULA_GRAB set to a file name it
// writes the picture there, which is how docs/progress-window.png is made.
TEST_F(ProgressTest, PictureOfTheProgressWindow)
{
    ApplyVisualStyle(QString::fromLatin1(platform::RubyGraphiteStyle));
    TProgressForm progress(Form1, 50);
    progress.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&progress));
    ASSERT_TRUE(progress.Proceed(17, "/home/anna/Pictures/Holiday 2026/harbour at night.png"));
    EXPECT_EQ(progress.lbFile->text(), "harbour at night.png");
    EXPECT_EQ(progress.lbCount->text(), "Files done: 17 of 50");

    const QImage picture = progress.grab().toImage();
    ASSERT_FALSE(picture.isNull());
    const QRgb corner = picture.pixel(0, 0);
    bool varied = false;
    for (int y = 0; y < picture.height() && !varied; y += 3) {
        for (int x = 0; x < picture.width() && !varied; x += 3)
            varied = picture.pixel(x, y) != corner;
    }
    EXPECT_TRUE(varied);

    const QString target = qEnvironmentVariable("PARVULA_GRAB");
    if (!target.isEmpty()) {
        EXPECT_TRUE(picture.save(target, "PNG")) << target.toStdString();
    }
}
