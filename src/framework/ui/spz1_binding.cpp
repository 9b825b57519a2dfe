// Control binding: loads one control from its settings key or saves it there, by control kind.
#include "framework/ui/spz1_binding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

#include "framework/spz1_ini.h"
#include "framework/spz1_text.h"
#include "framework/ui/spz1_ui_spinedit.h"

namespace parvula::framework {

namespace {

    void Load(QWidget* control, const QString& text)
    {
        if (auto* spin = qobject_cast<TSpinEdit*>(control)) {
            // The field brings the value into its own range.
            spin->SetValue(StrToIntPrefix(text));
        } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            edit->setText(text);
        } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
            check->setChecked(TextToBool(text));
        } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
            // MatchFixedString compares whole entries ignoring case; no equal entry selects none.
            combo->setCurrentIndex(combo->findText(text, Qt::MatchFixedString));
        }
    }

    // False for a control kind the binding does not know.
    bool Take(QWidget* control, QString& text)
    {
        if (auto* spin = qobject_cast<TSpinEdit*>(control)) {
            text = IntToText(spin->Value());
        } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            text = edit->text();
        } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
            text = BoolToText(check->isChecked());
        } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
            const int index = combo->currentIndex();
            text = index < 0 ? QString() : combo->itemText(index);
        } else {
            return false;
        }
        return true;
    }

} // namespace

QString ControlKey(const QString& controlName)
{
    if (controlName.startsWith(QStringLiteral("ed")))
        return controlName.mid(2);
    if (controlName.startsWith(u'e') || controlName.startsWith(u'l'))
        return controlName.mid(1);
    return controlName;
}

void BindControl(QWidget* control, TBindMode mode, const QString& def, const QString& fileName,
    const QString& section)
{
    try {
        if (!control)
            return;
        const QString key = ControlKey(control->objectName());
        if (mode == bindLoad) {
            Load(control, ReadSetting(section, key, def, fileName));
        } else if (mode == bindSave) {
            QString text;
            if (!Take(control, text))
                return;
            WriteSetting(section, key, text.isEmpty() ? def : text, fileName);
        }
    } catch (...) {
        // A setting that cannot be stored is lost without a message; the caller goes on.
    }
}

} // namespace parvula::framework
