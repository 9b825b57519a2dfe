// TForm1: the controls of the first start, focus order, expand and collapse, Copy and Clear,
// the move notification, the style's error path, remembered settings and profiles, and the
// README's picture of the window.
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "app/ui/BasUnit1.h"
#include "app/BasUnit1_batch.h"
#include "app/ui/DragDrop1.h"
#include "framework/ui/spz1_msg.h"
#include "framework/spz1_ini.h"
#include "framework/spz1_paths.h"
#include "framework/ui/spz1_ui_spinedit.h"
#include "platform/ui/platform_ui.h"
#include "webinfo/ui/webinfo1.h"

using namespace parvula;
using namespace parvula::app;
using framework::TMsgRequest;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// The program's windows over a settings folder of their own, so no test touches the user's.
class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        framework::TFolderSources sources;
        sources.exeFilePath = m_dir.filePath(QStringLiteral("bin/parvula"));
        sources.documents = m_dir.filePath(QStringLiteral("documents"));
        sources.roaming = m_dir.filePath(QStringLiteral("config"));
        sources.title = QStringLiteral("Parvula");
        QDir().mkpath(sources.documents);
        QDir().mkpath(sources.roaming);
        framework::ResolveDataFolders(false, sources, false);
        framework::ProductVersion = QStringLiteral("0.2.0.3");
        m_previous = framework::SetMsgResponder([this](const TMsgRequest& r) {
            boxes.push_back(r);
            return answer;
        });
        CreateWindows();
        // The information panel asks a port where nothing listens: it fails at once and hides.
        webinfo::WebInfo->SetInfoServiceUrl(QStringLiteral("http://127.0.0.1:9/gw/"));
    }
    void TearDown() override
    {
        DestroyWindows();
        framework::SetMsgResponder(m_previous);
    }

    void Show()
    {
        Form1->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
    }

    QString Make(const QString& name)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        return path;
    }

    QString SettingsFile() const
    {
        return m_dir.filePath(QStringLiteral("config/Parvula/parvula.ini"));
    }
    void WriteSettings(const QByteArray& text) const
    {
        QDir().mkpath(QFileInfo(SettingsFile()).path());
        QFile f(SettingsFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray ReadSettings() const
    {
        QFile f(SettingsFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList Profiles() const
    {
        QStringList names;
        for (int i = 0; i < Form1->edProfil->count(); ++i)
            names.append(Form1->edProfil->itemText(i));
        return names;
    }
    // The answer the next questions get.
    int answer = framework::mrOk;

    std::vector<TMsgRequest> boxes;

private:
    QTemporaryDir m_dir;
    framework::TMsgResponder m_previous;
};

} // namespace

TEST_F(MainWindowTest, ControlsOfTheSettingsPanelByNameWithCaptionsAndHints)
{
    EXPECT_EQ(Form1->objectName(), QStringLiteral("Form1"));
    EXPECT_EQ(Form1->size(), QSize(496, 442));

    const struct {
        const char* name;
        const char* text; // caption of a label, button or check box
        const char* hint;
    } controls[] = {
        { "Label1", "max. width", "" },
        { "edWidth", nullptr, "0=origin width" },
        { "Label2", "max. height", "" },
        { "edHeight", nullptr, "0=origin height" },
        { "Label6", "prefix/suffix", "" },
        { "edNamex", nullptr, "prefix: tn_\n      or\nsuffix: _tn" },
        { "Label3", "filter", "" },
        { "edFilter", nullptr, "" },
        { "Label5", "format", "" },
        { "edFormat", nullptr, "" },
        { "edUseMono", "Mono Color", "" },
        { "edMono", nullptr, "HTML code -> #123456" },
        { "btHelp", nullptr, "info" },
        { "btExpand", nullptr, "" },
        { "Label7", "jpg qual %", "" },
        { "edJpgQual", nullptr, "" },
        { "Label4", "profil name", "" },
        { "edProfil", nullptr, "" },
        { "btOpen", nullptr, "load profil" },
        { "btSave", nullptr, "save profil" },
        { "btDel", nullptr, "delete profil" },
        { "edAutoRotate", "Upright", "turn photos as the camera held them (EXIF orientation)" },
        { "edShrinkOnly", "Shrink only", "never enlarge pictures smaller than the box" },
        { "Image2", nullptr, "Freiwillige Spende" },
        { "btMore", "more \u25BE", "colours, metadata and dates" },
        { "edColoursAsStored", "Colours as stored",
            "keep the numbers of photos with a colour profile as stored\n(off: converted to "
            "sRGB)" },
        { "Label8", "metadata", nullptr },
        { "edMetadata", nullptr,
            "what the thumbnails keep of EXIF, XMP and IPTC;\nJPEG, PNG and WebP thumbnails only" },
        { "edKeepDates", "Keep dates", "give each thumbnail its source's modification time" },
        { "lbHome", nullptr, nullptr },
        { "lbVersion", nullptr, nullptr },
        { "btCopy", "Copy", "" },
        { "btClear", "Clear", "" },
        { "btExecSel", "Create selected", "" },
        { "btExec", "Create all", "" },
        { "Button1", "Files: Drag + Drop from Explorer (bmp,jpg,png,gif)", "" },
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.name);
        auto* w = Form1->findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_NE(w, nullptr);
        if (c.hint) {
            EXPECT_EQ(w->toolTip(), QString::fromUtf8(c.hint));
        }
        if (!c.text)
            continue;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(label->text(), QString::fromUtf8(c.text));
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_EQ(button->text(), QString::fromUtf8(c.text));
        } else {
            ADD_FAILURE() << "no caption";
        }
    }

    QStringList filters;
    for (int i = 0; i < Form1->edFilter->count(); ++i)
        filters.append(Form1->edFilter->itemText(i));
    EXPECT_EQ(filters,
        (QStringList {
            "none", "Box", "Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell" }));
    QStringList formats;
    for (int i = 0; i < Form1->edFormat->count(); ++i)
        formats.append(Form1->edFormat->itemText(i));
    // WebP joined at the end, so the stored item indexes of the others stay.
    EXPECT_EQ(formats, (QStringList { "", "bmp", "jpg", "png", "gif", "webp" }));
    QStringList metadata;
    for (int i = 0; i < Form1->edMetadata->count(); ++i)
        metadata.append(Form1->edMetadata->itemText(i));
    EXPECT_EQ(metadata, (QStringList { "none", "all", "all but location" }));

    EXPECT_EQ(Form1->edWidth->MinValue(), Form1->edWidth->MaxValue()) << "no limits";
    EXPECT_EQ(Form1->edHeight->MinValue(), Form1->edHeight->MaxValue());
    EXPECT_EQ(Form1->edJpgQual->MinValue(), 10);
    EXPECT_EQ(Form1->edJpgQual->MaxValue(), 100);
    EXPECT_TRUE(Form1->edProfil->isEditable());
    EXPECT_EQ(Form1->ToolBar1->height(), 19);
    EXPECT_EQ(Form1->Button1->height(), 25);
}

