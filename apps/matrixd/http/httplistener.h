#pragma once

#include "httplimits.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QTcpServer>

#include <functional>
#include <vector>
#include <optional>

// The listening socket of the web surface. It counts the connections (WebSockets too) and
// answers 503 to one over the bound before any HTTP is read; it does the TLS handshake under
// HTTPS; and it gives each connection its watch before the HTTP server sees it.
class HttpListener : public QTcpServer {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;

    HttpListener(const HttpLimits& limits, std::optional<QSslConfiguration> tls, Log log,
                 QObject* parent = nullptr);

    int connections();
    // The live connection from this address and port, if any.
    const QTcpSocket* connectionFrom(const QHostAddress& address, quint16 port) const;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void refuse(qintptr descriptor);
    void handOver(QTcpSocket* socket);

    HttpLimits limits_;
    std::optional<QSslConfiguration> tls_;
    Log log_;
    std::vector<QPointer<QTcpSocket>> live_;
    int refusing_ = 0;
};
