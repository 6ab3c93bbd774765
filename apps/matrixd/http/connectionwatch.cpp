#include "connectionwatch.h"

#include "httpreply.h"
#include "peeraddress.h"

#include <QHostAddress>
#include <QSslSocket>
#include <QTcpSocket>

#include <sys/socket.h>

namespace {

ConnectionWatch* watchOf(http_parser* parser)
{
    return static_cast<ConnectionWatch*>(parser->data);
}

} // namespace

ConnectionWatch::ConnectionWatch(QTcpSocket& socket, const HttpLimits& limits, Log log)
    : QObject(&socket), socket_(socket), limits_(limits), log_(std::move(log))
{
    http_parser_init(&parser_, HTTP_REQUEST);
    parser_.data = this;
    settings_.on_message_begin = &ConnectionWatch::onMessageBegin;
    settings_.on_headers_complete = &ConnectionWatch::onHeadersComplete;
    settings_.on_body = &ConnectionWatch::onBody;
    settings_.on_message_complete = &ConnectionWatch::onMessageComplete;
    requestTimer_.setSingleShot(true);
    idleTimer_.setSingleShot(true);
    connect(&requestTimer_, &QTimer::timeout, this, [this] {
        closeSlow(QStringLiteral("no whole request within %1 s")
                      .arg(limits_.requestTime.count() / 1000));
    });
    connect(&idleTimer_, &QTimer::timeout, this, [this] { socket_.disconnectFromHost(); });
    connect(&socket_, &QTcpSocket::readyRead, this, &ConnectionWatch::onReadyRead);
    // A new connection owes its first request as any request is owed.
    requestTimer_.start(limits_.requestTime);
}

ConnectionWatch::~ConnectionWatch() = default;

ConnectionWatch* ConnectionWatch::of(const QObject* socket)
{
    return socket ? socket->findChild<ConnectionWatch*>(QString(), Qt::FindDirectChildrenOnly)
                  : nullptr;
}

void ConnectionWatch::onReadyRead()
{
    if (webSocket_ || refused_)
        return;
    // What the server is about to read; it reads all there is each time.
    const QByteArray bytes = socket_.peek(socket_.bytesAvailable());
    if (bytes.isEmpty())
        return;
    const size_t parsed = http_parser_execute(&parser_, &settings_, bytes.constData(),
                                              size_t(bytes.size()));
    if (refused_ || webSocket_)
        return;
    if (parser_.upgrade) {
        webSocket_ = true;
        requestTimer_.stop();
        idleTimer_.stop();
        return;
    }
    const auto error = HTTP_PARSER_ERRNO(&parser_);
    if (error == HPE_HEADER_OVERFLOW) {
        refuse(431, QStringLiteral("the request's headers exceed %1 KiB")
                        .arg(limits_.headerBytes / 1024));
    } else if (error != HPE_OK || parsed != size_t(bytes.size())) {
        // The server's own parser says no to the same bytes and closes; nothing to add.
        refused_ = true;
        requestTimer_.stop();
    }
}

int ConnectionWatch::onMessageBegin(http_parser* parser)
{
    ConnectionWatch& self = *watchOf(parser);
    // Requests sent before the last is answered would be answered out of order by the server.
    if (self.unanswered_ > 0) {
        self.refuse(400, QStringLiteral("a request came before the last one was answered "
                                        "(pipelining is not supported)"));
        return -1;
    }
    self.inRequest_ = true;
    self.bodyBytes_ = 0;
    self.idleTimer_.stop();
    if (!self.requestTimer_.isActive())
        self.requestTimer_.start(self.limits_.requestTime);
    return 0;
}

int ConnectionWatch::onHeadersComplete(http_parser* parser)
{
    ConnectionWatch& self = *watchOf(parser);
    // Said before any of it is sent: refused at once.
    if ((parser->flags & F_CONTENTLENGTH) != 0 &&
        parser->content_length > std::uint64_t(self.limits_.bodyBytes)) {
        self.refuse(413, QStringLiteral("the request's body exceeds %1 KiB")
                             .arg(self.limits_.bodyBytes / 1024));
        return -1;
    }
    return 0;
}

int ConnectionWatch::onBody(http_parser* parser, const char*, size_t length)
{
    ConnectionWatch& self = *watchOf(parser);
    self.bodyBytes_ += qint64(length);
    if (self.bodyBytes_ > self.limits_.bodyBytes) {
        self.refuse(413, QStringLiteral("the request's body exceeds %1 KiB")
                             .arg(self.limits_.bodyBytes / 1024));
        return -1;
    }
    return 0;
}

int ConnectionWatch::onMessageComplete(http_parser* parser)
{
    ConnectionWatch& self = *watchOf(parser);
    self.inRequest_ = false;
    self.requestTimer_.stop();
    ++self.unanswered_;
    return 0;
}

void ConnectionWatch::answered()
{
    if (unanswered_ > 0)
        --unanswered_;
    becomeIdleIfDone();
}

void ConnectionWatch::becomeIdleIfDone()
{
    if (unanswered_ == 0 && !inRequest_ && !webSocket_ && !refused_)
        idleTimer_.start(limits_.idleTime);
}

void ConnectionWatch::refuse(int status, const QString& why)
{
    if (refused_)
        return;
    refused_ = true;
    requestTimer_.stop();
    idleTimer_.stop();
    // The server must not read what is refused: it would keep it all.
    QObject::disconnect(&socket_, &QTcpSocket::readyRead, nullptr, nullptr);
    if (log_)
        log_(QStringLiteral("refused a request from %1: %2 (%3)").arg(peerAddressText(socket_.peerAddress()), why).arg(status));
    HttpReply reply = HttpReply::problem(status, why);
    reply.closeAfter = true;
    socket_.write(reply.serialized());
    // Closing with the client's unread bytes in hand would reset the connection, and the client
    // would lose the answer: once it is sent, only the sending side is shut, and what still
    // comes is thrown away until the client closes.
    connect(&socket_, &QTcpSocket::readyRead, this, [socket = &socket_] { socket->readAll(); });
    const auto shutSending = [socket = &socket_] {
        const auto* secure = qobject_cast<const QSslSocket*>(socket);
        const bool sent = socket->bytesToWrite() == 0 && (!secure || secure->encryptedBytesToWrite() == 0);
        if (sent && socket->socketDescriptor() >= 0)
            ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
    };
    connect(&socket_, &QTcpSocket::bytesWritten, this, shutSending);
    connect(&socket_, &QTcpSocket::disconnected, this, [socket = &socket_] { socket->close(); });
    socket_.flush();
    shutSending();
    // A client that reads nothing cannot keep the connection by that.
    QTimer::singleShot(limits_.requestTime, &socket_, [socket = &socket_] { socket->abort(); });
}

void ConnectionWatch::closeSlow(const QString& why)
{
    // A connection opened ahead and never used (browsers do that) is merely idle.
    if (log_ && inRequest_)
        log_(QStringLiteral("closed a connection from %1: %2").arg(peerAddressText(socket_.peerAddress()), why));
    refused_ = true;
    idleTimer_.stop();
    QObject::disconnect(&socket_, &QTcpSocket::readyRead, nullptr, nullptr);
    socket_.abort();
}
