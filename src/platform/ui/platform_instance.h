// One window per user: the first start serves a local socket, a later start hands its paths to
// it and ends.
#pragma once

#include <functional>

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace parvula::platform {

// The per-user name of the running window's socket: a file in the user's runtime folder on
// POSIX systems, a pipe name holding the user's name on Windows.
QString InstanceServerName();

// What a client asks the running window.
enum class TInstanceRequest : quint8 {
    Open = 1, // add these paths to the list and come to the front; the answer is empty
    Entries = 2, // the answer is the list's entries
};

class TSingleInstance : public QObject {
    Q_OBJECT

public:
    explicit TSingleInstance(QString serverName = InstanceServerName(), QObject* parent = nullptr);
    ~TSingleInstance() override;

    // Hands the paths to the window already running and returns true, or, when none answers,
    // makes this process the running one (a socket left by a crashed window is replaced) and
    // returns false. Start-ups racing each other are put in line by a lock file.
    bool HandOverOrServe(const QStringList& paths);
    // Whether this process serves the socket.
    bool Serving() const;

    // The list's entries, answered to TInstanceRequest::Entries.
    std::function<QStringList()> entries;

    // Sends one request to the window serving serverName and returns its answer; false when
    // none answered within timeoutMs.
    static bool Ask(const QString& serverName, TInstanceRequest request, const QStringList& paths,
        QStringList& answer, int timeoutMs = 5000);

signals:
    // A later start handed these paths over (absolute, in its order).
    void PathsReceived(const QStringList& paths);

private:
    void Accept();
    void Read(QLocalSocket* socket);

    QString m_serverName;
    QLocalServer* m_server = nullptr;
};

} // namespace parvula::platform
