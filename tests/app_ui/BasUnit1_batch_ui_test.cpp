// "Create all" and "Create selected" from the window: the list, the controls read per file, the
// count message, and a failure ending the run with one error box.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/BasUnit1.h"
#include "app/BasUnit1_batch.h"
#include "app/DragDrop1.h"
#include "framework/spz1_msg.h"
#include "framework/spz1_paths.h"
#include "framework/spz1_ui_spinedit.h"
#include "imaging/imagefiles.h"
#include "platform/platform_fs.h"
#include "webinfo/webinfo1.h"

using namespace parvula;
using namespace parvula::app;

namespace {

class WindowBatchTest : public testing::Test {
protected:
    void SetUp() override
    {
        framework::TFolderSources sources;
        sources.exeFilePath = m_config.filePath("bin/parvula");
        sources.roaming = m_config.filePath("config");
        sources.documents = m_config.filePath("documents");
        sources.title = "Parvula";
        QDir().mkpath(sources.roaming);
        QDir().mkpath(sources.documents);
        framework::ResolveDataFolders(false, sources, false);
        m_previous = framework::SetMsgResponder([this](const framework::TMsgRequest& r) {
            boxes.push_back(r);
            return framework::mrOk;
        });
        CreateWindows();
        webinfo::WebInfo->SetInfoServiceUrl("http://127.0.0.1:9/gw/");
        Form1->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
        boxes.clear();
    }
    void TearDown() override
    {
        DestroyWindows();
        framework::SetMsgResponder(m_previous);
    }

    QString Picture(const QString& name)
    {
        imaging::TBitmap bmp(30, 20, 24);
        bmp.Fill({ 10, 200, 30 });
        imaging::TPicture p;
        p.Assign(std::move(bmp));
        const QString path = dir.filePath(name);
        EXPECT_TRUE(imaging::SaveAsPng(p, platform::ToPath(path)));
        return path;
    }
    QStringList Outputs() const
    {
        return QDir(dir.path()).entryList({ "tn_*" }, QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir dir;
    std::vector<framework::TMsgRequest> boxes;

private:
    QTemporaryDir m_config;
    framework::TMsgResponder m_previous;
};

} // namespace

TEST_F(WindowBatchTest, CreateAllWritesEveryEntryAndReportsTheCount)
{
    DragDropForm->DropFiles({ Picture("b.png"), Picture("a.png") });
    Form1->edWidth->SetValue(15);
    Form1->edFilter->setCurrentIndex(6);
    Form1->edFormat->setCurrentIndex(Form1->edFormat->findText("gif"));
    QTest::mouseClick(Form1->btExec, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Created: 2");
    EXPECT_EQ(boxes[0].kind, framework::TMsgKind::Information);
    EXPECT_EQ(Outputs(), (QStringList { "tn_a.gif", "tn_b.gif" }));
    imaging::TPicture out;
    imaging::LoadFromFile(out, platform::ToPath(dir.filePath("tn_a.gif")));
    EXPECT_EQ(out.Width(), 15);
    EXPECT_EQ(out.Height(), 10);
}

TEST_F(WindowBatchTest, CreateSelectedTakesOnlyTheSelectedEntries)
{
    DragDropForm->DropFiles({ Picture("a.png"), Picture("b.png"), Picture("c.png") });
    QTest::mouseClick(Form1->btExecSel, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Created: 0");
    EXPECT_TRUE(Outputs().isEmpty());

    DragDropForm->Files->item(1)->setSelected(true);
    QTest::mouseClick(Form1->btExecSel, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Created: 1");
    EXPECT_EQ(Outputs(), QStringList { "tn_b.png" });
}

TEST_F(WindowBatchTest, AnEmptyListCreatesNothing)
{
    QTest::mouseClick(Form1->btExec, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Created: 0");
}

TEST_F(WindowBatchTest, AFailureAtTheThirdOfFiveShowsOneErrorAndNoCount)
{
    QStringList paths;
    for (const char* name : { "a.png", "b.png", "c.png", "d.png", "e.png" })
        paths << Picture(name);
    QFile broken(paths[2]);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("no picture");
    broken.close();
    DragDropForm->DropFiles(paths);
    QTest::mouseClick(Form1->btExec, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, framework::TMsgKind::Error);
    EXPECT_FALSE(boxes[0].text.startsWith("Created"));
    EXPECT_TRUE(boxes[0].text.endsWith('.'));
    EXPECT_EQ(Outputs(), (QStringList { "tn_a.png", "tn_b.png" }));
    // The window goes on: the next run works.
    DragDropForm->Files->clear();
    QTest::mouseClick(Form1->btExec, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Created: 0");
}

TEST_F(WindowBatchTest, ControlsAreReadAsTheRunSeesThem)
{
    Form1->edWidth->SetText("abc");
    Form1->edJpgQual->SetText("zz");
    Form1->edFilter->setCurrentIndex(-1);
    Form1->edFormat->setCurrentIndex(-1);
    Form1->edNamex->setText("_t");
    const TBatchSettings s = Form1->ReadBatchSettings();
    EXPECT_EQ(s.width, 0);
    EXPECT_EQ(s.jpgQual, 10);
    EXPECT_EQ(s.filter, -1);
    EXPECT_EQ(s.format, QString());
    EXPECT_EQ(s.namex, "_t");
}
