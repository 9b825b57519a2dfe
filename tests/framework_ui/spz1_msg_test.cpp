// Message dialogs: ShowMsg's codes, MsgDialog's line breaks, the real box's keys, the error report.
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "framework/ui/spz1_msg.h"

using namespace parvula::framework;

namespace {

// Answers every box with a fixed result and remembers what it was shown.
class RecordingResponder {
public:
    explicit RecordingResponder(int answer)
        : m_previous(SetMsgResponder([this](const TMsgRequest& r) {
            requests.push_back(r);
            return m_answer;
        }))
        , m_answer(answer)
    {
    }
    ~RecordingResponder() { SetMsgResponder(m_previous); }
    std::vector<TMsgRequest> requests;

private:
    TMsgResponder m_previous;
    int m_answer;
};

struct CodeCase {
    const char* code;
    TMsgKind kind;
    const char* caption; // nullptr: the application title
    int buttons;
    int defaultButton;
};

} // namespace

TEST(ShowMsg, CodesChooseKindCaptionButtonsAndDefault)
{
    const CodeCase cases[] = {
        { "i", TMsgKind::Information, "Informationen", mbOK, mbOK },
        { "w", TMsgKind::Warning, "Warnung", mbOK, mbOK },
        { "e", TMsgKind::Error, "Fehler", mbOK, mbOK },
        { "c", TMsgKind::Confirmation, "Bestätigen", mbYes | mbNo, mbYes },
        { "?", TMsgKind::Confirmation, "Bestätigen", mbYes | mbNo, mbYes },
        { "q", TMsgKind::Confirmation, "Bestätigen", mbYes | mbNo, mbYes },
        { "", TMsgKind::Plain, nullptr, mbOK, mbOK },
        // The comparison is exact: capital letters and other texts give an information box.
        { "I", TMsgKind::Information, "Informationen", mbOK, mbOK },
        { "Q", TMsgKind::Information, "Informationen", mbOK, mbOK },
        { "info", TMsgKind::Information, "Informationen", mbOK, mbOK },
    };
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.code);
        RecordingResponder responder(mrYes);
        ShowMsg(QStringLiteral("Save as Small"), QString::fromUtf8(c.code));
        ASSERT_EQ(responder.requests.size(), 1u);
        const TMsgRequest& r = responder.requests.front();
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.caption, c.caption ? QString::fromUtf8(c.caption) : ApplicationTitle());
        EXPECT_EQ(r.buttons, c.buttons);
        EXPECT_EQ(r.defaultButton, c.defaultButton);
        EXPECT_EQ(r.text, QStringLiteral("Save as Small"));
    }
    EXPECT_FALSE(ApplicationTitle().isEmpty());
}

TEST(ShowMsg, OnlyYesToAQuestionAnswersTrue)
{
    const struct {
        const char* code;
        int answer;
        bool expected;
    } cases[] = {
        { "?", mrYes, true },
        { "?", mrNo, false },
        { "?", mrCancel, false },
        { "c", mrYes, true },
        { "q", mrNo, false },
        // Boxes with OK only return false whatever comes back.
        { "i", mrOk, false },
        { "i", mrYes, false },
        { "w", mrYes, false },
        { "e", mrYes, false },
        { "", mrYes, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.code) + " " + std::to_string(c.answer));
        RecordingResponder responder(c.answer);
        EXPECT_EQ(ShowMsg(QStringLiteral("x"), QString::fromUtf8(c.code)), c.expected);
    }
}

TEST(MsgDialog, LineBreaksAndTheResultNumber)
{
    RecordingResponder responder(mrNo);
    EXPECT_EQ(
        MsgDialog(QStringLiteral("one/ntwo\r\nthree/n"), TMsgKind::Warning, mbYes | mbNo), mrNo);
    ASSERT_EQ(responder.requests.size(), 1u);
    EXPECT_EQ(responder.requests[0].text, QStringLiteral("one\r\ntwo\r\nthree\r\n"));
    // Only "/n" is a break; a backslash or a capital N is kept as it is.
    MsgDialog(QStringLiteral("a\\nb/Nc"), TMsgKind::Plain, mbOK);
    EXPECT_EQ(responder.requests[1].text, QStringLiteral("a\\nb/Nc"));
    // A number is turned into its text.
    ShowMsg(QVariant(42), QStringLiteral("i"));
    EXPECT_EQ(responder.requests[2].text, QStringLiteral("42"));
}

namespace {

// Presses a key in the next message box that opens, and notes what that box looked like.
struct BoxSeen {
    QString title;
    QStringList buttons;
    QString defaultButton;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString text;
    // The narrowest the box lets itself be made. On a real X server the width a window manager
    // reports can lag behind the size the box asked for by a few events.
    int minimumWidth = 0;
    QFont font;
};

void PressInNextBox(int key, BoxSeen& seen)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, key, &seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        seen.title = box->windowTitle();
        seen.icon = box->icon();
        seen.text = box->text();
        seen.minimumWidth = box->minimumWidth();
        seen.font = box->font();
        for (QAbstractButton* b : box->buttons())
            seen.buttons.append(b->text());
        if (box->defaultButton())
            seen.defaultButton = box->defaultButton()->text();
        QTest::keyClick(box, static_cast<Qt::Key>(key));
    });
    timer->start();
}

} // namespace