TEST_F(MainWindowTest, FirstStartShowsTheDefaultsAndTheVersion)
{
    Show();
    EXPECT_EQ(Form1->pos(), QPoint(0, 0));
    EXPECT_EQ(Form1->edWidth->Value(), 0);
    EXPECT_EQ(Form1->edWidth->Text(), QStringLiteral("0"));
    EXPECT_EQ(Form1->edHeight->Value(), 0);
    EXPECT_EQ(Form1->edNamex->text(), QStringLiteral("tn_"));
    EXPECT_EQ(Form1->edFilter->currentIndex(), -1);
    EXPECT_EQ(Form1->edFormat->currentIndex(), 0) << "the empty format entry";
    EXPECT_EQ(Form1->edJpgQual->Value(), 90);
    EXPECT_FALSE(Form1->edUseMono->isChecked());
    EXPECT_TRUE(Form1->edMono->text().isEmpty());
    EXPECT_TRUE(Form1->edAutoRotate->isChecked());
    EXPECT_FALSE(Form1->edShrinkOnly->isChecked());
    EXPECT_FALSE(Form1->edColoursAsStored->isChecked());
    EXPECT_EQ(Form1->edMetadata->currentText(), QStringLiteral("none"));
    EXPECT_FALSE(Form1->edKeepDates->isChecked());
    EXPECT_FALSE(Form1->PanelMore->isVisible());
    EXPECT_EQ(Form1->PanelT->height(), 138);
    EXPECT_EQ(Form1->lbVersion->text(), QStringLiteral("v 0.2.0.3 beta"));
    EXPECT_EQ(Form1->lbHome->text(), QStringLiteral("Tervaso Raruzirize"));
    EXPECT_FALSE(Form1->lbHome->toolTip().isEmpty());
    EXPECT_EQ(webinfo::WebInfo->MainForm, Form1) << "the information panel follows the window";

    // The file list sits inside the lower panel and accepts the image extensions.
    EXPECT_EQ(DragDropForm->parentWidget(), Form1->Panel);
    EXPECT_TRUE(DragDropForm->isVisible());
    EXPECT_EQ(DragDropForm->FileAccept,
        QStringLiteral("bmp,jpg,jpeg,gif,png,ico,heic,heif,avif,webp,tif,tiff"));
    EXPECT_TRUE(DragDropForm->acceptDrops());
    for (QWidget* hidden :
        std::vector<QWidget*> { Form1->Image1, Form1->List1, Form1->List2, Form1->HelpList })
        EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, TabMovesThroughTheSettingsInTheirOrder)
{
    Show();
    QApplication::setActiveWindow(Form1);
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form1));
    Form1->edWidth->setFocus(Qt::TabFocusReason);

    // The control a focused widget belongs to: spin fields and the editable combo box hand the
    // focus to an inner line edit.
    const auto control = [] {
        QWidget* w = QApplication::focusWidget();
        while (w && !w->objectName().startsWith(QStringLiteral("ed")))
            w = w->parentWidget();
        return w ? w->objectName() : QStringLiteral("(other)");
    };
    QStringList order { control() };
    for (int i = 0; i < 10; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.append(control());
    }
    EXPECT_EQ(order,
        (QStringList { "edWidth", "edHeight", "edNamex", "edFilter", "edFormat", "edJpgQual",
            "edProfil", "edUseMono", "edMono", "edAutoRotate", "edShrinkOnly" }));
}

