// The colour picker dialog, driven while its modal loop runs on the offscreen platform.
#include "colour/ui/ColorForm1.h"

#include <cmath>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "colour/ui/ColorForm1_form_panel.h"

using namespace parvula::colour;

namespace {

// Runs `whileOpen` inside the dialog's modal loop; it must close the dialog. A guard closes it
// after a long wait so that a failing check cannot hang the test run.
void WhileOpen(TColorForm& form, std::function<void()> whileOpen)
{
    QTimer::singleShot(0, &form, [&form, whileOpen] {
        EXPECT_TRUE(form.isVisible());
        whileOpen();
    });
    QTimer::singleShot(30000, &form, [&form] {
        if (form.isVisible()) {
            ADD_FAILURE() << "dialog left open";
            form.reject();
        }
    });
}

void TypeInto(QLineEdit* ed, const QString& text)
{
    ed->selectAll();
    QTest::keyClick(ed, Qt::Key_Delete);
    QTest::keyClicks(ed, text);
}

int RowOf(const TColorForm& form, const QString& name)
{
    const auto items = form.ColorListBox1->findItems(name, Qt::MatchExactly);
    return items.isEmpty() ? -1 : form.ColorListBox1->row(items.front());
}

} // namespace

TEST(ColorForm, OpensOnTheCodeAndOkWritesTheNormalisedCode)
{
    struct TCase {
        const char* field;
        TAlphaColor shown;
        const char* result;
    };
    const TCase cases[] = {
        { "#ff8000", 0xFFFF8000u, "#FF8000" },
        { "#FF8000AA", 0xFFFF8000u, "#FF8000" },
        { "$FF8000", 0xFFFF8000u, "#FF8000" }, // read with alpha 00; the panel is always opaque
        { "FF8000", 0xFF000000u, "#000000" },
        { "#F80", 0xFF000000u, "#000000" },
        { "#12345", 0xFF000000u, "#000000" },
        { "", 0xFF000000u, "#000000" },
        { "#12345G", 0xFFF12345u, "#F12345" },
    };
    TColorForm form;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        form.setVclColor(0x00336699);
        TAlphaColor shown = 0;
        QString code;
        WhileOpen(form, [&] {
            shown = form.PanelColor();
            code = form.edColor->text();
            form.btOk->click();
        });
        EXPECT_EQ(form.execHTMLColor(QString::fromLatin1(c.field)), QString::fromLatin1(c.result));
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(code, QString::fromLatin1(c.result));
        EXPECT_TRUE(form.Ok);
        EXPECT_EQ(form.AColor, qint32(c.shown));
        EXPECT_EQ(form.VclColor, AlphaColorToTColor(c.shown));
        EXPECT_EQ(form.HTMLColor, QString::fromLatin1(c.result));
        EXPECT_FALSE(form.isVisible());
    }
}

TEST(ColorForm, WhiteMeansNoPresetAndThePanelKeepsItsColour)
{
    TColorForm form;
    TAlphaColor shown = 0;
    WhileOpen(form, [&] {
        shown = form.PanelColor();
        form.btOk->click();
    });
    // First opening: the panel's initial white.
    EXPECT_EQ(form.execHTMLColor("#FFFFFF"), "#FFFFFF");
    EXPECT_EQ(shown, 0xFFFFFFFFu);

    form.setVclColor(0x000000FF); // red, as TColor
    WhileOpen(form, [&] {
        shown = form.PanelColor();
        form.btOk->click();
    });
    EXPECT_EQ(form.execHTMLColor("#FFFFFF"), "#FF0000");
    EXPECT_EQ(shown, 0xFFFF0000u);
}

TEST(ColorForm, EveryWayOutButOkReturnsTheArgumentUnchanged)
{
    TColorForm form;
    WhileOpen(form, [&] { form.btOk->click(); });
    ASSERT_EQ(form.execHTMLColor("#102030"), "#102030");

    const std::function<void()> ways[] = {
        [&] { form.btCancel->click(); },
        [&] { QTest::keyClick(&form, Qt::Key_Escape); },
        [&] { form.close(); },
    };
    for (const auto& way : ways) {
        WhileOpen(form, [&] {
            TypeInto(form.edColor, "#abcdef");
            way();
        });
        EXPECT_EQ(form.execHTMLColor(" #a1b2c!"), " #a1b2c!");
        EXPECT_FALSE(form.Ok);
        // The last confirmed choice stays, and the panel keeps what it was set to.
        EXPECT_EQ(form.HTMLColor, "#102030");
        EXPECT_EQ(form.AColor, qint32(0xFF102030u));
        EXPECT_EQ(form.PanelColor(), 0xFFABCDEFu);
    }

    WhileOpen(form, [&] { form.btCancel->click(); });
    EXPECT_EQ(form.execColor(0x12345678), 0x12345678);
    WhileOpen(form, [&] { form.btCancel->click(); });
    EXPECT_EQ(form.execVCLColor(0x00563412), 0x00563412);
    WhileOpen(form, [&] { form.btCancel->click(); });
    EXPECT_FALSE(form.exec(0xFF00FF00u));
}

