#pragma once

#include "config/switcherconfig.h"
#include "httplimits.h"
#include "httpreply.h"
#include "sessionauth.h"
#include "switchercommands.h"
#include "switcherstate.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QPointer>

#include <functional>
#include <memory>

class QTcpSocket;

// The routes of the web surface on Qt's HTTP server: the page's files, /healthz, the OpenAPI
// document and the API under /api/v1/. Commands answer once the switcher has confirmed them,
// so their replies are written later, to a connection that may have gone meanwhile.
class ApiServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;

    ApiServer(const SwitcherConfig& config, SwitcherState& state, SwitcherCommands& commands,
              SessionAuth& auth, Log log, QObject* parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Page {
        QByteArray contentType;
        QByteArray body;
    };
    using Reply = std::function<void(const HttpReply&)>;

    void route(const QHttpServerRequest& request, const QStringList& path, const Reply& reply);
    void command(const QHttpServerRequest& request, const QStringList& path, const Reply& reply);
    std::optional<HttpReply> refusal(const QHttpServerRequest& request, bool changes);
    std::optional<HttpReply> hostRefusal(const QByteArray& host) const;
    // Why a WebSocket upgrade may not go on, if it may not.
    std::optional<HttpReply> upgradeRefusal(const QHttpServerRequest& request);
    HttpReply logIn(const QHttpServerRequest& request);
    HttpReply stateReply() const;
    void run(const QString& origin, const QString& what,
             const std::function<void(SwitcherCommands::Done)>& send, const Reply& reply);
    QString ownOrigin(const QByteArray& host) const;
    void log(const QString& text) const;

    const SwitcherConfig& config_;
    SwitcherState& state_;
    SwitcherCommands& commands_;
    SessionAuth& auth_;
    Log log_;
    QHash<QString, Page> pages_;
    mutable QByteArray stateJson_;
};
