// TSpinEdit: a whole-number field with up and down buttons and an optional range.
#include "framework/ui/spz1_ui_spinedit.h"

#include <climits>

#include <QFocusEvent>
#include <QLineEdit>

namespace parvula::framework {

namespace {

    // Accepts an optional sign and decimal digits with blanks around them; the result must fit
    // into 32 bits, so "99999999999" is not a whole number.
    bool ParseWhole(const QString& text, int& result)
    {
        bool ok = false;
        const int value = text.trimmed().toInt(&ok, 10);
        if (ok)
            result = value;
        return ok;
    }

} // namespace

TSpinEdit::TSpinEdit(QWidget* parent)
    : QAbstractSpinBox(parent)
{
    setAccelerated(true);
    lineEdit()->setText(QStringLiteral("0"));
    connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEdit::Changed);
    connect(this, &QAbstractSpinBox::editingFinished, this, &TSpinEdit::CheckRange);
}

int TSpinEdit::Clamp(qint64 value) const
{
    if (HasRange()) {
        if (value < m_minValue)
            return m_minValue;
        if (value > m_maxValue)
            return m_maxValue;
    }
    if (value < INT_MIN)
        return INT_MIN;
    if (value > INT_MAX)
        return INT_MAX;
    return static_cast<int>(value);
}

int TSpinEdit::Value() const
{
    int value = 0;
    if (!ParseWhole(Text(), value))
        return m_minValue;
    // Read as it stands: the range is the field's business when it is left, and a button that
    // takes no focus reads the field before it is left.
    return value;
}

void TSpinEdit::SetValue(int value) { SetText(QString::number(Clamp(value))); }

void TSpinEdit::SetRange(int minValue, int maxValue)
{
    m_minValue = minValue;
    m_maxValue = maxValue;
    CheckRange();
}

QString TSpinEdit::Text() const { return lineEdit()->text(); }

void TSpinEdit::SetText(const QString& text)
{
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
}

void TSpinEdit::stepBy(int steps)
{
    // 64-bit sum: stepping up from INT_MAX must not wrap round to INT_MIN.
    SetText(QString::number(Clamp(static_cast<qint64>(Value()) + steps)));
    selectAll();
}

QValidator::State TSpinEdit::validate(QString& input, int& pos) const
{
    Q_UNUSED(pos);
    const QString t = input.trimmed();
    if (t.isEmpty() || t == QLatin1String("-") || t == QLatin1String("+"))
        return QValidator::Intermediate;
    int value = 0;
    return ParseWhole(t, value) ? QValidator::Acceptable : QValidator::Invalid;
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const
{
    if (isReadOnly())
        return StepNone;
    if (!HasRange())
        return StepUpEnabled | StepDownEnabled;
    const int value = Value();
    StepEnabled result = StepNone;
    if (value < m_maxValue)
        result |= StepUpEnabled;
    if (value > m_minValue)
        result |= StepDownEnabled;
    return result;
}

void TSpinEdit::focusOutEvent(QFocusEvent* event)
{
    QAbstractSpinBox::focusOutEvent(event);
    CheckRange();
}

void TSpinEdit::CheckRange()
{
    int value = 0;
    // A text that is no number stays as typed; it reads as the minimum.
    if (HasRange() && ParseWhole(Text(), value) && Clamp(value) != value)
        SetText(QString::number(Clamp(value)));
}

} // namespace parvula::framework