TEST_F(MainWindowTest, MoreDropsDownColoursMetadataAndDatesInTheFocusOrder)
{
    Show();
    QApplication::setActiveWindow(Form1);
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form1));
    Form1->edOutDir->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), Form1->btMore);

    QTest::keyClick(Form1->btMore, Qt::Key_Space);
    ASSERT_TRUE(Form1->PanelMore->isVisible());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1->PanelMore));
    // Dropped down below the button, like a menu.
    const QPoint below = Form1->btMore->mapToGlobal(QPoint(0, Form1->btMore->height()));
    EXPECT_EQ(Form1->PanelMore->pos(), below);
    const auto control = [] {
        QWidget* w = QApplication::focusWidget();
        return w ? w->objectName() : QStringLiteral("(none)");
    };
    QStringList order { control() };
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.append(control());
    }
    EXPECT_EQ(order,
        (QStringList { "edColoursAsStored", "edMetadata", "edKeepDates", "edColoursAsStored" }));

    // Chosen by keyboard; "more" turns bold while anything behind it is not its default.
    EXPECT_FALSE(Form1->btMore->font().bold());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(Form1->edColoursAsStored->isChecked());
    EXPECT_TRUE(Form1->btMore->font().bold());
    Form1->edColoursAsStored->setChecked(false);
    EXPECT_FALSE(Form1->btMore->font().bold());
    Form1->edMetadata->setCurrentIndex(2);
    EXPECT_TRUE(Form1->btMore->font().bold());
    EXPECT_LE(Form1->btMore->sizeHint().width(), Form1->btMore->width()) << "bold, cut off";

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(Form1->PanelMore->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), Form1->btMore);
}

