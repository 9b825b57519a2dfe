// Desktop services for the windows: the visual style "Ruby Graphite", the primary screen's size
// and the clipboard as plain text.
#pragma once

#include <QFont>
#include <QSize>
#include <QString>
#include <QStringList>

class QStyle;

namespace parvula::platform {

inline constexpr char RubyGraphiteStyle[] = "Ruby Graphite";

// Our own styles first, then those Qt brings.
QStringList StyleNames();

// Applies the named style (with its palette and style sheet) to the whole application. False,
// with nothing changed, when no style of that name exists.
bool ApplyStyle(const QString& name);

// Tahoma at 8 points, the windows' font, or where the system lacks it a face of similar width.
QFont DesignFont();

// The primary screen's size in pixels; an empty size when there is no screen.
QSize PrimaryScreenSize();

QString ClipboardText();
void SetClipboardText(const QString& text);

} // namespace parvula::platform
