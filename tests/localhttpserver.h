#pragma once

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

// An HTTP/1.1 server on 127.0.0.1 for tests and benchmarks: canned responses per path ("*": any other), large
// bodies produced while sending, one response per connection. It stops listening after its lifetime.
namespace LocalHttp {

struct Response
{
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers = {};
    QByteArray body = {};
    qint64 generatedSize = -1; // >= 0: a body of this many pattern bytes, produced while sending
    qint64 dropAfter = -1;     // >= 0: close after this many body bytes, though the full length was announced
};

struct Request
{
    QByteArray path, head; // head: the request line and headers as received
};

// Bytes [offset, offset + size) of a generated body; lets a reader check content without holding it.
inline QByteArray pattern(qint64 offset, qint64 size)
{
    QByteArray chunk(size, Qt::Uninitialized);
    for (qint64 i = offset; i < offset + size; ++i)
        chunk[i - offset] = char((i * 131 + i / 4093) & 0xff);
    return chunk;
}

class Server : public QTcpServer
{
public:
    explicit Server(int lifetimeMs = 120000) { QTimer::singleShot(lifetimeMs, this, &QTcpServer::close); }

    bool start() { return listen(QHostAddress::LocalHost, 0); }
    void route(const QByteArray &path, const Response &response) { m_routes.insert(path, response); }
    QUrl url(const QByteArray &path) const { return QUrl("http://127.0.0.1:" + QString::number(serverPort()) + path); }

    QList<Request> requests;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        // Clients send only GET requests: the head is complete once the data ends in a blank line.
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head = QByteArray()]() mutable {
            head += socket->readAll();
            if (!head.endsWith("\r\n\r\n"))
                return;
            requests.append({head.split(' ').value(1), head});
            const Response response = m_routes.value(requests.last().path, m_routes.value("*", {404, {}, "not found"}));
            const qint64 length = response.generatedSize >= 0 ? response.generatedSize : response.body.size();
            QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) + " Canned\r\nConnection: close\r\n";
            for (const auto &header : response.headers)
                reply += header.first + ": " + header.second + "\r\n";
            socket->write(reply + "Content-Length: " + QByteArray::number(length) + "\r\n\r\n");

            // Produce the body as the socket drains, so a large one is never held in memory.
            const qint64 limit = response.dropAfter >= 0 ? qMin(response.dropAfter, length) : length;
            auto sent = std::make_shared<qint64>(0);
            auto pump = [socket, sent, limit, response] {
                for (qint64 size = 0; *sent < limit && socket->bytesToWrite() < (256 << 10); *sent += size) {
                    size = qMin<qint64>(64 << 10, limit - *sent);
                    socket->write(response.generatedSize >= 0 ? pattern(*sent, size) : response.body.mid(*sent, size));
                }
                if (*sent >= limit && socket->state() == QAbstractSocket::ConnectedState)
                    socket->disconnectFromHost();
            };
            connect(socket, &QTcpSocket::bytesWritten, socket, pump);
            pump();
        });
    }

private:
    QHash<QByteArray, Response> m_routes;
};

} // namespace LocalHttp
