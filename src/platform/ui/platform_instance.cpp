// One window per user: the first start serves a local socket, a later start hands its paths to
// it and ends.
#include "platform/ui/platform_instance.h"

#include <utility>

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace parvula::platform {

namespace {

    constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_4;
    // A frame is its length (4 bytes) and its payload. Far above any real list, far below what
    // would hurt: a hundred thousand long paths fit.
    constexpr quint32 kMaxPayload = 256u * 1024u * 1024u;

    QByteArray Frame(const QByteArray& payload)
    {
        QByteArray frame;
        QDataStream out(&frame, QIODevice::WriteOnly);
        out.setVersion(kStreamVersion);
        out << quint32(payload.size());
        frame.append(payload);
        return frame;
    }

    // The payload of the next whole frame waiting in socket; false while it is incomplete (its
    // bytes stay in the socket). A length beyond the limit marks the frame bad.
    bool ReadFrame(QLocalSocket& socket, QByteArray& payload, bool& bad)
    {
        bad = false;
        if (socket.bytesAvailable() < 4)
            return false;
        QDataStream head(socket.peek(4));
        head.setVersion(kStreamVersion);
        quint32 size = 0;
        head >> size;
        if (size > kMaxPayload) {
            bad = true;
            return false;
        }
        if (socket.bytesAvailable() < 4 + qint64(size))
            return false;
        socket.skip(4);
        payload = socket.read(size);
        return true;
    }

    QString LockFilePath(const QString& serverName)
    {
#ifdef Q_OS_WIN
        return QDir(QDir::tempPath()).filePath(serverName + QStringLiteral(".lock"));
#else
        return serverName + QStringLiteral(".lock");
#endif
    }

    // What Ask found: no window serving the name, a window that took the request and answered,
    // or a window that took the request but did not answer in time (busy with a long walk).
    enum class TAskResult { NoServer, Answered, Unanswered };

    TAskResult AskServer(const QString& serverName, TInstanceRequest request,
        const QStringList& paths, QStringList& answer, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        const auto remaining = [&] { return int(qMax<qint64>(1, timeoutMs - clock.elapsed())); };

        QLocalSocket socket;
        socket.connectToServer(serverName);
        if (!socket.waitForConnected(remaining()))
            return TAskResult::NoServer;

        QByteArray payload;
        {
            QDataStream out(&payload, QIODevice::WriteOnly);
            out.setVersion(kStreamVersion);
            out << quint8(request) << paths;
        }
        socket.write(Frame(payload));
        while (socket.bytesToWrite() > 0) {
            if (!socket.waitForBytesWritten(remaining()))
                return socket.state() == QLocalSocket::ConnectedState ? TAskResult::Unanswered
                                                                      : TAskResult::NoServer;
        }

        QByteArray reply;
        bool bad = false;
        while (!ReadFrame(socket, reply, bad)) {
            if (bad || !socket.waitForReadyRead(remaining()))
                return TAskResult::Unanswered;
        }
        QDataStream in(reply);
        in.setVersion(kStreamVersion);
        answer.clear();
        in >> answer;
        return TAskResult::Answered;
    }

} // namespace

QString InstanceServerName()
{
#ifdef Q_OS_WIN
    // Pipe names are seen by every session of the machine: the user's name keeps them apart.
    return QStringLiteral("parvula-") + qEnvironmentVariable("USERNAME", QStringLiteral("user"));
#else
    // The runtime folder belongs to the user alone (Qt makes a private one when the session has
    // none), so the socket's name is the same for every window of this user and no one else's.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return QDir(folder.isEmpty() ? QDir::tempPath() : folder).filePath(QStringLiteral("parvula"));
#endif
}

TSingleInstance::TSingleInstance(QString serverName, QObject* parent)
    : QObject(parent)
    , m_serverName(std::move(serverName))
{
}

TSingleInstance::~TSingleInstance() = default;

bool TSingleInstance::Serving() const { return m_server && m_server->isListening(); }

bool TSingleInstance::Ask(const QString& serverName, TInstanceRequest request,
    const QStringList& paths, QStringList& answer, int timeoutMs)
{
    return AskServer(serverName, request, paths, answer, timeoutMs) == TAskResult::Answered;
}

bool TSingleInstance::HandOverOrServe(const QStringList& paths)
{
    // Held from the question to the listening, so of two starts at the same moment one serves
    // and the other hands over. A lock left by a crashed start is taken over (its process is
    // gone); when the lock cannot be had at all, the start goes on without it.
    QLockFile lock(LockFilePath(m_serverName));
    lock.tryLock(10000);

    QStringList answer;
    switch (AskServer(m_serverName, TInstanceRequest::Open, paths, answer, 5000)) {
    case TAskResult::Answered:
        return true;
    case TAskResult::Unanswered:
        // The running window has the paths in its socket and takes them when it is free; its
        // socket must not be taken from it.
        return true;
    case TAskResult::NoServer:
        break;
    }

    // Nobody answers: whatever sits under the name was left by a window that ended without
    // closing it (a crash, a kill) and would make listening fail.
    QLocalServer::removeServer(m_serverName);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        // Without the socket the window still works; only hand-overs to it do not.
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &TSingleInstance::Accept);
    return false;
}

void TSingleInstance::Accept()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        if (socket->bytesAvailable() > 0)
            Read(socket);
    }
}

void TSingleInstance::Read(QLocalSocket* socket)
{
    QByteArray payload;
    bool bad = false;
    if (!ReadFrame(*socket, payload, bad)) {
        if (bad)
            socket->abort();
        return;
    }

    QDataStream in(payload);
    in.setVersion(kStreamVersion);
    quint8 request = 0;
    QStringList paths;
    in >> request >> paths;
    if (in.status() != QDataStream::Ok) {
        socket->abort();
        return;
    }

    QStringList answer;
    if (TInstanceRequest(request) == TInstanceRequest::Entries && entries)
        answer = entries();
    QByteArray reply;
    {
        QDataStream out(&reply, QIODevice::WriteOnly);
        out.setVersion(kStreamVersion);
        out << answer;
    }
    // Answered first: taking the paths may show a message and wait for the user, and the
    // start that handed them over should not wait for that.
    socket->write(Frame(reply));
    socket->flush();
    socket->disconnectFromServer();
    if (TInstanceRequest(request) == TInstanceRequest::Open)
        emit PathsReceived(paths);
}

} // namespace parvula::platform
