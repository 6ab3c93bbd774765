#pragma once

#include "httplimits.h"

#include <QObject>
#include <QTimer>

#include <http_parser.h>

#include <functional>

class QTcpSocket;

// The limits of one HTTP connection, kept in front of Qt's HTTP server, which in Debian 12
// (6.4) has none: it sees every byte first (it is connected to readyRead before the server is),
// follows the requests with the system's http-parser library, and answers 431 for headers over
// the bound and 413 for a body over it before the server reads them; it closes a connection
// whose request does not arrive whole in time, or that stays idle too long between requests.
// Once a request upgrades to a WebSocket it steps aside.
class ConnectionWatch : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;

    // Becomes the socket's child; must be made before anyone else reads the socket.
    ConnectionWatch(QTcpSocket& socket, const HttpLimits& limits, Log log);
    ~ConnectionWatch() override;

    static ConnectionWatch* of(const QObject* socket);

    // The answer to one request has been written: the connection may idle now.
    void answered();
    bool isWebSocket() const { return webSocket_; }

private:
    static int onMessageBegin(http_parser* parser);
    static int onHeadersComplete(http_parser* parser);
    static int onBody(http_parser* parser, const char* at, size_t length);
    static int onMessageComplete(http_parser* parser);

    void onReadyRead();
    void refuse(int status, const QString& why);
    void closeSlow(const QString& why);
    void becomeIdleIfDone();

    QTcpSocket& socket_;
    HttpLimits limits_;
    Log log_;
    http_parser parser_{};
    http_parser_settings settings_{};
    qint64 bodyBytes_ = 0;
    int unanswered_ = 0;
    bool inRequest_ = false;
    bool webSocket_ = false;
    bool refused_ = false;
    QTimer requestTimer_;
    QTimer idleTimer_;
};