TEST(ColorForm, ExecVariantsReturnTheirOwnColourTypes)
{
    TColorForm form;
    WhileOpen(form, [&] { form.btOk->click(); });
    EXPECT_EQ(form.execColor(0x80123456), qint32(0xFF123456u));
    WhileOpen(form, [&] { form.btOk->click(); });
    EXPECT_EQ(form.execVCLColor(0x00563412), 0x00563412);
    EXPECT_EQ(form.AColor, qint32(0xFF123456u));
    WhileOpen(form, [&] { form.btOk->click(); });
    EXPECT_TRUE(form.exec(0x00FF8000u));
    EXPECT_EQ(form.HTMLColor, "#FF8000");
    // Enter in the code field presses the default button.
    WhileOpen(form, [&] {
        QApplication::setActiveWindow(&form);
        form.edColor->setFocus();
        QTest::keyClick(form.edColor, Qt::Key_Return);
    });
    EXPECT_TRUE(form.exec(0xFF010203u));
    EXPECT_EQ(form.VclColor, 0x00030201);
}

TEST(ColorForm, TypingActsOnlyOnSevenCharacters)
{
    TColorForm form;
    form.setVclColor(0x00808080);
    QString result;
    WhileOpen(form, [&] {
        TypeInto(form.edColor, "#00ff0");
        EXPECT_EQ(form.PanelColor(), 0xFF808080u);
        EXPECT_EQ(form.edColor->text(), "#00ff0");
        QTest::keyClicks(form.edColor, "0");
        EXPECT_EQ(form.PanelColor(), 0xFF00FF00u);
        EXPECT_EQ(form.edColor->text(), "#00FF00");
        // An eighth character, then a partial text: the panel keeps green.
        QTest::keyClicks(form.edColor, "1");
        EXPECT_EQ(form.PanelColor(), 0xFF00FF00u);
        TypeInto(form.edColor, "#12");
        form.btOk->click();
    });
    result = form.execHTMLColor("#808080");
    EXPECT_EQ(result, "#00FF00");
}

TEST(ColorForm, ListChoosesColoursAndLeavingItAllowsTheSameChoiceAgain)
{
    TColorForm form;
    ASSERT_EQ(form.ColorListBox1->count(), 148);
    const int null = RowOf(form, "Null");
    ASSERT_EQ(null, 147);

    form.ColorListBox1->setCurrentRow(null);
    EXPECT_EQ(form.PanelColor(), 0xFF000000u);
    EXPECT_EQ(form.edColor->text(), "#000000");

    form.setVclColor(0x000000FF);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(form.ColorListBox1, &leave);
    EXPECT_EQ(form.ColorListBox1->currentRow(), -1);
    EXPECT_EQ(form.PanelColor(), 0xFFFF0000u);

    form.ColorListBox1->setCurrentRow(null);
    EXPECT_EQ(form.PanelColor(), 0xFF000000u);

    form.ColorListBox1->setCurrentRow(RowOf(form, "Lightgoldenrodyellow"));
    EXPECT_EQ(form.edColor->text(), "#FAFAD2");
}

TEST(ColorForm, NamedColoursAgreeWithQtsKeywordTable)
{
    for (const TNamedColor& named : NamedColors()) {
        if (QByteArray(named.name) == "Null")
            continue;
        const QColor qt(QString::fromLatin1(named.name).toLower());
        ASSERT_TRUE(qt.isValid()) << named.name;
        EXPECT_EQ(qt.rgba(), named.value) << named.name;
    }
}