TEST_F(MainWindowTest, UprightAndShrinkOnlySitInTheExpandedPanelOverlappingNothing)
{
    Show();
    const QRect expanded(0, 0, Form1->PanelT->width(), Form1->ExpandedHeight());
    for (QWidget* box : std::initializer_list<QWidget*> {
             Form1->edAutoRotate, Form1->edShrinkOnly, Form1->btMore }) {
        SCOPED_TRACE(box->objectName().toStdString());
        EXPECT_TRUE(box->isVisible());
        EXPECT_TRUE(expanded.contains(box->geometry())) << "cut off by the panel's edge";
        // The caption must fit its box, or the style clips it.
        EXPECT_LE(box->sizeHint().width(), box->width());
        for (QWidget* other : Form1->PanelT->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other != box && other->isVisible()) {
                EXPECT_FALSE(box->geometry().intersects(other->geometry()))
                    << other->objectName().toStdString();
            }
        }
        // Collapsed, the panel shows the first row only: nothing of the two peeks out.
        EXPECT_GE(box->y(), Form1->CollapsedHeight());
    }
}

TEST_F(MainWindowTest, ExpandCollapsesAndExpandsAgainWhileTheWindowKeepsItsSize)
{
    Show();
    const QSize window = Form1->size();
    const int listHeight = Form1->Panel->height();
    EXPECT_EQ(Form1->CollapsedHeight(), 56);
    EXPECT_EQ(Form1->ExpandedHeight(), 138);

    const int expected[] = { 56, 138, 56, 138 };
    for (int height : expected) {
        QTest::mouseClick(Form1->btExpand, Qt::LeftButton);
        QTRY_COMPARE(Form1->PanelT->height(), height);
        EXPECT_EQ(Form1->size(), window);
        QTRY_COMPARE(Form1->Panel->height(), listHeight + 138 - height);
    }
}

TEST_F(MainWindowTest, CaptionsShareOneFaceAndSizeAndFitTheirPlace)
{
    Show();
    const QLabel* captions[] = { Form1->Label1, Form1->Label2, Form1->Label6, Form1->Label3,
        Form1->Label5, Form1->Label7, Form1->Label4 };
    const QFontInfo first(captions[0]->font());
    for (const QLabel* label : captions) {
        SCOPED_TRACE(label->text().toStdString());
        const QFontInfo info(label->font());
        EXPECT_EQ(info.family(), first.family());
        EXPECT_EQ(info.pointSizeF(), first.pointSizeF());
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width());
    }
}

