#include "videohubserver.h"

#include "videohubconnection.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

VideohubServer::VideohubServer(const SwitcherConfig& config, SwitcherState& state,
                               SwitcherCommands& commands, Log log, QObject* parent)
    : QObject(parent), config_(config), blocks_(config), state_(state), commands_(commands),
      log_(std::move(log))
{
    connect(&server_, &QTcpServer::newConnection, this, &VideohubServer::onNewConnection);
    connect(&state_, &SwitcherState::changed, this, &VideohubServer::onChanged);
    connect(&state_, &SwitcherState::answeringChanged, this, &VideohubServer::onAnsweringChanged);
    owedRouting_.setSingleShot(true);
    owedRouting_.setInterval(0);
    connect(&owedRouting_, &QTimer::timeout, this, [this] {
        if (std::exchange(routingOwed_, false))
            sendRouting({});
    });
}

VideohubServer::~VideohubServer()
{
    stop();
}

bool VideohubServer::listen(QString& error)
{
    const VideohubSettings& settings = *config_.videohub;
    if (server_.listen(settings.listen.hostAddress(), quint16(settings.listen.port))) {
        log(QStringLiteral("listening on %1").arg(settings.listen.text()));
        return true;
    }
    const int line = settings.listenLine > 0 ? settings.listenLine : settings.sectionLine;
    const QString where = config_.file.isEmpty() || line == 0
                              ? QString()
                              : QStringLiteral("%1:%2: ").arg(config_.file).arg(line);
    error = QStringLiteral("%1[videohub] cannot listen on %2: %3")
                .arg(where, settings.listen.text(), server_.errorString());
    return false;
}

void VideohubServer::stop()
{
    server_.close();
    for (VideohubConnection* connection : QList(connections_))
        connection->close();
}

void VideohubServer::onNewConnection()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const QString peer = VideohubConnection::peerOf(*socket);
        QString refusal;
        if (!allows(socket->peerAddress()))
            refusal = QStringLiteral("not in allow");
        else if (connections_.size() >= config_.videohub->maxClients)
            refusal = QStringLiteral("%1 clients already (max_clients)")
                          .arg(config_.videohub->maxClients);
        if (!refusal.isEmpty()) {
            log(QStringLiteral("%1: refused: %2").arg(peer, refusal));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* connection = new VideohubConnection(socket, blocks_, state_, commands_, log_, this);
        connections_.append(connection);
        connect(connection, &VideohubConnection::finished, this, [this, connection] {
            connections_.removeOne(connection);
            connection->deleteLater();
        });
        connection->start();
    }
}

void VideohubServer::onChanged(const SwitcherFacts& before)
{
    if (std::exchange(routingOwed_, false))
        return sendRouting({});
    QList<int> outputs;
    for (int output = 1; output <= kOutputCount; ++output) {
        if (state_.input(output) != before.input(output))
            outputs << output;
    }
    // An EDID mode alone is nothing the protocol shows.
    if (!outputs.isEmpty())
        sendRouting(outputs);
}

void VideohubServer::onAnsweringChanged(bool answering)
{
    broadcast(blocks_.device(answering).encoded());
    routingOwed_ = answering;
    // The reply that brought the switcher back is applied before this runs; a routing that
    // reply did not change is owed all the same.
    if (answering)
        owedRouting_.start();
}

void VideohubServer::sendRouting(const QList<int>& outputs)
{
    const VideohubBlock block = StatusBlocks::routing(state_.facts(), outputs);
    if (!block.items.isEmpty())
        broadcast(block.encoded());
}

void VideohubServer::broadcast(const QByteArray& bytes)
{
    // A client that does not read is closed while this runs, and leaves the list.
    for (VideohubConnection* connection : QList(connections_))
        connection->send(bytes);
}

bool VideohubServer::allows(const QHostAddress& peer) const
{
    const QList<AllowedNetwork>& allow = config_.videohub->allow;
    if (allow.isEmpty())
        return true;
    bool isIpv4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&isIpv4);
    const QHostAddress address = isIpv4 ? QHostAddress(ipv4) : peer;
    return std::any_of(allow.begin(), allow.end(), [&address](const AllowedNetwork& network) {
        return address.isInSubnet(QHostAddress(network.address), network.bits);
    });
}

void VideohubServer::log(const QString& text) const
{
    if (log_)
        log_(QStringLiteral("videohub: ") + text);
}
