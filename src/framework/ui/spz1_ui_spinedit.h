// TSpinEdit: a whole-number field with up and down buttons and an optional range.
#pragma once

#include <QAbstractSpinBox>
#include <QString>

namespace parvula::framework {

// Unlike QSpinBox, the field may hold any text (a loaded setting such as "abc" stays visible),
// the range is checked only when the field is left, and equal limits mean "no limits".
class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT

public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    // The text as a whole number, as it stands (the range is applied when the field is left); a
    // text that is no whole number gives the minimum.
    int Value() const;
    // Shows the value brought into the range.
    void SetValue(int value);
    int MinValue() const { return m_minValue; }
    int MaxValue() const { return m_maxValue; }
    // Equal limits (0, 0 by default) switch the range off.
    void SetRange(int minValue, int maxValue);
    QString Text() const;
    void SetText(const QString& text);

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;

signals:
    void Changed();

protected:
    StepEnabled stepEnabled() const override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool HasRange() const { return m_minValue != m_maxValue; }
    int Clamp(qint64 value) const;
    // Brings a numeric text that lies outside the range back into it.
    void CheckRange();

    int m_minValue = 0;
    int m_maxValue = 0;
};

} // namespace parvula::framework
