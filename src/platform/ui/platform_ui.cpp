// Desktop services for the windows: the visual style "Ruby Graphite", the primary screen's size
// and the clipboard as plain text.
#include "platform/ui/platform_ui.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>

namespace parvula::platform {

namespace {

    // Graphite greys with a ruby accent. Qt cannot register a style under a new name without a
    // plugin, so the name is ours: Fusion draws, and this palette and sheet colour it.
    QPalette RubyGraphitePalette()
    {
        const QColor window(0x3b, 0x3e, 0x43);
        const QColor base(0x2a, 0x2c, 0x30);
        const QColor text(0xec, 0xec, 0xec);
        const QColor muted(0x8a, 0x8d, 0x92);
        const QColor ruby(0xa8, 0x1c, 0x3a);
        const QColor rubyLight(0xe0, 0x4a, 0x6a);

        QPalette p;
        p.setColor(QPalette::Window, window);
        p.setColor(QPalette::WindowText, text);
        p.setColor(QPalette::Base, base);
        p.setColor(QPalette::AlternateBase, QColor(0x33, 0x36, 0x3b));
        p.setColor(QPalette::Text, text);
        p.setColor(QPalette::PlaceholderText, muted);
        p.setColor(QPalette::Button, QColor(0x4a, 0x4e, 0x54));
        p.setColor(QPalette::ButtonText, text);
        p.setColor(QPalette::BrightText, rubyLight);
        p.setColor(QPalette::Light, QColor(0x5c, 0x60, 0x66));
        p.setColor(QPalette::Midlight, QColor(0x50, 0x54, 0x5a));
        p.setColor(QPalette::Mid, QColor(0x33, 0x35, 0x39));
        p.setColor(QPalette::Dark, QColor(0x23, 0x25, 0x28));
        p.setColor(QPalette::Shadow, QColor(0x14, 0x15, 0x17));
        p.setColor(QPalette::Highlight, ruby);
        p.setColor(QPalette::HighlightedText, Qt::white);
        p.setColor(QPalette::Link, rubyLight);
        p.setColor(QPalette::LinkVisited, QColor(0xc0, 0x6a, 0x80));
        p.setColor(QPalette::ToolTipBase, base);
        p.setColor(QPalette::ToolTipText, text);
        for (const auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
            p.setColor(QPalette::Disabled, role, muted);
        p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x5a, 0x3a, 0x42));
        return p;
    }

    const char* RubyGraphiteSheet()
    {
        return "QToolTip { border: 1px solid #a81c3a; padding: 2px; }"
               "QListWidget, QLineEdit, QAbstractSpinBox, QComboBox { border: 1px solid #55595f; }"
               "QLineEdit:focus, QAbstractSpinBox:focus, QComboBox:focus,"
               " QListWidget:focus { border: 1px solid #c4304f; }"
               "QToolBar { border: none; spacing: 2px; }"
               // A border given to a spin box makes the sheet draw it, and the sheet has no
               // arrows of its own to draw.
               "QAbstractSpinBox::up-arrow { image: url(:/arrowUp.png); width: 7px; height: 4px; }"
               "QAbstractSpinBox::down-arrow { image: url(:/arrowDown.png); width: 7px;"
               " height: 4px; }"
               "QAbstractSpinBox::up-arrow:disabled, QAbstractSpinBox::up-arrow:off"
               " { image: url(:/arrowUpOff.png); }"
               "QAbstractSpinBox::down-arrow:disabled, QAbstractSpinBox::down-arrow:off"
               " { image: url(:/arrowDownOff.png); }";
    }

} // namespace

QStringList StyleNames()
{
    return QStringList { QString::fromLatin1(RubyGraphiteStyle) } + QStyleFactory::keys();
}

bool ApplyStyle(const QString& name)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return false;
    if (name == QLatin1String(RubyGraphiteStyle)) {
        QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
        if (!fusion)
            return false;
        QApplication::setStyle(fusion);
        QApplication::setPalette(RubyGraphitePalette());
        app->setStyleSheet(QString::fromLatin1(RubyGraphiteSheet()));
        return true;
    }
    QStyle* style = QStyleFactory::create(name);
    if (!style)
        return false;
    QApplication::setStyle(style);
    QApplication::setPalette(style->standardPalette());
    app->setStyleSheet(QString());
    return true;
}

QFont DesignFont()
{
    // The captions are placed for Tahoma's narrow letters; a wide face would make them overlap.
    QFont font;
    font.setFamilies(
        { QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
            QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans Condensed") });
    font.setPointSize(8);
    return font;
}

QSize PrimaryScreenSize()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize();
}

QString ClipboardText() { return QGuiApplication::clipboard()->text(); }

void SetClipboardText(const QString& text) { QGuiApplication::clipboard()->setText(text); }

} // namespace parvula::platform
