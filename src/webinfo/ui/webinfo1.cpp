// The information panel TWebInfo below the main window, and EmbedForm.
#include "webinfo/ui/webinfo1.h"

#include <algorithm>
#include <limits>

#include <QCloseEvent>
#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QScreen>
#include <QStringDecoder>
#include <QVBoxLayout>

#include "buildinfo.h"
#include "framework/spz1_paths.h"
#include "platform/platform_version.h"
#include "webinfo/webinfo_url.h"

namespace parvula::webinfo {

namespace {

    constexpr int kDefaultInterval = 360000;
    // A service that accepts the connection but never answers would otherwise leave the panel
    // showing nothing for good.
    constexpr int kTransferTimeoutMs = 30000;
    // An information page is a few kilobytes; anything past this is not one, and is not taken
    // into memory and the rich-text parser.
    constexpr qint64 kMaxPageBytes = 2 * 1024 * 1024;

    // Keeps a form sized to its host's client area, which is what "aligned to fill" means.
    class TFillHost : public QObject {
    public:
        TFillHost(QWidget* form, QWidget* host)
            : QObject(form)
            , m_form(form)
            , m_host(host)
        {
            setObjectName(QStringLiteral("TFillHost"));
            host->installEventFilter(this);
        }
        ~TFillHost() override
        {
            if (m_host)
                m_host->removeEventFilter(this);
        }
        void Fill()
        {
            if (m_host)
                m_form->setGeometry(m_host->contentsRect());
        }
        QWidget* Host() const { return m_host; }

    protected:
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (watched == m_host && event->type() == QEvent::Resize)
                Fill();
            return false;
        }

    private:
        QWidget* m_form;
        QPointer<QWidget> m_host;
    };

    TFillHost* FillerOf(QWidget* form)
    {
        return form->findChild<TFillHost*>(QStringLiteral("TFillHost"), Qt::FindDirectChildrenOnly);
    }

    QPushButton* TinyButton(const QString& caption, QWidget* parent)
    {
        auto* b = new QPushButton(caption, parent);
        b->setFlat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setCursor(Qt::PointingHandCursor);
        b->setStyleSheet(QStringLiteral(
            "QPushButton { background: white; border: none; padding: 0; margin: 0; }"));
        return b;
    }

    QString DecodeHtml(const QByteArray& body, const QByteArray& contentType)
    {
        // The header's charset wins, then the page's own declaration, then UTF-8.
        const qsizetype at = contentType.toLower().indexOf("charset=");
        if (at >= 0) {
            QByteArray name = contentType.mid(at + 8).trimmed();
            name = name.left(name.indexOf(';') < 0 ? name.size() : name.indexOf(';'));
            name.replace('"', "");
            QStringDecoder decoder(name.constData());
            if (decoder.isValid())
                return decoder.decode(body);
        }
        QStringDecoder decoder = QStringDecoder::decoderForHtml(body);
        if (decoder.isValid())
            return decoder.decode(body);
        return QString::fromUtf8(body);
    }

} // namespace

TWebBrowser::TWebBrowser(QWidget* parent)
    : QTextBrowser(parent)
{
    // Links go to the user's browser; the panel itself only ever shows the service's page.
    setOpenLinks(false);
    setOpenExternalLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
        const QUrl target = m_pageUrl.resolved(link);
        const QString scheme = target.scheme().toLower();
        if (scheme == u"http" || scheme == u"https" || scheme == u"mailto")
            QDesktopServices::openUrl(target);
    });
}

void TWebBrowser::ShowPage(const QUrl& url, const QString& html)
{
    m_pageUrl = url;
    setHtml(html);
}

QVariant TWebBrowser::loadResource(int, const QUrl&) { return QVariant(); }

TWebInfo::TWebInfo(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint)
    , PanelC(new QFrame(this))
    , wb(new TWebBrowser(PanelC))
    , btO(TinyButton(QStringLiteral("o"), this))
    , btX(TinyButton(QStringLiteral("x"), this))
    , m_net(new QNetworkAccessManager(this))
    , m_infoServiceUrl(QString::fromUtf8(buildinfo::kInfoUrl))
    , m_clock([] { return QDateTime::currentDateTime(); })
{
    setObjectName(QStringLiteral("WebInfo"));
    setWindowTitle(QStringLiteral("WebInfo"));
    resize(600, 90);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    setFont(f);

    PanelC->setObjectName(QStringLiteral("PanelC"));
    wb->setObjectName(QStringLiteral("wb"));
    btO->setObjectName(QStringLiteral("btO"));
    btX->setObjectName(QStringLiteral("btX"));

    // Raised bevel of width 3 inside a border of 1, so the page starts at 4, 4.
    PanelC->setFrameStyle(QFrame::Panel | QFrame::Raised);
    PanelC->setLineWidth(3);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(PanelC);
    auto* inner = new QVBoxLayout(PanelC);
    inner->setContentsMargins(1, 1, 1, 1);
    inner->addWidget(wb);
    wb->setFrameStyle(QFrame::NoFrame);
    wb->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    btO->setGeometry(0, -2, 10, 12);
    btX->setGeometry(8, -2, 10, 12);
    btO->raise();
    btX->raise();

    Timer.setInterval(kDefaultInterval);
    connect(&Timer, &QTimer::timeout, this, &TWebInfo::TimerTimer);
    connect(btO, &QPushButton::clicked, this, &TWebInfo::btOClick);
    connect(btX, &QPushButton::clicked, this, &TWebInfo::btXClick);
    connect(m_net, &QNetworkAccessManager::finished, this, &TWebInfo::ReplyFinished);
}