TEST(MsgDialog, RealBoxAnswersEnterWithYesAndEscapeWithNo)
{
    BoxSeen seen;
    PressInNextBox(Qt::Key_Return, seen);
    EXPECT_TRUE(ShowMsg(QStringLiteral("Save as Small"), QStringLiteral("?")));
    EXPECT_EQ(seen.title, QStringLiteral("Bestätigen"));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_TRUE(seen.buttons.contains(QStringLiteral("&Ja")));
    EXPECT_TRUE(seen.buttons.contains(QStringLiteral("&Nein")));
    EXPECT_EQ(seen.buttons.size(), 2);
    EXPECT_EQ(seen.defaultButton, QStringLiteral("&Ja"));
    EXPECT_EQ(seen.text, QStringLiteral("Save as Small"));

    BoxSeen seenNo;
    PressInNextBox(Qt::Key_Escape, seenNo);
    EXPECT_FALSE(ShowMsg(QStringLiteral("Delete profil Small"), QStringLiteral("?")));
    EXPECT_EQ(seenNo.title, QStringLiteral("Bestätigen"));

    // Escape in an OK box chooses OK (1), not cancel; the text is plain, never markup.
    BoxSeen seenOk;
    PressInNextBox(Qt::Key_Escape, seenOk);
    EXPECT_EQ(MsgDialog(QStringLiteral("<b>a</b>/nb"), TMsgKind::Error, mbOK), mrOk);
    EXPECT_EQ(seenOk.title, QStringLiteral("Fehler"));
    EXPECT_EQ(seenOk.icon, QMessageBox::Critical);
    EXPECT_EQ(seenOk.buttons, QStringList { QStringLiteral("OK") });
    EXPECT_EQ(seenOk.text, QStringLiteral("<b>a</b>\nb"));
}

// A one-letter text would give a box narrower than its German caption's title bar.
TEST(MsgDialog, ABoxIsWideEnoughForItsCaption)
{
    const struct {
        const char* code;
        const char* caption;
    } cases[] = { { "i", "Informationen" }, { "w", "Warnung" }, { "?", "Bestätigen" } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caption);
        BoxSeen seen;
        PressInNextBox(Qt::Key_Return, seen);
        ShowMsg(QStringLiteral("x"), QString::fromLatin1(c.code));
        EXPECT_EQ(seen.title, QString::fromUtf8(c.caption));
        QFont bold = seen.font;
        bold.setBold(true);
        EXPECT_GE(seen.minimumWidth, QFontMetrics(bold).horizontalAdvance(seen.title) + 160);
    }
}

TEST(MsgDialog, ClosingTheBoxItselfGivesCancel)
{
    for (const int buttons : { int(mbYes | mbNo), int(mbOK) }) {
        QTimer::singleShot(0, [] {
            QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
            QApplication::activeModalWidget()->close();
        });
        EXPECT_EQ(MsgDialog(QStringLiteral("x"), TMsgKind::Confirmation, buttons), mrCancel);
    }
    QTimer::singleShot(0, [] {
        QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
        QApplication::activeModalWidget()->close();
    });
    EXPECT_FALSE(ShowMsg(QStringLiteral("Save as Small"), QStringLiteral("?")));
}

TEST(ErrorReport, AppendsAFullStopUnlessTheLastCodeIsAtMost46)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        { "abc", "abc." },
        { "abc.", "abc." },
        { "abc!", "abc!" }, // 33
        { "abc?", "abc?." }, // 63
        { "abc-", "abc-" }, // 45
        { "abc/", "abc/." }, // 47
        { "abc ", "abc " },
        { "Datei ü", "Datei ü." },
        { "", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorReportText(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

TEST(ErrorReport, GuardTurnsAnEscapingExceptionIntoOneErrorBox)
{
    RecordingResponder responder(mrOk);
    EXPECT_TRUE(RunGuarded([] {}));
    EXPECT_TRUE(responder.requests.empty());

    EXPECT_FALSE(RunGuarded([] { throw std::runtime_error("Datei kaputt: ä"); }));
    ASSERT_EQ(responder.requests.size(), 1u);
    const TMsgRequest& r = responder.requests[0];
    EXPECT_EQ(r.text, QStringLiteral("Datei kaputt: ä."));
    EXPECT_EQ(r.caption, ApplicationTitle());
    EXPECT_EQ(r.kind, TMsgKind::Error);
    EXPECT_EQ(r.buttons, mbOK);
    EXPECT_EQ(r.defaultButton, mbOK);

    // Something that is no std::exception is reported too, and nothing escapes the guard.
    EXPECT_FALSE(RunGuarded([] { throw 7; }));
    EXPECT_EQ(responder.requests.size(), 2u);
}
