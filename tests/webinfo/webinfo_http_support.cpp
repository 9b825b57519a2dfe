// A small HTTP server on 127.0.0.1 for the web panel's tests: records each request's target
// and answers with a chosen status and page.
#include "webinfo_http_support.h"

#include <QTcpSocket>

TTestHttpServer::TTestHttpServer(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                const QByteArray seen = socket->property("seen").toByteArray() + socket->readAll();
                socket->setProperty("seen", seen);
                if (!seen.contains("\r\n\r\n") || socket->property("answered").toBool())
                    return;
                socket->setProperty("answered", true);
                const QList<QByteArray> requestLine = seen.left(seen.indexOf("\r\n")).split(' ');
                targets << QString::fromLatin1(requestLine.value(1));
                const QByteArray reason = status < 400 ? "OK" : "Error";
                socket->write("HTTP/1.1 " + QByteArray::number(status) + " " + reason + "\r\n"
                    + "Content-Type: text/html; charset=utf-8\r\n"
                    + "Content-Length: " + QByteArray::number(body.size()) + "\r\n"
                    + "Connection: close\r\n\r\n" + body);
                socket->disconnectFromHost();
                emit Requested();
            });
        }
    });
}

bool TTestHttpServer::Listen() { return m_server.listen(QHostAddress::LocalHost, 0); }

QString TTestHttpServer::Url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(path);
}

quint16 ClosedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