TEST(ColorPanel, ColoursSetReadBackUnchanged)
{
    TColorPanel panel;
    panel.resize(187, 163);
    QSignalSpy changed(&panel, &TColorPanel::Changed);
    std::vector<quint32> levels;
    for (quint32 v = 0; v < 256; v += 3)
        levels.push_back(v);
    levels.push_back(1);
    levels.push_back(254);
    levels.push_back(255);
    int bad = 0;
    for (quint32 r : levels)
        for (quint32 g : levels)
            for (quint32 b : levels) {
                const TAlphaColor c = (r << 16) | (g << 8) | b;
                panel.SetColor(c);
                if (panel.Color() != (0xFF000000u | c) && ++bad < 5)
                    ADD_FAILURE() << std::hex << c << " read back as " << panel.Color();
            }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(changed.count(), 0);

    TColorForm form;
    for (quint32 v = 0; v < 0x01000000u; v += 0x00050B07u) {
        form.setVclColor(qint32(v));
        ASSERT_EQ(form.PanelColor(), TColorToAlphaColor(qint32(v)));
        ASSERT_EQ(form.edColor->text(), AlphaColorToHTML(TColorToAlphaColor(qint32(v))));
    }
}

TEST(ColorPanel, UserPicksReportTheColourUnderTheMouse)
{
    TColorForm form;
    form.show();
    TColorPanel* panel = form.ColorPanel1;
    const QRect sq = panel->SquareRect();
    const QRect hue = panel->HueRect();
    ASSERT_TRUE(sq.isValid() && hue.isValid());
    ASSERT_FALSE(sq.intersects(hue));
    QSignalSpy changed(panel, &TColorPanel::Changed);

    form.setVclColor(0x00123456);
    QTest::mouseClick(panel, Qt::LeftButton, {}, hue.topLeft()); // hue 0: red
    QTest::mouseClick(
        panel, Qt::LeftButton, {}, QPoint(sq.right(), sq.top() + (sq.height() - 1) / 2));
    EXPECT_EQ(panel->Color(), 0xFFFF0000u);
    EXPECT_EQ(form.edColor->text(), "#FF0000");

    QTest::mouseClick(panel, Qt::LeftButton, {}, sq.topLeft());
    EXPECT_EQ(panel->Color(), 0xFFFFFFFFu);
    QTest::mouseClick(panel, Qt::LeftButton, {}, sq.bottomRight());
    EXPECT_EQ(panel->Color(), 0xFF000000u);
    EXPECT_EQ(form.edColor->text(), "#000000");

    // A third of the way down the strip is green; dragging there while the square sits at full
    // saturation and half lightness recolours the pick.
    QTest::mousePress(
        panel, Qt::LeftButton, {}, QPoint(sq.right(), sq.top() + (sq.height() - 1) / 2));
    QTest::mouseRelease(
        panel, Qt::LeftButton, {}, QPoint(sq.right(), sq.top() + (sq.height() - 1) / 2));
    const int third = hue.top() + (hue.height() - 1) / 3;
    QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(hue.center().x(), hue.top()));
    QMouseEvent move(QEvent::MouseMove, QPointF(hue.center().x(), third),
        panel->mapToGlobal(QPointF(hue.center().x(), third)), Qt::NoButton, Qt::LeftButton,
        Qt::NoModifier);
    QCoreApplication::sendEvent(panel, &move);
    QTest::mouseRelease(panel, Qt::LeftButton, {}, QPoint(hue.center().x(), third));
    const QColor picked = QColor::fromRgb(QRgb(panel->Color()));
    EXPECT_GT(picked.green(), 240);
    EXPECT_LT(picked.red(), 16);
    EXPECT_EQ(picked.blue(), 0);
    EXPECT_EQ(form.edColor->text(), AlphaColorToHTML(panel->Color()));
    EXPECT_GE(changed.count(), 4);
}

