// Window position memory: a top-level window's position restored from and stored to the settings.
#include "framework/ui/spz1_winpos.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "framework/spz1_ini.h"
#include "framework/spz1_messages.h"

namespace parvula::framework {

namespace {

    // Below or at this value a stored edge is ignored: it stands for "no value", and minimised
    // windows report coordinates far below it.
    constexpr int kNoPosition = -10;
    // A window must keep at least this much of itself on the primary screen to be restored.
    constexpr int kScreenMargin = 100;

    // Unlike every other setting, an edge is read strictly: a hand-edited "12px" is an error,
    // not 12.
    int ReadEdge(const QString& key)
    {
        const QString text = ReadSetting(QString(), key, QString::number(kNoPosition));
        bool ok = false;
        const int value = text.toInt(&ok, 10);
        if (!ok) {
            throw Error(errors::TCode::NotAnInteger, {}, { text, key });
        }
        return value;
    }

    QSize PrimaryScreenSize()
    {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen ? screen->size() : QSize();
    }

} // namespace

void PlaceWindow(QWidget* window, bool save, QSize primaryScreen)
{
    if (!window)
        return;
    const QString name = window->objectName();
    if (save) {
        if (!window->isWindow() || name.isEmpty())
            return;
        WriteSetting(QString(), name + QStringLiteral(".top"), window->y());
        WriteSetting(QString(), name + QStringLiteral(".left"), window->x());
        return;
    }

    // Moving marks the window as placed, so it shows at its own coordinates instead of where the
    // window manager would put it.
    window->move(window->pos());
    if (!window->isWindow() || name.isEmpty())
        return;
    const int top = ReadEdge(name + QStringLiteral(".top"));
    const int left = ReadEdge(name + QStringLiteral(".left"));
    const QSize screen = primaryScreen.isValid() ? primaryScreen : PrimaryScreenSize();
    QPoint at = window->pos();
    // Each edge on its own: a window left on a second monitor keeps a valid top.
    if (top > kNoPosition && top < screen.height() - kScreenMargin)
        at.setY(top);
    if (left > kNoPosition && left < screen.width() - kScreenMargin)
        at.setX(left);
    window->move(at);
}

} // namespace parvula::framework
