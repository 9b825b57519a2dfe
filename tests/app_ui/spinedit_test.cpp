// TSpinEdit: range checks on setting and on leaving, lenient reading, stepping.
#include <climits>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFocusEvent>
#include <QTest>

#include "framework/ui/spz1_ui_spinedit.h"

using parvula::framework::TSpinEdit;

TEST(SpinEdit, ValuesAreBroughtIntoTheRangeUnlessTheLimitsAreEqual)
{
    const struct {
        int min, max, set, shown;
    } cases[] = {
        { 0, 0, -5, -5 },
        { 0, 0, 123456, 123456 },
        { 0, 0, INT_MIN, INT_MIN },
        { 10, 100, 250, 100 },
        { 10, 100, 5, 10 },
        { 10, 100, 90, 90 },
        { -3, -3, 7, 7 },
    };
    for (const auto& c : cases) {
        TSpinEdit spin;
        spin.SetRange(c.min, c.max);
        spin.SetValue(c.set);
        EXPECT_EQ(spin.Value(), c.shown) << c.min << ".." << c.max << " " << c.set;
        EXPECT_EQ(spin.Text(), QString::number(c.shown));
    }
}

TEST(SpinEdit, TextThatIsNoWholeNumberReadsAsTheMinimum)
{
    const struct {
        int min, max;
        const char* text;
        int value;
    } cases[] = {
        { 10, 100, "abc", 10 },
        { 10, 100, "", 10 },
        { 10, 100, "90abc", 10 },
        { 10, 100, " 42 ", 42 },
        { 0, 0, "abc", 0 },
        { 0, 0, "-17", -17 },
        { 0, 0, "99999999999", 0 }, // beyond 32 bits
        // Typed but not yet left: read as it stands, the range comes when the field is left.
        { 10, 100, "250", 250 },
        { 10, 100, "5", 5 },
        { 10, 100, "0", 0 },
    };
    for (const auto& c : cases) {
        TSpinEdit spin;
        spin.SetRange(c.min, c.max);
        spin.SetText(QString::fromUtf8(c.text));
        EXPECT_EQ(spin.Value(), c.value) << c.text;
        EXPECT_EQ(spin.Text(), QString::fromUtf8(c.text)) << "the text itself stays";
    }
}

TEST(SpinEdit, LeavingTheFieldBringsATypedValueIntoTheRange)
{
    TSpinEdit spin;
    spin.SetRange(10, 100);
    spin.SetText(QStringLiteral("250"));
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(&spin, &out);
    EXPECT_EQ(spin.Text(), QStringLiteral("100"));

    // A text that is no number is left as it is; it still reads as the minimum.
    spin.SetText(QStringLiteral("x"));
    QCoreApplication::sendEvent(&spin, &out);
    EXPECT_EQ(spin.Text(), QStringLiteral("x"));

    // Narrowing the range checks the shown value at once.
    spin.SetValue(90);
    spin.SetRange(10, 50);
    EXPECT_EQ(spin.Text(), QStringLiteral("50"));
}

TEST(SpinEdit, ArrowKeysStepByOneAndStopAtTheLimits)
{
    TSpinEdit spin;
    spin.SetValue(0);
    QTest::keyClick(&spin, Qt::Key_Up);
    EXPECT_EQ(spin.Value(), 1);
    QTest::keyClick(&spin, Qt::Key_Down);
    QTest::keyClick(&spin, Qt::Key_Down);
    EXPECT_EQ(spin.Value(), -1);

    spin.SetRange(10, 100);
    spin.SetValue(100);
    spin.stepBy(1);
    EXPECT_EQ(spin.Value(), 100);
    spin.SetValue(10);
    spin.stepBy(-1);
    EXPECT_EQ(spin.Value(), 10);

    TSpinEdit open;
    open.SetValue(INT_MAX);
    open.stepBy(1);
    EXPECT_EQ(open.Value(), INT_MAX) << "no wrap-around";

    // Letters cannot be typed into the field.
    TSpinEdit typed;
    typed.SetText(QString());
    QTest::keyClicks(&typed, QStringLiteral("4a2"));
    EXPECT_EQ(typed.Text(), QStringLiteral("42"));
}
