#pragma once

#include <algorithm>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

// A small HTTP/1.1 server on 127.0.0.1 for tests and benchmarks: canned responses per path,
// optional TLS, large bodies produced on the fly, and a record of every request it saw.
// Each connection gets one response and is closed. The server stops by itself after its lifetime.
namespace LocalHttp {

struct Response
{
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    qint64 generatedSize = -1; // >= 0: a body of this many pattern bytes, produced while sending
    qint64 dropAfter = -1;     // >= 0: close after this many body bytes, though the full length was announced
};

struct Request
{
    QByteArray method;
    QByteArray path;
    QHash<QByteArray, QByteArray> headers; // names in lower case
};

inline Response redirect(const QByteArray &location, int status = 302)
{
    Response response;
    response.status = status;
    response.headers.append({"Location", location});
    return response;
}

// The byte at a given offset of a generated body; lets a reader check content without holding it.
inline char patternByte(qint64 offset)
{
    return char((offset * 131 + offset / 4093) & 0xff);
}

inline QByteArray pattern(qint64 offset, qint64 size)
{
    QByteArray chunk(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        chunk[i] = patternByte(offset + i);
    return chunk;
}

class Server : public QTcpServer
{
public:
    explicit Server(int lifetimeMs = 120000)
    {
        m_lifetime.setSingleShot(true);
        QObject::connect(&m_lifetime, &QTimer::timeout, this, [this] { stop(); });
        m_lifetime.start(lifetimeMs);
    }
    ~Server() override { stop(); }

    bool start() { return listen(QHostAddress::LocalHost, 0); }

    void useTls(const QSslCertificate &certificate, const QSslKey &key)
    {
        m_certificate = certificate;
        m_key = key;
    }

    void route(const QByteArray &path, const Response &response) { m_routes.insert(path, response); }

    QUrl url(const QByteArray &path) const
    {
        return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                        .arg(m_key.isNull() ? QStringLiteral("http") : QStringLiteral("https"))
                        .arg(serverPort())
                        .arg(QString::fromLatin1(path)));
    }

    void stop()
    {
        close();
        for (const QPointer<QTcpSocket> &socket : std::as_const(m_sockets)) {
            if (socket)
                socket->abort();
        }
        m_sockets.clear();
    }

    // Connections not yet closed and released.
    int openConnections() const
    {
        return int(std::count_if(m_sockets.cbegin(), m_sockets.cend(),
                                 [](const QPointer<QTcpSocket> &socket) { return !socket.isNull(); }));
    }

    QList<Request> requests;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (m_sockets.size() >= s_maxConnections) {
            QTcpSocket refused;
            refused.setSocketDescriptor(descriptor);
            refused.abort();
            return;
        }
        QTcpSocket *socket = nullptr;
        if (m_key.isNull()) {
            socket = new QTcpSocket(this);
            socket->setSocketDescriptor(descriptor);
        } else {
            auto *tls = new QSslSocket(this);
            tls->setSocketDescriptor(descriptor);
            tls->setLocalCertificate(m_certificate);
            tls->setPrivateKey(m_key);
            tls->startServerEncryption();
            socket = tls;
        }
        m_sockets.append(socket);
        auto *received = new QByteArray;
        QObject::connect(socket, &QObject::destroyed, [received] { delete received; });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
            received->append(socket->readAll());
            if (received->size() > s_maxRequestSize) {
                socket->abort();
                return;
            }
            const qsizetype end = received->indexOf("\r\n\r\n");
            if (end < 0 || socket->property("answered").toBool())
                return;
            socket->setProperty("answered", true);
            answer(socket, parse(received->left(end)));
        });
    }

private:
    static constexpr int s_maxConnections = 256;
    static constexpr qsizetype s_maxRequestSize = 64 * 1024;
    static constexpr qint64 s_chunk = 64 * 1024;
    static constexpr qint64 s_maxQueued = 256 * 1024;

    static Request parse(const QByteArray &head)
    {
        Request request;
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        return request;
    }

    void answer(QTcpSocket *socket, const Request &request)
    {
        requests.append(request);
        Response response;
        const auto found = m_routes.constFind(request.path);
        if (found != m_routes.constEnd()) {
            response = *found;
        } else {
            response.status = 404;
            response.body = "not found";
        }
        const qint64 length = response.generatedSize >= 0 ? response.generatedSize : response.body.size();
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Canned\r\n";
        head += "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n";
        for (const auto &header : std::as_const(response.headers))
            head += header.first + ": " + header.second + "\r\n";
        socket->write(head + "\r\n");

        const qint64 limit = response.dropAfter >= 0 ? qMin(response.dropAfter, length) : length;
        if (response.generatedSize < 0) {
            socket->write(response.body.left(limit));
            socket->disconnectFromHost();
            return;
        }
        // Produce the body as the socket drains, so a large one is never held in memory.
        auto sent = std::make_shared<qint64>(0);
        auto pump = [socket, sent, limit] {
            while (*sent < limit && socket->bytesToWrite() < s_maxQueued) {
                const qint64 size = qMin(s_chunk, limit - *sent);
                socket->write(pattern(*sent, size));
                *sent += size;
            }
            if (*sent >= limit && socket->state() == QAbstractSocket::ConnectedState)
                socket->disconnectFromHost();
        };
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, pump);
        pump();
    }

    QTimer m_lifetime;
    QHash<QByteArray, Response> m_routes;
    QList<QPointer<QTcpSocket>> m_sockets;
    QSslCertificate m_certificate;
    QSslKey m_key;
};

} // namespace LocalHttp
