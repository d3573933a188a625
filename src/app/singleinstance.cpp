#include "app/singleinstance.h"

#include "base/userfolders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#ifndef Q_OS_WIN
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

const QByteArray s_request = QByteArrayLiteral("show\n");
const QByteArray s_reply = QByteArrayLiteral("ok\n");
constexpr int s_connectMs = 1000;
constexpr int s_replyMs = 3000;
constexpr int s_lockMs = 5000;

#ifndef Q_OS_WIN
// The user's runtime folder when it is one only its owner can enter; no other user can then take
// the name first.
QString privateRuntimeFolder()
{
    const QByteArray folder = qgetenv("XDG_RUNTIME_DIR");
    struct stat info = {};
    if (folder.isEmpty() || !folder.startsWith('/') || ::stat(folder.constData(), &info) != 0 ||
        !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() || (info.st_mode & 077) != 0)
        return QString();
    return QFile::decodeName(folder);
}
#endif

// Whether the process at the other end of a connected local socket runs as this user. True where
// the platform cannot tell (the socket's own permissions are then all there is).
bool peerIsThisUser(qintptr descriptor)
{
#if defined(Q_OS_LINUX)
    struct ucred credentials = {};
    socklen_t size = sizeof credentials;
    return ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           credentials.uid == ::getuid();
#elif defined(Q_OS_MACOS) || defined(Q_OS_FREEBSD) || defined(Q_OS_OPENBSD) || defined(Q_OS_NETBSD)
    uid_t uid = 0;
    gid_t gid = 0;
    return ::getpeereid(int(descriptor), &uid, &gid) == 0 && uid == ::getuid();
#else
    Q_UNUSED(descriptor)
    return true;
#endif
}

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
    const QByteArray place = (user + QLatin1Char('\n') + UserFolders::data()).toUtf8();
    QString name = QLatin1String("tavrin-") +
                   QString::fromLatin1(QCryptographicHash::hash(place, QCryptographicHash::Sha256).toHex().left(16));
#ifndef Q_OS_WIN
    // A full path is used as it is; a bare name lands in the shared temporary folder.
    const QString folder = privateRuntimeFolder();
    if (!folder.isEmpty())
        return folder + QLatin1Char('/') + name;
#endif
    return name;
}

bool SingleInstance::claim()
{
    const QString name = serverName();
    m_server = new QLocalServer(this);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::answer);
#ifdef Q_OS_WIN
    // A named pipe takes any number of servers under one name, so listening proves nothing: ask
    // first, with a lock that keeps two starts at the same moment from both finding nobody.
    QLockFile lock(QDir::tempPath() + QLatin1Char('/') + name + QLatin1String(".lock"));
    if (!lock.tryLock(s_lockMs))
        m_lastError = QLatin1String("Started without the start-up lock ") + lock.fileName();
    const HandOver asked = handOver(name);
    if (asked == HandOver::Done)
        return false;
    if (asked == HandOver::NoAnswer)
        return runUnguarded(name);
    listenOrGoUnguarded(name);
    return true;
#else
    // Binding the name is atomic: of two starts at the same moment one wins, the other finds the
    // name taken. (No access options: with them Qt binds elsewhere and renames over the name,
    // which would take it from a running copy. The socket's own permissions keep other users out.)
    if (m_server->listen(name))
        return true;
    HandOver result = handOver(name);
    if (result == HandOver::Done)
        return false;
    if (result == HandOver::NoAnswer)
        return runUnguarded(name);

    // Nobody answered: the socket was left by a copy that crashed. Two starts that both found it
    // must not remove each other's fresh socket; the lock (rarely needed, so its cost is paid here
    // only) lets one set up while the other waits and then hands over. A lock left by a crashed
    // copy is taken over, as QLockFile checks whether its owner still runs.
    const QString lockPath = QDir::isAbsolutePath(name) ? name : QDir::tempPath() + QLatin1Char('/') + name;
    QLockFile lock(lockPath + QLatin1String(".lock"));
    if (!lock.tryLock(s_lockMs))
        m_lastError = QLatin1String("Started without the start-up lock ") + lock.fileName();
    result = handOver(name);
    if (result == HandOver::Done)
        return false;
    if (result == HandOver::NoAnswer)
        return runUnguarded(name);
    QLocalServer::removeServer(name);
    listenOrGoUnguarded(name);
    return true; // running without the guard beats not running
#endif
}

SingleInstance::HandOver SingleInstance::handOver(const QString &name)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(s_connectMs))
        return HandOver::NoListener;
    // Only a copy of ours, run by this user, that confirms the request keeps this start from
    // running: anything else listening there must not keep the user from working.
    if (!peerIsThisUser(socket.socketDescriptor()))
        return HandOver::NoAnswer;
    socket.write(s_request);
    socket.waitForBytesWritten(s_replyMs);
    QElapsedTimer clock;
    clock.start();
    while (!socket.canReadLine() && socket.bytesAvailable() <= s_reply.size()) {
        const qint64 left = s_replyMs - clock.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(int(left)))
            break;
    }
    return socket.canReadLine() && socket.readLine() == s_reply ? HandOver::Done : HandOver::NoAnswer;
}

void SingleInstance::listenOrGoUnguarded(const QString &name)
{
    if (!m_server->listen(name)) {
        m_lastError =
            QLatin1String("Cannot listen for later starts on ") + name + QLatin1String(": ") + m_server->errorString();
        delete m_server;
        m_server = nullptr;
    }
}

bool SingleInstance::runUnguarded(const QString &name)
{
    // The name stays with whoever holds it: removing a socket that somebody answers on would take
    // it from a copy that is merely slow.
    m_lastError = QLatin1String("Something listens on ") + name +
                  QLatin1String(" but gave no valid answer; started without the single-instance guard");
    delete m_server;
    m_server = nullptr;
    return true;
}

void SingleInstance::answer()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!peerIsThisUser(socket->socketDescriptor())) {
            socket->disconnectFromServer();
            continue;
        }
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
