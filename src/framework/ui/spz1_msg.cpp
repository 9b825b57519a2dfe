// Message dialogs: ShowMsg's codes, MsgDialog's hand-built QMessageBox, the error report guard.
#include "framework/ui/spz1_msg.h"

#include <algorithm>
#include <exception>
#include <utility>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include "framework/spz1_text.h"

namespace parvula::framework {

namespace {

    TMsgResponder& Responder()
    {
        static TMsgResponder responder;
        return responder;
    }

    QString CaptionOf(TMsgKind kind)
    {
        switch (kind) {
        case TMsgKind::Warning:
            return QStringLiteral("Warnung");
        case TMsgKind::Error:
            return QStringLiteral("Fehler");
        case TMsgKind::Information:
            return QStringLiteral("Informationen");
        case TMsgKind::Confirmation:
            return QStringLiteral("Bestätigen");
        case TMsgKind::Plain:
            break;
        }
        return ApplicationTitle();
    }

    // Tells a box closed through its window (the close box) from one answered by a button:
    // the former is neither Yes, No nor OK.
    class TMessageBox : public QMessageBox {
    public:
        bool ClosedWithoutAnswer() const { return m_closed; }

    protected:
        void closeEvent(QCloseEvent* event) override
        {
            QMessageBox::closeEvent(event);
            m_closed = event->isAccepted();
        }

        // The box sizes itself to its text when shown and leaves the caption room for a close
        // button only; a window manager's title bar also holds an icon and further buttons, in
        // a bold face, so a short text would cut "Informationen" down to "I… n".
        // It sizes itself again whenever its layout asks, so the width is checked each time.
        bool event(QEvent* event) override
        {
            const bool handled = QMessageBox::event(event);
            if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show)
                Widen();
            return handled;
        }

        void showEvent(QShowEvent* event) override
        {
            QMessageBox::showEvent(event);
            Widen();
            if (const QScreen* screen = QGuiApplication::primaryScreen()) {
                const QRect area = screen->availableGeometry();
                move(area.center() - QPoint(width() / 2, height() / 2));
            }
        }

    private:
        void Widen()
        {
            const int needed = MsgCaptionWidth(windowTitle(), font());
            if (width() < needed || minimumWidth() < needed)
                setFixedWidth(std::max(width(), needed));
        }

        bool m_closed = false;
    };

    QMessageBox::Icon IconOf(TMsgKind kind)
    {
        switch (kind) {
        case TMsgKind::Warning:
            return QMessageBox::Warning;
        case TMsgKind::Error:
            return QMessageBox::Critical;
        case TMsgKind::Information:
            return QMessageBox::Information;
        case TMsgKind::Confirmation:
            return QMessageBox::Question;
        case TMsgKind::Plain:
            break;
        }
        return QMessageBox::NoIcon;
    }

    int RealBox(const TMsgRequest& request)
    {
        TMessageBox box;
        box.setWindowTitle(request.caption);
        box.setIcon(IconOf(request.kind));
        // Plain text: messages carry file names, which must never be read as markup. The label
        // breaks lines at LF; a CR left in front of it would show as a stray glyph.
        box.setTextFormat(Qt::PlainText);
        QString shown = request.text;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        box.setText(shown);

        // Buttons in the order Yes, No, OK; their captions are German whatever the locale.
        QPushButton* yes = nullptr;
        QPushButton* no = nullptr;
        QPushButton* ok = nullptr;
        if (request.buttons & mbYes)
            yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
        if (request.buttons & mbNo)
            no = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
        if (request.buttons & mbOK)
            ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);

        QPushButton* def = request.defaultButton == mbOK ? ok
            : request.defaultButton == mbYes             ? yes
            : request.defaultButton == mbNo              ? no
                                                         : nullptr;
        if (def)
            box.setDefaultButton(def);
        // Escape answers No in a question and OK in an OK box.
        if (no)
            box.setEscapeButton(no);
        else if (ok)
            box.setEscapeButton(ok);

        box.setWindowModality(Qt::ApplicationModal);
        box.exec();

        if (box.ClosedWithoutAnswer())
            return mrCancel;
        const auto* clicked = box.clickedButton();
        if (clicked && clicked == yes)
            return mrYes;
        if (clicked && clicked == no)
            return mrNo;
        if (clicked && clicked == ok)
            return mrOk;
        return mrCancel;
    }

    int ShowBox(const TMsgRequest& request)
    {
        // A copy: the responder may replace itself while it runs.
        const TMsgResponder responder = Responder();
        if (responder)
            return responder(request);
        return RealBox(request);
    }

} // namespace

int MsgCaptionWidth(const QString& caption, const QFont& font)
{
    QFont title = font;
    title.setBold(true);
    // Room for the window icon, three title buttons and the frame's margins.
    constexpr int titleBarExtras = 160;
    return QFontMetrics(title).horizontalAdvance(caption) + titleBarExtras;
}

TMsgResponder SetMsgResponder(TMsgResponder responder)
{
    return std::exchange(Responder(), std::move(responder));
}

QString ApplicationTitle() { return QCoreApplication::applicationName(); }

int MsgDialog(const QString& text, TMsgKind kind, int buttons)
{
    TMsgRequest request;
    request.text = text;
    ReplaceAllInPlace(request.text, QStringLiteral("/n"), QStringLiteral("\r\n"), false);
    request.caption = CaptionOf(kind);
    request.kind = kind;
    request.buttons = buttons;
    request.defaultButton = (buttons & mbOK) ? mbOK : (buttons & mbYes) ? mbYes : 0;
    return ShowBox(request);
}

bool ShowMsg(const QVariant& message, const QString& code)
{
    TMsgKind kind = TMsgKind::Information;
    if (code.isEmpty())
        kind = TMsgKind::Plain;
    else if (code == QLatin1String("w"))
        kind = TMsgKind::Warning;
    else if (code == QLatin1String("e"))
        kind = TMsgKind::Error;
    else if (code == QLatin1String("c") || code == QLatin1String("?") || code == QLatin1String("q"))
        kind = TMsgKind::Confirmation;

    const bool question = kind == TMsgKind::Confirmation;
    const int result = MsgDialog(VariantToText(message), kind, question ? mbYes | mbNo : mbOK);
    return question && result == mrYes;
}

QString ErrorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + QLatin1Char('.');
    return message;
}

void ShowErrorReport(const QString& message)
{
    TMsgRequest request;
    request.text = ErrorReportText(message);
    request.caption = ApplicationTitle();
    request.kind = TMsgKind::Error;
    request.buttons = mbOK;
    request.defaultButton = mbOK;
    ShowBox(request);
}

bool RunGuarded(const std::function<void()>& body)
{
    QString message;
    try {
        body();
        return true;
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("Unbekannter Fehler");
    }
    // Reported outside the handler, so an error while showing the box cannot re-enter the catch.
    try {
        ShowErrorReport(message);
    } catch (...) {
    }
    return false;
}

} // namespace parvula::framework
