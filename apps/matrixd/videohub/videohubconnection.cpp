#include "videohubconnection.h"

#include "switcher/names.h"
#include "videohubprotocol.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>

using namespace std::chrono_literals;

namespace {

// Taken from the socket at a time. What matrixd answers to this much (at most 13 times as
// much) fits in the kernel and kMostUnsent, so a client that reads is never taken for one
// that does not.
constexpr qint64 kReadChunk = qint64{4} * 1024;

QString describeRoutes(const QList<VideohubRequest::Route>& routes)
{
    QStringList texts;
    for (const auto& route : routes)
        texts << QStringLiteral("%1 <- %2").arg(outputLetter(route.output)).arg(route.input);
    return texts.join(QStringLiteral(", "));
}

QString readOnlyReason(const QString& header)
{
    if (header == videohub::kInputLabels || header == videohub::kOutputLabels)
        return QStringLiteral("the names come from the configuration file");
    if (header == videohub::kOutputLocks)
        return QStringLiteral("outputs have no locks");
    return QStringLiteral("it is fixed");
}

} // namespace

VideohubConnection::VideohubConnection(QTcpSocket* socket, const StatusBlocks& blocks,
                                       SwitcherState& state, SwitcherCommands& commands, Log log,
                                       QObject* parent)
    : QObject(parent), socket_(socket), blocks_(blocks), state_(state), commands_(commands),
      log_(std::move(log)), peer_(peerOf(*socket))
{
    socket_->setParent(this);
    // Updates are small and wanted at once; a client that does not read fills only a little
    // of the kernel before kMostUnsent shows it.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(kMostUnsent));
    socket_->setReadBufferSize(kReadChunk);
    lingerLimit_.setSingleShot(true);
    lingerLimit_.setInterval(2s);
    connect(&lingerLimit_, &QTimer::timeout, socket_, &QTcpSocket::abort);
    connect(socket_, &QTcpSocket::readyRead, this, &VideohubConnection::onReadable);
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
        if (!std::exchange(endLogged_, true))
            this->log(QStringLiteral("disconnected"));
        closing_ = true;
        lingerLimit_.stop();
        emit finished();
    });
}

QString VideohubConnection::peerOf(const QTcpSocket& socket)
{
    // A dual-stack listener sees IPv4 clients as mapped IPv6 addresses.
    const QHostAddress address = socket.peerAddress();
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QStringLiteral("%1:%2").arg(QHostAddress(ipv4).toString()).arg(socket.peerPort())
                  : QStringLiteral("[%1]:%2").arg(address.toString()).arg(socket.peerPort());
}

void VideohubConnection::start()
{
    log(QStringLiteral("connected"));
    send(blocks_.greeting(state_.facts(), state_.isAnswering()));
}

void VideohubConnection::send(const QByteArray& bytes)
{
    if (closing_)
        return;
    // Into the kernel now, so that only what it cannot take counts as unsent.
    socket_->write(bytes);
    socket_->flush();
    if (socket_->bytesToWrite() > kMostUnsent) {
        endLogged_ = true;
        log(QStringLiteral("closed: it does not read (%1 bytes unsent)").arg(socket_->bytesToWrite()));
        close();
    }
}

void VideohubConnection::close()
{
    closing_ = true;
    socket_->abort();
}

void VideohubConnection::onReadable()
{
    while (!closing_ && socket_->bytesAvailable() > 0) {
        const BlockReader::Read read = reader_.feed(socket_->read(kReadChunk));
        for (const VideohubBlock& block : read.blocks) {
            handle(block);
            if (closing_)
                return;
        }
        if (read.fault != BlockReader::Fault::None)
            return fail(BlockReader::describe(read.fault));
    }
    // What comes after a fault is not read, only taken away.
    if (closing_)
        socket_->readAll();
}

void VideohubConnection::handle(const VideohubBlock& block)
{
    const VideohubRequest request = VideohubRequest::parse(block);
    switch (request.kind) {
    case VideohubRequest::Kind::Ping:
        send(VideohubBlock::ack().encoded());
        break;
    case VideohubRequest::Kind::StatusDump:
        send(VideohubBlock::ack().encoded());
        send(blocks_.block(request.header, state_.facts(), state_.isAnswering())->encoded());
        break;
    case VideohubRequest::Kind::Routes:
        makeRoutes(request);
        break;
    case VideohubRequest::Kind::InvalidRoutes:
        refuse(QStringLiteral("%1 %2").arg(request.header, request.problem));
        break;
    case VideohubRequest::Kind::ReadOnlyChange:
        // The client learns at once that its copy is to stay as it was.
        refuse(QStringLiteral("a change of %1 %2").arg(request.header, readOnlyReason(request.header)));
        send(blocks_.block(request.header, state_.facts(), state_.isAnswering())->encoded());
        break;
    case VideohubRequest::Kind::Unknown:
        refuse(QStringLiteral("an unknown block \"%1\"").arg(request.header.left(40)));
        break;
    }
}

void VideohubConnection::makeRoutes(const VideohubRequest& request)
{
    const QString what = describeRoutes(request.routes);
    if (!state_.isAnswering())
        return refuse(QStringLiteral("route %1: the switcher is not answering").arg(what));
    send(VideohubBlock::ack().encoded());
    log(QStringLiteral("route %1").arg(what));
    QPointer<VideohubConnection> self(this);
    for (const VideohubRequest::Route& route : request.routes) {
        commands_.route(route.output, route.input, [self, route](const SwitcherCommands::Outcome& outcome) {
            if (!self || outcome.confirmed)
                return;
            if (!outcome.replaced)
                self->log(QStringLiteral("route %1 failed: %2")
                              .arg(describeRoutes({route}), outcome.problem));
            // Its buttons show what the client asked for until told what is.
            const VideohubBlock real = StatusBlocks::routing(self->state_.facts(), {route.output});
            if (!real.items.isEmpty())
                self->send(real.encoded());
        });
    }
}

void VideohubConnection::refuse(const QString& why)
{
    send(VideohubBlock::nak().encoded());
    log(QStringLiteral("refused %1").arg(why));
}

void VideohubConnection::fail(const QString& why)
{
    send(VideohubBlock::nak().encoded());
    if (closing_)
        return;
    endLogged_ = true;
    log(QStringLiteral("closed: it sent %1").arg(why));
    closing_ = true;
    lingerLimit_.start();
    socket_->disconnectFromHost();
    socket_->readAll();
}

void VideohubConnection::log(const QString& text) const
{
    if (log_)
        log_(QStringLiteral("videohub: %1: %2").arg(peer_, text));
}
