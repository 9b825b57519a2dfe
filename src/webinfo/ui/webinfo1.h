// The information panel TWebInfo below the main window, and EmbedForm.
#pragma once

#include <functional>

#include <QDateTime>
#include <QPointer>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QWidget>

class QFrame;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;

namespace parvula::webinfo {

// Shows one page as rich text. It never fetches anything itself: images and other resources
// the page names are not loaded, so a page cannot make it read local files.
class TWebBrowser : public QTextBrowser {
    Q_OBJECT

public:
    explicit TWebBrowser(QWidget* parent = nullptr);

    // The page's address, against which its links are resolved.
    QUrl PageUrl() const { return m_pageUrl; }
    void ShowPage(const QUrl& url, const QString& html);

    QVariant loadResource(int type, const QUrl& name) override;

private:
    QUrl m_pageUrl;
};

class TWebInfo : public QWidget {
    Q_OBJECT

public:
    explicit TWebInfo(QWidget* parent = nullptr);
    ~TWebInfo() override;

    // Attaches the panel to host f (a top-level window it follows, or a container it is placed
    // in), sets the reload interval to TimerVal minutes (0 keeps it, a negative value switches
    // reloading off) and loads the page.
    void exec(QWidget* f, int TimerVal);
    // Shows the panel if hidden and loads url; the empty url loads the information query.
    void go(const QString& url);
    // Places the panel flush under MainForm, as wide as it, while the panel is visible.
    void MainResize();

    // The information query as it would be sent now.
    QString InfoQuery() const;
    // The address last navigated to.
    QUrl CurrentUrl() const { return m_currentUrl; }

    // For tests and other builds: the service's base address and the clock of the query.
    void SetInfoServiceUrl(const QString& url) { m_infoServiceUrl = url; }
    void SetClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    QFrame* PanelC;
    TWebBrowser* wb;
    QPushButton* btO;
    QPushButton* btX;
    QTimer Timer;
    QPointer<QWidget> MainForm;

signals:
    void PageLoaded();
    void NavigationFailed();

public slots:
    void TimerTimer();
    void wbNavigateError();
    void btOClick();
    void btXClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormShow();
    void FormClose();
    void Navigate(const QUrl& url);
    void ReplyFinished(QNetworkReply* reply);

    QNetworkAccessManager* m_net;
    QPointer<QNetworkReply> m_reply;
    QUrl m_currentUrl;
    QString m_infoServiceUrl;
    std::function<QDateTime()> m_clock;
};

// With a host: form loses its border, becomes the host's child filling its client area, and is
// shown. With none: a visible form is closed, and it becomes a free window with a sizeable
// border, centred over the window it was placed in when it is next shown.
void EmbedForm(QWidget* form, QWidget* host);

// The one panel of the program; created at start-up by the application.
inline TWebInfo* WebInfo = nullptr;

} // namespace parvula::webinfo
