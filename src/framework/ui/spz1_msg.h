// Message dialogs: ShowMsg with its one-letter codes, MsgDialog, and the seam tests answer through.
#pragma once

#include <functional>

#include <QString>
#include <QVariant>

class QFont;

namespace parvula::framework {

enum class TMsgKind { Warning, Error, Information, Confirmation, Plain };

enum TMsgButton { mbYes = 1, mbNo = 2, mbOK = 4 };

// Results of MsgDialog.
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

// What a shown box held; handed to the responder instead of showing a real box.
struct TMsgRequest {
    QString text; // after "/n" became CR LF
    QString caption;
    TMsgKind kind;
    int buttons; // TMsgButton flags
    int defaultButton; // one TMsgButton
};
using TMsgResponder = std::function<int(const TMsgRequest&)>;

// Replaces the real dialog (tests); an empty responder restores it. Returns the previous one.
TMsgResponder SetMsgResponder(TMsgResponder responder);

int MsgDialog(const QString& text, TMsgKind kind, int buttons);
// The least width of a message box whose title bar shows caption uncut.
int MsgCaptionWidth(const QString& caption, const QFont& font);
bool ShowMsg(const QVariant& message, const QString& code = QString());

// The caption of plain boxes and of the error report: the application's name ("Parvula").
QString ApplicationTitle();

// The error report's text: "." is appended unless the last character's code is 46 or less
// ("abc!" and "abc." stay, "abc?" gets one). An empty text stays empty.
QString ErrorReportText(const QString& message);

// The top-level error report: error icon, OK button, the application title as caption.
void ShowErrorReport(const QString& message);

// Every slot and event handler runs its body through this guard, so that no exception crosses a
// Qt frame: an escaping exception becomes the error report. True when the body ran to its end.
bool RunGuarded(const std::function<void()>& body);

} // namespace parvula::framework
