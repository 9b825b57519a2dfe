// "Create all" and "Create selected" from the window: the list, the controls read per file (with
// "Upright", "Shrink only" and "Keep dates"), the count message, and a failure ending the run with
// one error box.
#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/ui/BasUnit1.h"
#include "app/picture_save.h"
#include "app_ui/app_ui_support.h"
#include "app/BasUnit1_batch.h"
#include "app/ui/DragDrop1.h"
#include "framework/ui/spz1_binding.h"
#include "framework/ui/spz1_msg.h"
#include "framework/spz1_paths.h"
#include "framework/ui/spz1_ui_spinedit.h"
#include "imaging/imagefiles.h"
#include "platform/platform_fs.h"
#include "webinfo/ui/webinfo1.h"

using namespace parvula;
using namespace parvula::app;

namespace {

class WindowBatchTest : public testing::Test {
protected:
    void SetUp() override
    {
        test::UseOwnFolders(m_config);
        m_previous = framework::SetMsgResponder([this](const framework::TMsgRequest& r) {
            boxes.push_back(r);
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

    QString Picture(const QString& name)
    {
        imaging::TBitmap bmp(30, 20, 24);
        bmp.Fill({ 10, 200, 30 });
        imaging::TPicture p;
        p.Assign(std::move(bmp));
        const QString path = dir.filePath(name);
        EXPECT_TRUE(app::SaveAsPng(p, platform::ToPath(path)));
        return path;
    }
    // A 40 × 20 JPEG whose EXIF data says the camera was turned: a viewer shows it 20 × 40.
    QString TurnedPhoto(const QString& name)
    {
        imaging::TBitmap bmp(40, 20, 24);
        bmp.Fill({ 90, 60, 30 });
        imaging::TPicture p;
        p.Assign(std::move(bmp));
        const auto encoded = imaging::EncodeJpeg(p, "x.jpg", 90);
        const QByteArray jpeg(reinterpret_cast<const char*>(encoded->bytes.data()),
            static_cast<qsizetype>(encoded->bytes.size()));
        // APP1 "Exif", little-endian TIFF header, one IFD entry: orientation (0x0112) = 6.
        const QByteArray tiff("II\x2A\0\x08\0\0\0"
                              "\x01\0"
                              "\x12\x01\x03\0\x01\0\0\0\x06\0\0\0"
                              "\0\0\0\0",
            26);
        const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
        const int length = static_cast<int>(payload.size()) + 2;
        const QByteArray app1
            = QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + payload;
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(jpeg.left(2) + app1 + jpeg.mid(2));
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

TEST_F(WindowBatchTest, UprightAndShrinkOnlyFromTheWindowDecideTheOutputsSize)
{
    const QString photo = TurnedPhoto("photo.jpg");
    DragDropForm->DropFiles({ photo });
    Form1->edWidth->SetValue(80);
    Form1->edHeight->SetValue(80);
    const struct {
        bool upright;
        bool shrinkOnly;
        int width;
        int height;
    } cases[] = {
        { true, false, 40, 80 }, // turned to 20 × 40, then enlarged into the box
        { false, false, 80, 40 },
        { true, true, 20, 40 }, // turned, and kept at its size
        { false, true, 40, 20 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "upright " << c.upright << " shrink " << c.shrinkOnly);
        Form1->edAutoRotate->setChecked(c.upright);
        Form1->edShrinkOnly->setChecked(c.shrinkOnly);
        Form1->edNamex->setText(QStringLiteral("tn%1%2_").arg(c.upright).arg(c.shrinkOnly));
        QTest::mouseClick(Form1->btExec, Qt::LeftButton);
        imaging::TPicture out;
        ASSERT_NO_THROW(imaging::LoadFromFile(out,
            platform::ToPath(dir.filePath(Form1->edNamex->text() + QStringLiteral("photo.jpg")))));
        EXPECT_EQ(out.Width(), c.width);
        EXPECT_EQ(out.Height(), c.height);
    }
}

TEST_F(WindowBatchTest, KeepDatesFromTheWindowDatesTheOutputsLikeTheirSources)
{
    const QString picture = Picture("old.png");
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 900);
    std::filesystem::last_write_time(platform::ToPath(picture), old);
    DragDropForm->DropFiles({ picture });
    for (const bool keep : { true, false }) {
        SCOPED_TRACE(keep);
        Form1->edKeepDates->setChecked(keep);
        Form1->edNamex->setText(keep ? QStringLiteral("kept_") : QStringLiteral("new_"));
        QTest::mouseClick(Form1->btExec, Qt::LeftButton);
        const auto written = std::filesystem::last_write_time(
            platform::ToPath(dir.filePath(Form1->edNamex->text() + QStringLiteral("old.png"))));
        const auto apart = std::chrono::duration_cast<std::chrono::seconds>(written - old).count();
        if (keep)
            EXPECT_EQ(apart, 0);
        else
            EXPECT_GT(apart, 3600);
    }
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

// "Create all" takes no focus, so a quality typed into its field is read before the field is
// left: the run gets the number as typed, and the JPEG writer alone turns 0 into 100.
TEST_F(WindowBatchTest, AQualityTypedAndNotLeftIsPassedAsTyped)
{
    const QString source = Picture("q.png");
    imaging::TPicture picture;
    imaging::LoadFromFile(picture, platform::ToPath(source));
    DragDropForm->DropFiles({ source });
    Form1->edFormat->setCurrentIndex(Form1->edFormat->findText("jpg"));
    Form1->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form1));
    const struct {
        const char* typed;
        int quality;
    } cases[] = { { "5", 5 }, { "0", 100 }, { "100", 100 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        DragDropForm->DropFiles({ source });
        Form1->edJpgQual->setFocus(Qt::TabFocusReason);
        Form1->edJpgQual->selectAll();
        QTest::keyClicks(Form1->edJpgQual, QString::fromLatin1(c.typed));
        QTest::mouseClick(Form1->btExec, Qt::LeftButton);
        EXPECT_TRUE(Form1->edJpgQual->hasFocus());
        EXPECT_EQ(Form1->edJpgQual->Text(), QString::fromLatin1(c.typed));
        const QStringList outputs = Outputs();
        ASSERT_FALSE(outputs.isEmpty());
        QFile written(dir.filePath(outputs.back()));
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        const QByteArray bytes = written.readAll();
        const auto expected = imaging::EncodeJpeg(picture, "x.jpg", c.quality);
        ASSERT_TRUE(expected);
        EXPECT_EQ(bytes,
            QByteArray(reinterpret_cast<const char*>(expected->bytes.data()),
                qsizetype(expected->bytes.size())));
        QFile::remove(written.fileName());
    }
    // Leaving the field still brings it into the range.
    Form1->edJpgQual->SetText("5");
    Form1->edWidth->setFocus(Qt::TabFocusReason);
    QTest::qWait(20);
    EXPECT_EQ(Form1->edJpgQual->Text(), "10");
}

TEST_F(WindowBatchTest, AnOutputFolderTakesTheDroppedTreeAndIsRememberedLikeTheOthers)
{
    QDir().mkpath(dir.filePath("Trip/day1"));
    QDir().mkpath(dir.filePath("Trip/day2"));
    Picture("Trip/day1/a.png");
    Picture("Trip/day2/b.png");
    Picture("single.png");
    DragDropForm->DropFiles({ dir.filePath("Trip"), dir.filePath("single.png") });
    // The list still shows one full path per entry.
    EXPECT_EQ(DragDropForm->Entries(),
        (QStringList { dir.filePath("single.png"), dir.filePath("Trip/day1/a.png"),
            dir.filePath("Trip/day2/b.png") }));
    Form1->edOutDir->setText(dir.filePath("Thumbs"));
    QTest::mouseClick(Form1->btExec, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Created: 3");
    for (const char* made :
        { "Thumbs/Trip/day1/tn_a.png", "Thumbs/Trip/day2/tn_b.png", "Thumbs/tn_single.png" })
        EXPECT_TRUE(QFileInfo::exists(dir.filePath(made))) << made;
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("Trip/day1/tn_a.png")));

    // Stored in "df" at closing and loaded again at the next start; a profile keeps it too.
    Form1->BindSettings(QStringLiteral("Profil_Out"), framework::bindSave);
    Form1->close();
    DestroyWindows();
    ASSERT_TRUE(test::StartWindows());
    EXPECT_EQ(Form1->edOutDir->text(), dir.filePath("Thumbs"));
    Form1->edOutDir->clear();
    Form1->BindSettings(QStringLiteral("Profil_Out"), framework::bindLoad);
    EXPECT_EQ(Form1->edOutDir->text(), dir.filePath("Thumbs"));
    // A section written before the setting existed loads it empty: beside the sources.
    Form1->BindSettings(QStringLiteral("Profil_Old"), framework::bindLoad);
    EXPECT_EQ(Form1->edOutDir->text(), QString());
    EXPECT_EQ(Form1->ReadBatchSettings().outputDir, QString());
    Form1->edOutDir->setText("Thumbs");
    EXPECT_EQ(Form1->ReadBatchSettings().outputDir, QDir::homePath() + "/Thumbs");
}
