// Window position memory: a top-level window's position restored from and stored to the settings.
#pragma once

#include <QSize>

class QWidget;

namespace parvula::framework {

// save false: fixes the window's placement to its own coordinates and applies the stored top and
// left edges that lie in (-10, screen side - 100); save true: stores both edges (only changed
// values are written). Keys "<objectName>.top" and ".left" in the default section. primaryScreen
// stands for the primary screen's size; an invalid size asks the real screen. Raises
// ESettingsError when a stored edge is not a whole number or the file cannot be written.
void PlaceWindow(QWidget* window, bool save, QSize primaryScreen = QSize());

} // namespace parvula::framework