TEST_F(MainWindowTest, TheCollapsedPanelShowsOnlyTheFirstRow)
{
    Show();
    QTest::mouseClick(Form1->btExpand, Qt::LeftButton);
    QTRY_COMPARE(Form1->PanelT->height(), 56);
    // Below the first row's fields the folded panel is its bare background: no caption of the
    // second row peeks out.
    const QImage shot = Form1->PanelT->grab().toImage();
    const int below = Form1->edWidth->geometry().bottom() + 1;
    const QRgb background = shot.pixel(shot.width() - 2, below);
    int stray = 0;
    for (int y = below; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            stray += shot.pixel(x, y) != background;
    EXPECT_EQ(stray, 0);
    EXPECT_FALSE(Form1->Label7->isVisible());
    EXPECT_TRUE(Form1->Label1->isVisible());
    EXPECT_TRUE(Form1->btExpand->isVisible());

    QTest::mouseClick(Form1->btExpand, Qt::LeftButton);
    QTRY_COMPARE(Form1->PanelT->height(), 138);
    for (QWidget* w : std::initializer_list<QWidget*> { Form1->Label7, Form1->edJpgQual,
             Form1->Label4, Form1->edProfil, Form1->btDel, Form1->edAutoRotate, Form1->Image2,
             Form1->lbHome, Form1->lbVersion })
        EXPECT_TRUE(w->isVisible()) << w->objectName().toStdString();
}

TEST_F(MainWindowTest, CopyPutsEveryEntryWithCrLfOnTheClipboardAndClearEmptiesTheList)
{
    Show();
    DragDropForm->DropFiles({ Make("c.jpg"), Make("A.png"), Make("b.gif") });
    ASSERT_EQ(DragDropForm->Files->count(), 3);
    const QStringList entries = DragDropForm->Entries();

    QTest::mouseClick(Form1->btCopy, Qt::LeftButton);
    const QString text = QGuiApplication::clipboard()->text();
    EXPECT_EQ(text, entries.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    EXPECT_TRUE(text.contains(QStringLiteral("A.png\r\n")));
    EXPECT_EQ(text.count(QStringLiteral("\r\n")), 3);

    QTest::mouseClick(Form1->btClear, Qt::LeftButton);
    EXPECT_EQ(DragDropForm->Files->count(), 0);
    QGuiApplication::clipboard()->setText(QStringLiteral("old"));
    QTest::mouseClick(Form1->btCopy, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString());
}

TEST_F(MainWindowTest, AnErrorInAHandlerBecomesOneBoxAndTheWindowStaysUsable)
{
    Show();
    framework::RunGuarded([] { throw std::runtime_error("Datei defekt"); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Datei defekt."));
    QTest::mouseClick(Form1->btExpand, Qt::LeftButton);
    QTRY_COMPARE(Form1->PanelT->height(), 56);
}

TEST(VisualStyle, AMissingStyleGivesTheErrorBoxAndRubyGraphiteIsFound)
{
    std::vector<TMsgRequest> boxes;
    const auto previous = framework::SetMsgResponder([&](const TMsgRequest& r) {
        boxes.push_back(r);
        return framework::mrOk;
    });
    QStyle* before = QApplication::style();
    ApplyVisualStyle(QStringLiteral("Nicht Vorhanden"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Stil 'Nicht Vorhanden' nicht gefunden."));
    EXPECT_EQ(boxes[0].kind, framework::TMsgKind::Error);
    EXPECT_EQ(boxes[0].caption, framework::ApplicationTitle());
    EXPECT_EQ(QApplication::style(), before) << "the look stays as it was";

    ApplyVisualStyle(QString::fromLatin1(platform::RubyGraphiteStyle));
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
    EXPECT_EQ(QApplication::palette().color(QPalette::Highlight), QColor(0xa8, 0x1c, 0x3a));
    EXPECT_TRUE(platform::StyleNames().contains(QStringLiteral("Ruby Graphite")));
    framework::SetMsgResponder(previous);
}

TEST_F(MainWindowTest, SpinFieldsShowTheirArrows)
{
    ApplyVisualStyle(QString::fromLatin1(platform::RubyGraphiteStyle));
    Show();
    Form1->edJpgQual->SetValue(50);
    QApplication::processEvents();
    const QImage shot = Form1->edJpgQual->grab().toImage();
    const int dpr = int(shot.devicePixelRatio());
    // The buttons fill the field's right end; the arrows are the only light pixels there.
    int light = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = shot.width() - 16 * dpr; x < shot.width(); ++x)
            light += qGray(shot.pixel(x, y)) > 200;
    EXPECT_GE(light, 6 * dpr * dpr) << "two arrows, a few pixels each";
}

// Draws the main window with a filled list. With PARVULA_GRAB set to a file name it writes the
// picture there, which is how docs/main-window.png is made.
TEST_F(MainWindowTest, PictureOfTheWindowWithAFilledList)
{
    ApplyVisualStyle(QString::fromLatin1(platform::RubyGraphiteStyle));
    Show();
    const QString folder = QStringLiteral("/home/anna/Pictures/Holiday 2026/");
    QStringList entries;
    for (const char* name :
        { "beach.jpg", "Boat trip.png", "castle.jpeg", "dinner.JPG", "harbour at night.png",
            "lighthouse.gif", "market.bmp", "old town.jpg", "sunset.jpg", "train.ico" })
        entries.append(folder + QString::fromLatin1(name));
    DragDropForm->Files->addItems(entries);
    DragDropForm->Files->item(3)->setSelected(true);
    DragDropForm->Files->item(4)->setSelected(true);
    Form1->edWidth->SetValue(160);
    Form1->edHeight->SetValue(120);
    Form1->edFilter->setCurrentIndex(6);
    Form1->edFormat->setCurrentIndex(2);
    Form1->edProfil->setEditText(QStringLiteral("Small"));
    DragDropForm->Files->setFocus();
    QApplication::processEvents();

    const QImage picture = Form1->grab().toImage();
    ASSERT_EQ(picture.size() / picture.devicePixelRatio(), QSize(496, 442));
    // Something was drawn: the window is not one flat colour.
    const QRgb corner = picture.pixel(0, 0);
    bool varied = false;
    for (int y = 0; y < picture.height() && !varied; y += 7) {
        for (int x = 0; x < picture.width() && !varied; x += 7)
            varied = picture.pixel(x, y) != corner;
    }
    EXPECT_TRUE(varied);

    const QString target = qEnvironmentVariable("PARVULA_GRAB");
    if (!target.isEmpty()) {
        EXPECT_TRUE(picture.save(target, "PNG")) << target.toStdString();
    }
}

TEST_F(MainWindowTest, ClosingSavesTheSettingsAndTheNextStartLoadsThem)
{
    Show();
    Form1->edWidth->SetValue(160);
    Form1->edNamex->setText(QString());
    Form1->edFilter->setCurrentIndex(6);
    Form1->edUseMono->setChecked(true);
    Form1->edMono->setText(QStringLiteral("#336699"));
    Form1->close();
    EXPECT_TRUE(boxes.empty());
    const QString df = QStringLiteral("df");
    EXPECT_EQ(
        framework::ReadSetting(df, QStringLiteral("Width"), QString()), QStringLiteral("160"));
    // An emptied prefix field is stored as its default.
    EXPECT_EQ(
        framework::ReadSetting(df, QStringLiteral("Namex"), QString()), QStringLiteral("tn_"));
    EXPECT_EQ(framework::ReadSetting(df, QStringLiteral("Filter"), QString()),
        QStringLiteral("Lanczos3"));
    EXPECT_EQ(
        framework::ReadSetting(df, QStringLiteral("UseMono"), QString()), QStringLiteral("1"));
    EXPECT_EQ(framework::ReadSetting(QString(), QStringLiteral("Form1.left"), QString()),
        QString::number(Form1->x()));

    DestroyWindows();
    CreateWindows();
    webinfo::WebInfo->SetInfoServiceUrl(QStringLiteral("http://127.0.0.1:9/gw/"));
    Show();
    EXPECT_EQ(Form1->edWidth->Value(), 160);
    EXPECT_EQ(Form1->edFilter->currentText(), QStringLiteral("Lanczos3"));
    EXPECT_TRUE(Form1->edUseMono->isChecked());
    EXPECT_EQ(Form1->edMono->text(), QStringLiteral("#336699"));
    EXPECT_EQ(Form1->PanelT->height(), 138) << "the panel is not remembered collapsed";
}

TEST_F(MainWindowTest, UprightAndShrinkOnlySurviveARestartAndLiveInProfiles)
{
    Show();
    Form1->edAutoRotate->setChecked(false);
    Form1->edShrinkOnly->setChecked(true);
    Form1->edProfil->setEditText(QStringLiteral("Keep"));
    answer = framework::mrYes;
    QTest::mouseClick(Form1->btSave, Qt::LeftButton);
    Form1->close();
    for (const QString& section : { QStringLiteral("df"), QStringLiteral("Profil_Keep") }) {
        SCOPED_TRACE(section.toStdString());
        EXPECT_EQ(framework::ReadSetting(section, QStringLiteral("AutoRotate"), QString()), "0");
        EXPECT_EQ(framework::ReadSetting(section, QStringLiteral("ShrinkOnly"), QString()), "1");
    }

    DestroyWindows();
    CreateWindows();
    webinfo::WebInfo->SetInfoServiceUrl(QStringLiteral("http://127.0.0.1:9/gw/"));
    Show();
    EXPECT_FALSE(Form1->edAutoRotate->isChecked());
    EXPECT_TRUE(Form1->edShrinkOnly->isChecked());
    const TBatchSettings read = Form1->ReadBatchSettings();
    EXPECT_FALSE(read.upright);
    EXPECT_TRUE(read.shrinkOnly);

    // Back to the defaults through the window, then the stored profile brings both back.
    Form1->edAutoRotate->setChecked(true);
    Form1->edShrinkOnly->setChecked(false);
    Form1->edProfil->setEditText(QStringLiteral("Keep"));
    QTest::mouseClick(Form1->btOpen, Qt::LeftButton);
    EXPECT_FALSE(Form1->edAutoRotate->isChecked());
    EXPECT_TRUE(Form1->edShrinkOnly->isChecked());
}

TEST_F(MainWindowTest, ColoursMetadataAndDatesSurviveARestartAndLiveInProfiles)
{
    // Written before the three settings existed: they load their defaults.
    WriteSettings("[df]\r\nWidth=5\r\n[Profil_Old]\r\nWidth=20\r\n");
    Show();
    Form1->edColoursAsStored->setChecked(true);
    Form1->edMetadata->setCurrentIndex(2);
    Form1->edKeepDates->setChecked(true);
    TBatchSettings read = Form1->ReadBatchSettings();
    EXPECT_TRUE(read.coloursAsStored);
    EXPECT_EQ(read.metadata, imaging::TMetadataCopy::NoLocation);
    EXPECT_TRUE(read.keepDates);
    Form1->edProfil->setEditText(QStringLiteral("Share"));
    answer = framework::mrYes;
    QTest::mouseClick(Form1->btSave, Qt::LeftButton);
    Form1->close();
    for (const QString& section : { QStringLiteral("df"), QStringLiteral("Profil_Share") }) {
        SCOPED_TRACE(section.toStdString());
        EXPECT_EQ(
            framework::ReadSetting(section, QStringLiteral("ColoursAsStored"), QString()), "1");
        EXPECT_EQ(framework::ReadSetting(section, QStringLiteral("Metadata"), QString()),
            "all but location");
        EXPECT_EQ(framework::ReadSetting(section, QStringLiteral("KeepDates"), QString()), "1");
    }

    DestroyWindows();
    CreateWindows();
    webinfo::WebInfo->SetInfoServiceUrl(QStringLiteral("http://127.0.0.1:9/gw/"));
    Show();
    EXPECT_TRUE(Form1->edColoursAsStored->isChecked());
    EXPECT_EQ(Form1->edMetadata->currentText(), QStringLiteral("all but location"));
    EXPECT_TRUE(Form1->edKeepDates->isChecked());
    EXPECT_TRUE(Form1->btMore->font().bold());

    Form1->edProfil->setEditText(QStringLiteral("Old"));
    QTest::mouseClick(Form1->btOpen, Qt::LeftButton);
    EXPECT_FALSE(Form1->edColoursAsStored->isChecked());
    EXPECT_EQ(Form1->edMetadata->currentText(), QStringLiteral("none"));
    EXPECT_FALSE(Form1->edKeepDates->isChecked());
    read = Form1->ReadBatchSettings();
    EXPECT_EQ(read.metadata, imaging::TMetadataCopy::None);
    EXPECT_FALSE(read.keepDates);

    Form1->edProfil->setEditText(QStringLiteral("Share"));
    QTest::mouseClick(Form1->btOpen, Qt::LeftButton);
    EXPECT_EQ(Form1->ReadBatchSettings().metadata, imaging::TMetadataCopy::NoLocation);
}

TEST_F(MainWindowTest, SectionsWithoutTheNewKeysLoadUprightOnAndShrinkOnlyOff)
{
    // Written before the two settings existed: neither key is there.
    WriteSettings("[df]\r\nWidth=5\r\n[Profil_Old]\r\nWidth=20\r\n");
    Show();
    EXPECT_EQ(Form1->edWidth->Value(), 5);
    EXPECT_TRUE(Form1->edAutoRotate->isChecked());
    EXPECT_FALSE(Form1->edShrinkOnly->isChecked());

    Form1->edAutoRotate->setChecked(false);
    Form1->edShrinkOnly->setChecked(true);
    Form1->edProfil->setEditText(QStringLiteral("Old"));
    QTest::mouseClick(Form1->btOpen, Qt::LeftButton);
    EXPECT_EQ(Form1->edWidth->Value(), 20);
    EXPECT_TRUE(Form1->edAutoRotate->isChecked());
    EXPECT_FALSE(Form1->edShrinkOnly->isChecked());
}

TEST_F(MainWindowTest, ProfilesListOnlyProfilSectionsSortedAndKeepTheTypedName)
{
    WriteSettings("[parvula]\r\nForm1.top=0\r\n[df]\r\nWidth=5\r\n[Profil_B]\r\nWidth=20\r\n"
                  "[Profil_a]\r\nWidth=10\r\n[profil_c]\r\nWidth=30\r\n [Profil_D]\r\n");
    Show();
    EXPECT_EQ(Profiles(), (QStringList { "a", "B" }));

    Form1->edProfil->setEditText(QStringLiteral("B"));
    Form1->edWidth->SetValue(99);
    QTest::mouseClick(Form1->btOpen, Qt::LeftButton);
    EXPECT_EQ(Form1->edWidth->Value(), 20);
    EXPECT_EQ(Form1->edNamex->text(), QStringLiteral("tn_")) << "missing keys load defaults";
    EXPECT_EQ(Form1->edProfil->currentText(), QStringLiteral("B"));
    EXPECT_TRUE(boxes.empty()) << "loading asks nothing";

    // A profile without a section resets the eight settings to their defaults.
    Form1->edProfil->setEditText(QStringLiteral("Nowhere"));
    QTest::mouseClick(Form1->btOpen, Qt::LeftButton);
    EXPECT_EQ(Form1->edWidth->Value(), 0);
    EXPECT_EQ(Form1->edJpgQual->Value(), 90);
}

TEST_F(MainWindowTest, SavingAProfileAsksFirstAndStoresTheNonEmptyValues)
{
    Show();
    Form1->edWidth->SetValue(120);
    Form1->edHeight->SetValue(80);
    Form1->edFormat->setCurrentIndex(2);
    Form1->edProfil->setEditText(QStringLiteral("Small"));

    answer = framework::mrNo;
    QTest::mouseClick(Form1->btSave, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Save as Small"));
    EXPECT_EQ(boxes[0].kind, framework::TMsgKind::Confirmation);
    EXPECT_FALSE(ReadSettings().contains("Profil_Small")) << "No writes nothing";

    answer = framework::mrYes;
    QTest::mouseClick(Form1->btSave, Qt::LeftButton);
    const QString section = QStringLiteral("Profil_Small");
    EXPECT_EQ(framework::ReadSetting(section, QStringLiteral("Width"), QString()), "120");
    EXPECT_EQ(framework::ReadSetting(section, QStringLiteral("Format"), QString()), "jpg");
    EXPECT_EQ(framework::ReadSetting(section, QStringLiteral("JpgQual"), QString()), "90");
    EXPECT_EQ(framework::ReadSetting(section, QStringLiteral("Namex"), QString()), "tn_");
    const QByteArray text = ReadSettings();
    EXPECT_FALSE(text.contains("Filter=")) << "an unselected filter is not written";
    EXPECT_FALSE(text.contains("\nMono=")) << "an empty colour code is not written";
    EXPECT_EQ(Profiles(), QStringList { "Small" });
    EXPECT_EQ(Form1->edProfil->currentText(), QStringLiteral("Small"));

    // With an empty name the three buttons do nothing at all.
    boxes.clear();
    Form1->edProfil->setEditText(QString());
    for (QToolButton* b : { Form1->btOpen, Form1->btSave, Form1->btDel })
        QTest::mouseClick(b, Qt::LeftButton);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, DeletingAProfileRemovesItsWholeSectionAfterAQuestion)
{
    WriteSettings("[df]\r\nWidth=5\r\n[Profil_B]\r\nWidth=20\r\n\r\n[Profil_A]\r\n"
                  "Width=10\r\n[profil_c]\r\nWidth=30\r\n");
    Show();
    Form1->edProfil->setEditText(QStringLiteral("B"));
    answer = framework::mrNo;
    QTest::mouseClick(Form1->btDel, Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Delete profil B"));
    EXPECT_TRUE(ReadSettings().contains("[Profil_B]"));

    answer = framework::mrYes;
    QTest::mouseClick(Form1->btDel, Qt::LeftButton);
    EXPECT_EQ(ReadSettings(),
        QByteArray("[df]\r\nWidth=5\r\n[Profil_A]\r\nWidth=10\r\n[profil_c]\r\nWidth=30\r\n"));
    EXPECT_EQ(Profiles(), QStringList { "A" });
    EXPECT_EQ(Form1->edProfil->currentText(), QStringLiteral("B"));

    // The hand-written lower-case header is found by deletion though it is never listed; as the
    // last section it goes to the end of the file.
    Form1->edProfil->setEditText(QStringLiteral("c"));
    QTest::mouseClick(Form1->btDel, Qt::LeftButton);
    EXPECT_EQ(ReadSettings(), QByteArray("[df]\r\nWidth=5\r\n[Profil_A]\r\nWidth=10\r\n"));
}
