#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

// A tiny HTTP/1.1 server on 127.0.0.1 for GUI tests: answers GET requests from a table of
// canned responses and remembers which paths were asked for.
class LocalHttp : public QObject
{
public:
    struct Response
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
    };

    LocalHttp()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { onReadyRead(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }

    [[nodiscard]] QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

    void setResponse(const QByteArray &path, const Response &response) { m_responses.insert(path, response); }
    [[nodiscard]] const QList<QByteArray> &requests() const { return m_requests; }

private:
    void onReadyRead(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
        m_buffers.remove(socket);
        const QByteArray path = requestLine.value(1);
        m_requests.append(path);
        const Response response = m_responses.value(path, Response{404, "not found", "text/plain"});
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) +
                           (response.status == 200 ? " OK" : " Not Found") +
                           "\r\nContent-Type: " + response.contentType +
                           "\r\nContent-Length: " + QByteArray::number(response.body.size()) +
                           "\r\nConnection: close\r\n\r\n" + response.body;
        socket->write(reply);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QByteArray, Response> m_responses;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<QByteArray> m_requests;
};
