// A small HTTP server on 127.0.0.1 for the web panel's tests: records each request's target
// and answers with a chosen status and page.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTcpServer>

class TTestHttpServer : public QObject {
    Q_OBJECT

public:
    explicit TTestHttpServer(QObject* parent = nullptr);

    bool Listen();
    quint16 Port() const { return m_server.serverPort(); }
    // "http://127.0.0.1:<port>" + path.
    QString Url(const QString& path) const;

    // Request targets (path and query, as sent), in arrival order.
    QStringList targets;
    int status = 200;
    QByteArray body = "<html><body><p>Parvula info</p></body></html>";

signals:
    void Requested();

private:
    QTcpServer m_server;
};

// A port on 127.0.0.1 where nothing listens.
quint16 ClosedLoopbackPort();
