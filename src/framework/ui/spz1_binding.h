// Control binding: loads one control from its settings key or saves it there, by control kind.
#pragma once

#include <QString>

class QWidget;

namespace parvula::framework {

// Which way BindControl goes.
enum class TBindMode { Load, Save };
inline constexpr TBindMode bindLoad = TBindMode::Load;
inline constexpr TBindMode bindSave = TBindMode::Save;

// The key a control is stored under: its name without a leading "ed"; a name starting with "e"
// or "l" otherwise loses that letter; other names are used as they are.
QString ControlKey(const QString& controlName);

// mode bindLoad: the control takes the stored text (def when none); mode bindSave: the control's
// text is stored, def standing in for an empty one. Handles text fields, check boxes, TSpinEdit
// and drop-down lists with fixed entries; other controls are left alone. Never fails: whatever
// goes wrong ends the operation silently.
void BindControl(QWidget* control, TBindMode mode, const QString& def, const QString& fileName,
    const QString& section);

} // namespace parvula::framework