TEST(ColorForm, LayoutCaptionsAndBackground)
{
    TColorForm form;
    EXPECT_EQ(form.windowTitle(), "Color");
    EXPECT_EQ(form.size(), QSize(442, 264));
    EXPECT_EQ(form.Label1->text(), "RGB (HTML)");
    EXPECT_TRUE(form.Label1->alignment() & Qt::AlignRight);
    EXPECT_EQ(form.btCancel->text(), "Abbruch");
    EXPECT_EQ(form.btOk->text(), "Ok");
    EXPECT_TRUE(form.btOk->isDefault());
    const std::pair<QWidget*, QRect> geometry[] = {
        { form.Label1, QRect(124, 12, 84, 21) },
        { form.edColor, QRect(232, 12, 159, 22) },
        { form.ColorListBox1, QRect(35, 48, 180, 161) },
        { form.ColorPanel1, QRect(226, 48, 187, 163) },
        { form.btCancel, QRect(36, 220, 180, 22) },
        { form.btOk, QRect(230, 220, 171, 22) },
    };
    for (const auto& [w, r] : geometry)
        EXPECT_EQ(w->geometry(), r) << w->objectName().toStdString();

    form.setVclColor(0x000080FF);
    form.ColorListBox1->setCurrentRow(RowOf(form, "Cornflowerblue"));
    const QImage shot = form.grab().toImage();
    // The dialog's own surface is the swatch: corners, the gaps between the controls and the
    // one inside the panel, between its square and its hue strip.
    const QRect square = form.ColorPanel1->SquareRect().translated(form.ColorPanel1->pos());
    const QPoint inPanelGap(square.right() + 3, square.center().y());
    for (const QPoint p : { QPoint(2, 2), QPoint(439, 261), QPoint(220, 40), inPanelGap })
        EXPECT_EQ(shot.pixel(p), QColor(0x64, 0x95, 0xED).rgb()) << p.x() << "," << p.y();

    const QString docs = qEnvironmentVariable("PARVULA_DOCS_DIR");
    if (!docs.isEmpty()) {
        EXPECT_TRUE(shot.save(QDir(docs).filePath("colour-picker.png")));
    }
}

namespace {

// Contrast ratio between two colours, by relative luminance, computed here on its own.
double Contrast(QColor a, QColor b)
{
    const auto luminance = [](QColor c) {
        const auto lin = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

// On a desktop the dialog is activated after it is shown; the list then takes the focus and
// its view makes the first row current by itself. None of that may change the colour.
TEST(ColorForm, ActivationAndFocusKeepThePresetColour)
{
    struct TCase {
        const char* field;
        const char* result;
    };
    const TCase cases[] = { { "#ff8000", "#FF8000" }, { "", "#000000" }, { "#102030", "#102030" } };
    TColorForm form;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        QString shown;
        bool listHadFocus = false;
        WhileOpen(form, [&] {
            EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
            form.ColorListBox1->setFocus(Qt::TabFocusReason);
            QTest::qWait(50);
            listHadFocus = form.ColorListBox1->hasFocus();
            shown = form.edColor->text();
            form.btOk->click();
        });
        EXPECT_EQ(form.execHTMLColor(QString::fromLatin1(c.field)), QString::fromLatin1(c.result));
        EXPECT_EQ(shown, QString::fromLatin1(c.result));
        EXPECT_TRUE(listHadFocus);
    }
}

TEST(ColorForm, UserChoicesInTheListChangeTheColour)
{
    TColorForm form;
    QString afterClick;
    QString afterKey;
    QString afterLeaveAndFocus;
    WhileOpen(form, [&] {
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
        QListWidget* list = form.ColorListBox1;
        // A click on the very row that the focus made current still chooses it.
        list->setFocus(Qt::TabFocusReason);
        const QRect first = list->visualItemRect(list->item(0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first.center());
        afterClick = form.edColor->text();
        QTest::keyClick(list, Qt::Key_Down);
        afterKey = form.edColor->text();
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(list, &leave);
        form.edColor->setFocus(Qt::TabFocusReason);
        list->setFocus(Qt::TabFocusReason);
        afterLeaveAndFocus = form.edColor->text();
        form.btOk->click();
    });
    EXPECT_EQ(form.execHTMLColor("#123456"), "#FAEBD7");
    EXPECT_EQ(afterClick, "#F0F8FF"); // Aliceblue
    EXPECT_EQ(afterKey, "#FAEBD7"); // Antiquewhite
    EXPECT_EQ(afterLeaveAndFocus, "#FAEBD7");
}

TEST(ColorForm, TheCaptionStaysReadableOnEveryColour)
{
    TColorForm form;
    std::vector<TAlphaColor> colours;
    for (const TNamedColor& named : NamedColors())
        colours.push_back(named.value | 0xFF000000u);
    for (quint32 v = 0; v < 256; v += 5) {
        colours.push_back(0xFF000000u | v * 0x010101u); // greys
        colours.push_back(0xFF000000u | v << 16 | 0xFF00u); // red into yellow
        colours.push_back(0xFF000000u | v | 0x8000u);
    }
    for (const TAlphaColor c : colours) {
        form.setVclColor(AlphaColorToTColor(c));
        const QColor text = form.Label1->palette().color(QPalette::WindowText);
        EXPECT_GE(Contrast(text, QColor::fromRgb(QRgb(c))), 4.5)
            << AlphaColorToHTML(c).toStdString();
    }
}