TWebInfo::~TWebInfo()
{
    if (MainForm)
        MainForm->removeEventFilter(this);
    if (m_reply)
        m_reply->abort();
}

void TWebInfo::exec(QWidget* f, int TimerVal)
{
    if (f) {
        if (!f->isVisible())
            f->show();
        if (MainForm)
            MainForm->removeEventFilter(this);
        if (f->isWindow()) {
            if (parentWidget() || !isWindow()) {
                delete FillerOf(this);
                setParent(nullptr, Qt::Tool | Qt::FramelessWindowHint);
            }
            MainForm = f;
            f->installEventFilter(this);
        } else {
            MainForm = nullptr;
            EmbedForm(this, f);
        }
    }
    if (TimerVal > 0) {
        const qint64 ms = qint64(TimerVal) * 60000;
        Timer.setInterval(int(std::min<qint64>(ms, std::numeric_limits<int>::max())));
    }
    if (TimerVal >= 0)
        Timer.start();
    else
        Timer.stop();
    go(QString());
}

QString TWebInfo::InfoQuery() const
{
    TInfoQueryValues v;
    v.productCode = framework::ProductCode;
    v.version = framework::ProductVersion;
    // The build time is a UTC instant; its date is written without shifting it to local time.
    v.buildDate = platform::ExeBuildDate().date();
    v.title = framework::ProductTitle;
    v.now = m_clock();
    return BuildInfoQuery(m_infoServiceUrl, v);
}

void TWebInfo::go(const QString& url)
{
    const QString address = url.isEmpty() ? InfoQuery() : url;
    if (!isVisible())
        show();
    Navigate(QUrl(address, QUrl::TolerantMode));
}

void TWebInfo::Navigate(const QUrl& url)
{
    if (m_reply) {
        // The earlier load is superseded; its abort must not count as a failure.
        QNetworkReply* old = m_reply;
        m_reply = nullptr;
        old->abort();
    }
    m_currentUrl = url;
    QNetworkRequest request(url);
    request.setTransferTimeout(kTransferTimeoutMs);
    QNetworkReply* reply = m_net->get(request);
    m_reply = reply;
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        if (reply == m_reply && received > kMaxPageBytes)
            wbNavigateError();
    });
}

void TWebInfo::ReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status >= 400) {
        wbNavigateError();
        return;
    }
    const QByteArray body = reply->read(kMaxPageBytes + 1);
    if (body.size() > kMaxPageBytes) {
        wbNavigateError();
        return;
    }
    wb->ShowPage(reply->url(),
        DecodeHtml(body, reply->header(QNetworkRequest::ContentTypeHeader).toByteArray()));
    emit PageLoaded();
}

void TWebInfo::MainResize()
{
    if (!isVisible() || !MainForm)
        return;
    const QRect outer = MainForm->frameGeometry();
    setGeometry(outer.left(), outer.top() + outer.height(), outer.width(), height());
}

void TWebInfo::TimerTimer()
{
    if (isVisible())
        go(QString());
}

void TWebInfo::wbNavigateError()
{
    if (m_reply) {
        QNetworkReply* old = m_reply;
        m_reply = nullptr;
        old->abort();
    }
    // Silently: the timer keeps running, but its ticks do nothing while the panel is hidden.
    hide();
    emit NavigationFailed();
}

void TWebInfo::btOClick() { go(QString()); }

void TWebInfo::btXClick()
{
    QWidget* host = isWindow() ? nullptr : parentWidget();
    close();
    if (host)
        host->hide();
}

void TWebInfo::FormShow() { MainResize(); }

void TWebInfo::FormClose() { Timer.stop(); }

bool TWebInfo::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == MainForm && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        MainResize();
    return QWidget::eventFilter(watched, event);
}

void TWebInfo::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    FormShow();
}

void TWebInfo::closeEvent(QCloseEvent* event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void EmbedForm(QWidget* form, QWidget* host)
{
    if (!form)
        return;
    if (host) {
        delete FillerOf(form);
        form->setParent(host, Qt::Widget);
        auto* filler = new TFillHost(form, host);
        filler->Fill();
        form->show();
        return;
    }
    TFillHost* filler = FillerOf(form);
    QWidget* formerWindow = filler && filler->Host() ? filler->Host()->window()
        : form->parentWidget()                       ? form->parentWidget()->window()
                                                     : nullptr;
    if (form->isVisible())
        form->close();
    delete filler;
    form->setParent(nullptr, Qt::Window);
    // Centred over the window it sat in; with none, over the primary screen.
    QRect over = formerWindow ? formerWindow->frameGeometry() : QRect();
    if (over.isEmpty() && form->screen())
        over = form->screen()->availableGeometry();
    if (!over.isEmpty()) {
        QRect r(QPoint(0, 0), form->size());
        r.moveCenter(over.center());
        form->move(r.topLeft());
    }
}

} // namespace parvula::webinfo
