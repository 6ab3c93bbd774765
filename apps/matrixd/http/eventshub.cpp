#include "eventshub.h"

#include "apijson.h"
#include "peeraddress.h"

#include <QJsonDocument>
#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>

namespace {

QString eventText(const SwitcherConfig& config, const SwitcherState& state)
{
    return QString::fromUtf8(
        QJsonDocument(apijson::stateEvent(config, state)).toJson(QJsonDocument::Compact));
}

} // namespace

EventsHub::EventsHub(const SwitcherConfig& config, const SwitcherState& state,
                     const HttpLimits& limits, ConnectionOf connectionOf, Log log, QObject* parent)
    : QObject(parent), config_(config), state_(state), limits_(limits),
      connectionOf_(std::move(connectionOf)), log_(std::move(log))
{
    connect(&state_, &SwitcherState::changed, this, &EventsHub::sendToAll);
    connect(&state_, &SwitcherState::answeringChanged, this, &EventsHub::sendToAll);
    connect(&pings_, &QTimer::timeout, this, &EventsHub::pingAll);
    pings_.start(limits_.eventsPing);
}

EventsHub::~EventsHub()
{
    closeAll();
}

void EventsHub::add(std::unique_ptr<QWebSocket> owned)
{
    QWebSocket* client = owned.release();
    client->setParent(this);
    client->setMaxAllowedIncomingFrameSize(quint64(limits_.eventsIncoming));
    client->setMaxAllowedIncomingMessageSize(quint64(limits_.eventsIncoming));
    clients_.push_back(client);
    connect(client, &QWebSocket::disconnected, this, [this, client] {
        clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
        unanswered_.remove(client);
        client->deleteLater();
    });
    connect(client, &QWebSocket::pong, this, [this, client] { unanswered_.remove(client); });
    send(*client, eventText(config_, state_));
}

void EventsHub::closeAll()
{
    for (QWebSocket* client : std::exchange(clients_, {})) {
        client->disconnect(this);
        client->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("matrixd stops"));
        client->deleteLater();
    }
}

void EventsHub::pingAll()
{
    const std::vector<QWebSocket*> clients = clients_;
    for (QWebSocket* client : clients) {
        if (unanswered_.contains(client)) {
            if (log_)
                log_(QStringLiteral("closed the events of %1: no answer to a ping in %2 s")
                         .arg(peerAddressText(client->peerAddress()))
                         .arg(limits_.eventsPing.count() / 1000));
            client->abort();
            continue;
        }
        unanswered_.insert(client);
        client->ping();
    }
}

void EventsHub::sendToAll()
{
    if (clients_.empty())
        return;
    const QString text = eventText(config_, state_);
    // A copy: a client closed for its backlog leaves the list meanwhile.
    const std::vector<QWebSocket*> clients = clients_;
    for (QWebSocket* client : clients)
        send(*client, text);
}

void EventsHub::send(QWebSocket& client, const QString& text)
{
    client.sendTextMessage(text);
    // What the operating system has not taken yet waits in the connection's buffer.
    const QTcpSocket* connection = connectionOf_ ? connectionOf_(client) : nullptr;
    const qint64 waiting = connection ? connection->bytesToWrite() : 0;
    if (waiting <= limits_.eventsBacklog)
        return;
    if (log_)
        log_(QStringLiteral("closed the events of %1: it stopped reading (%2 KiB waiting)")
                 .arg(peerAddressText(client.peerAddress()))
                 .arg(waiting / 1024));
    client.abort();
}
