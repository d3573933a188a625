#pragma once

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <functional>
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
    qint64 stallAfter = -1;    // >= 0: after this many body bytes, send nothing more and keep the connection open
    bool chunked = false;      // chunked transfer encoding instead of a Content-Length
    int pauseMs = 0;           // > 0: a pause after every pauseEvery bytes of body
    bool silent = false;       // read the request, never answer
    qint64 pauseEvery = 256 << 10;
    bool closeDelimited = false; // neither a Content-Length nor chunks: the body ends when the connection closes
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
            if (response.silent)
                return;
            const qint64 length = response.generatedSize >= 0 ? response.generatedSize : response.body.size();
            QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) + " Canned\r\nConnection: close\r\n";
            for (const auto &header : response.headers)
                reply += header.first + ": " + header.second + "\r\n";
            if (response.chunked)
                reply += "Transfer-Encoding: chunked\r\n";
            else if (!response.closeDelimited)
                reply += "Content-Length: " + QByteArray::number(length) + "\r\n";
            socket->write(reply + "\r\n");

            // Produce the body as the socket drains, so a large one is never held in memory.
            const qint64 cut = response.dropAfter >= 0 ? response.dropAfter : response.stallAfter;
            const qint64 limit = cut >= 0 ? qMin(cut, length) : length;
            auto sent = std::make_shared<qint64>(0);
            auto paused = std::make_shared<bool>(false);
            auto pump = std::make_shared<std::function<void()>>();
            *pump = [socket, sent, paused, limit, length, response, weak = std::weak_ptr(pump)] {
                const auto connected = [socket] { return socket->state() == QAbstractSocket::ConnectedState; };
                for (qint64 size = 0;
                     !*paused && *sent < limit && socket->bytesToWrite() < (256 << 10) && connected();) {
                    size = qMin<qint64>(64 << 10, limit - *sent);
                    if (response.pauseMs > 0)
                        size = qMin(size, response.pauseEvery - *sent % response.pauseEvery);
                    const QByteArray piece =
                        response.generatedSize >= 0 ? pattern(*sent, size) : response.body.mid(*sent, size);
                    socket->write(response.chunked ? QByteArray::number(size, 16) + "\r\n" + piece + "\r\n" : piece);
                    *sent += size;
                    if (response.pauseMs > 0 && *sent % response.pauseEvery == 0) {
                        *paused = true;
                        QTimer::singleShot(response.pauseMs, socket, [paused, weak] {
                            *paused = false;
                            if (auto again = weak.lock())
                                (*again)();
                        });
                    }
                }
                if (*sent < limit || response.stallAfter >= 0 || !connected())
                    return;
                if (response.chunked && limit == length)
                    socket->write("0\r\n\r\n");
                socket->disconnectFromHost();
            };
            connect(socket, &QTcpSocket::bytesWritten, socket, [pump] { (*pump)(); });
            (*pump)();
        });
    }

private:
    QHash<QByteArray, Response> m_routes;
};

} // namespace LocalHttp
