#pragma once

#include "config/switcherconfig.h"
#include "httplimits.h"
#include "switcherstate.h"

#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>

class QTcpSocket;
class QWebSocket;

// The WebSocket clients of GET /api/v1/events: each gets the whole state at once and again
// after every change, the answering flag included. A client that stops reading is closed once
// what waits for it passes the bound, so it never holds memory; one that no longer answers
// pings (a phone gone to sleep, a network gone) is closed so it does not hold a place.
class EventsHub : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;
    // The TCP connection a WebSocket runs on: Qt keeps it out of the WebSocket's reach.
    using ConnectionOf = std::function<const QTcpSocket*(const QWebSocket&)>;

    EventsHub(const SwitcherConfig& config, const SwitcherState& state, const HttpLimits& limits,
              ConnectionOf connectionOf, Log log, QObject* parent = nullptr);
    ~EventsHub() override;

    // A client already let in.
    void add(std::unique_ptr<QWebSocket> client);
    int clients() const { return int(clients_.size()); }
    void closeAll();

private:
    void sendToAll();
    void pingAll();
    void send(QWebSocket& client, const QString& text);

    const SwitcherConfig& config_;
    const SwitcherState& state_;
    HttpLimits limits_;
    ConnectionOf connectionOf_;
    Log log_;
    std::vector<QWebSocket*> clients_;
    QSet<QWebSocket*> unanswered_; // pinged, no pong yet
    QTimer pings_;
};
