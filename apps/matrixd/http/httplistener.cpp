#include "httplistener.h"

#include "connectionwatch.h"
#include "httpreply.h"
#include "peeraddress.h"

#include <QPointer>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>

#include <http_parser.h>

namespace {

// How long a refused client has to read its 503.
constexpr std::chrono::seconds kRefusalGrace{5};

} // namespace

HttpListener::HttpListener(const HttpLimits& limits, std::optional<QSslConfiguration> tls,
                           Log log, QObject* parent)
    : QTcpServer(parent), limits_(limits), tls_(std::move(tls)), log_(std::move(log))
{
    // Only the watches use the system's http-parser; the server has its own copy inside.
    http_parser_set_max_header_size(std::uint32_t(limits_.headerBytes));
}

void HttpListener::incomingConnection(qintptr descriptor)
{
    if (connections() >= limits_.maxClients) {
        refuse(descriptor);
        return;
    }
    QTcpSocket* socket = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Counted by weak pointers: the WebSocket that takes a connection over cuts its signals.
    live_.emplace_back(socket);
    // The kernel's part of what a slow reader leaves waiting is bounded too.
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(limits_.eventsBacklog));
    new ConnectionWatch(*socket, limits_, log_);
    if (!tls_) {
        handOver(socket);
        return;
    }
    auto* secure = static_cast<QSslSocket*>(socket);
    secure->setSslConfiguration(*tls_);
    // Until the handshake is done the connection is ours to close; its watch bounds the time.
    auto handshake = connect(secure, &QTcpSocket::disconnected, secure, &QObject::deleteLater);
    connect(secure, &QSslSocket::encrypted, this, [this, secure, handshake] {
        disconnect(handshake);
        handOver(secure);
    });
    connect(secure, &QSslSocket::sslErrors, secure, [secure] { secure->abort(); });
    secure->startServerEncryption();
}

int HttpListener::connections()
{
    live_.erase(std::remove_if(live_.begin(), live_.end(),
                               [](const QPointer<QTcpSocket>& socket) { return socket.isNull(); }),
                live_.end());
    return int(live_.size());
}

const QTcpSocket* HttpListener::connectionFrom(const QHostAddress& address, quint16 port) const
{
    for (const QPointer<QTcpSocket>& socket : live_) {
        if (socket && socket->peerPort() == port && socket->peerAddress() == address)
            return socket;
    }
    return nullptr;
}

void HttpListener::handOver(QTcpSocket* socket)
{
    addPendingConnection(socket);
    // Qt 6.4's HTTP server may be listening to either signal.
    emit newConnection();
}

void HttpListener::refuse(qintptr descriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor) || refusing_ >= limits_.maxClients || tls_) {
        // Under HTTPS a 503 would first cost a handshake; a flood of refusals is cut short.
        if (log_ && socket->state() == QAbstractSocket::ConnectedState)
            log_(QStringLiteral("refused a connection from %1: %2 clients already")
                     .arg(peerAddressText(socket->peerAddress()))
                     .arg(live_.size()));
        socket->abort();
        delete socket;
        return;
    }
    ++refusing_;
    connect(socket, &QObject::destroyed, this, [this] { --refusing_; });
    if (log_)
        log_(QStringLiteral("refused a connection from %1: %2 clients already (503)")
                 .arg(peerAddressText(socket->peerAddress()))
                 .arg(live_.size()));
    HttpReply reply = HttpReply::problem(
        503, QStringLiteral("matrixd serves %1 clients at once; try again shortly")
                 .arg(limits_.maxClients));
    reply.closeAfter = true;
    reply.with("Retry-After", "5");
    socket->write(reply.serialized());
    socket->disconnectFromHost();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kRefusalGrace, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}
