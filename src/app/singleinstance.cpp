#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

const QByteArray s_request = QByteArrayLiteral("show\n");
const QByteArray s_reply = QByteArrayLiteral("ok\n");
constexpr int s_connectMs = 1000;
constexpr int s_replyMs = 3000;
constexpr int s_lockMs = 5000;

} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName()
{
#ifdef Q_OS_WIN
    // Named pipes are shared by every session of the machine.
    const QString user = qEnvironmentVariable("USERNAME");
#else
    const QString user = QString::number(::getuid());
#endif
    const QByteArray place =
        (user + QLatin1Char('\n') + QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).toUtf8();
    return QLatin1String("tavrin-") +
           QString::fromLatin1(QCryptographicHash::hash(place, QCryptographicHash::Sha256).toHex().left(16));
}

bool SingleInstance::claim()
{
    const QString name = serverName();
    m_server = new QLocalServer(this);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::answer);
    // Binding the name is atomic: of two starts at the same moment one wins, the other finds the
    // name taken. (No access options: with them Qt binds elsewhere and renames over the name,
    // which would take it from a running copy. The socket's own permissions keep other users out.)
    if (m_server->listen(name))
        return true;
    if (handOver(name))
        return false;

    // Nobody answered: the socket was left by a copy that crashed. Two starts that both found it
    // must not remove each other's fresh socket; the lock (rarely needed, so its cost is paid here
    // only) lets one set up while the other waits and then hands over. A lock left by a crashed
    // copy is taken over, as QLockFile checks whether its owner still runs.
    QLockFile lock(QDir::tempPath() + QLatin1Char('/') + name + QLatin1String(".lock"));
    if (!lock.tryLock(s_lockMs))
        m_lastError = QLatin1String("Started without the start-up lock ") + lock.fileName();
    if (handOver(name))
        return false;
    QLocalServer::removeServer(name);
    if (!m_server->listen(name)) {
        m_lastError =
            QLatin1String("Cannot listen for later starts on ") + name + QLatin1String(": ") + m_server->errorString();
        delete m_server;
        m_server = nullptr;
    }
    return true; // running without the guard beats not running
}

bool SingleInstance::handOver(const QString &name)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(s_connectMs))
        return false;
    // Someone listens, so a copy runs: even if it is slow to answer, a second window is not wanted.
    socket.write(s_request);
    socket.waitForBytesWritten(s_replyMs);
    // The answer tells that the request arrived before this process is gone.
    socket.waitForReadyRead(s_replyMs);
    return true;
}

void SingleInstance::answer()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const auto serve = [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() == s_request) {
                socket->write(s_reply);
                socket->flush();
                emit activationRequested();
            }
            socket->disconnectFromServer();
        };
        connect(socket, &QLocalSocket::readyRead, this, serve);
        serve(); // the request may have arrived with the connection
    }
}
