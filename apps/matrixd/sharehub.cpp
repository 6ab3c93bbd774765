#include "sharehub.h"

#include "announcement.h"

using Clock = std::chrono::steady_clock;

ShareHub::ShareHub(SwitcherService& service, QObject* parent)
    : QObject(parent), service_(service)
{
    SwitcherLine& line = service_.line();
    connect(&line, &SwitcherLine::bytesArrived, this, &ShareHub::onAnswerBytes);
    connect(&service_, &SwitcherService::replyDecoded, this,
            [this](Origin origin, const ReplyEffects& effects) {
                // The asking client read the same bytes and knows what they say.
                if (isShare(origin) && client(origin).answersOfGone == 0)
                    client(origin).known.apply(effects);
            });
    connect(&line, &SwitcherLine::commandFinished, this, [this](Origin origin, bool) {
        if (!isShare(origin))
            return;
        Client& share = client(origin);
        // A share's commands finish in the order they came.
        if (share.answersOfGone > 0)
            --share.answersOfGone;
        if (service_.line().pendingFrom(origin) == 0 && share.refusedForRoom > 0) {
            if (share.refusedForRoom > 1)
                emit logLine(QStringLiteral("%1: %2 more frames refused: %3")
                                 .arg(share.port->linkPath())
                                 .arg(share.refusedForRoom - 1)
                                 .arg(SwitcherLine::kTooManyWaiting));
            share.refusedForRoom = 0;
        }
        announce(origin);
    });
    connect(&service_.state(), &SwitcherState::changed, this, &ShareHub::announceToAll);
}

ShareHub::~ShareHub()
{
    close();
}

bool ShareHub::open(QString& error)
{
    const SwitcherConfig& config = service_.config();
    for (qsizetype i = 0; i < config.shares.size(); ++i) {
        auto share = std::make_unique<Client>();
        share->port = std::make_unique<VirtualPort>(config.shares.at(i));
        QString why;
        if (!share->port->open(config.shareGroup, why)) {
            const int line = i < config.shareLines.size() ? config.shareLines.at(i) : 0;
            error = config.file.isEmpty() || line == 0
                        ? why
                        : QStringLiteral("%1:%2: %3").arg(config.file).arg(line).arg(why);
            clients_.clear();
            return false;
        }
        const Origin origin = Origin(clients_.size());
        VirtualPort& port = *share->port;
        share->announceLater.setSingleShot(true);
        connect(&share->announceLater, &QTimer::timeout, this, [this, origin] { announce(origin); });
        connect(&port, &VirtualPort::frameReceived, this,
                [this, origin](const QByteArray& frame) { onFrame(origin, frame); });
        connect(&port, &VirtualPort::clientOpened, this, [this, origin] {
            // A client that opens asks for what it wants to know; nothing unasked lands in
            // the answer it waits for.
            Client& c = client(origin);
            c.known = service_.state().facts();
            emit logLine(QStringLiteral("%1: client opened").arg(c.port->linkPath()));
        });
        connect(&port, &VirtualPort::clientClosed, this, [this, origin] {
            Client& c = client(origin);
            c.answersOfGone = service_.line().pendingFrom(origin);
            emit logLine(QStringLiteral("%1: client closed").arg(c.port->linkPath()));
        });
        connect(&port, &VirtualPort::skipped, this, [this, origin](const QByteArray& bytes) {
            emit traffic(QStringLiteral("?? %1  from %2, no frame, skipped")
                             .arg(QString::fromLatin1(bytes.toHex(' ')),
                                  client(origin).port->linkPath()));
        });
        emit logLine(QStringLiteral("share %1 -> %2").arg(port.linkPath(), port.devicePath()));
        clients_.push_back(std::move(share));
    }
    return true;
}

void ShareHub::close()
{
    for (auto& share : clients_)
        share->port->close();
}

void ShareHub::onFrame(Origin origin, const QByteArray& frame)
{
    service_.submitFrame(frame, origin, [this, origin, frame](const SwitcherCommands::Outcome& outcome) {
        if (outcome.confirmed)
            return;
        if (outcome.problem == SwitcherLine::kTooManyWaiting && client(origin).refusedForRoom++ > 0)
            return;
        emit logLine(QStringLiteral("%1: %2 failed: %3")
                         .arg(client(origin).port->linkPath(), describeFrame(frame), outcome.problem));
    });
}

void ShareHub::onAnswerBytes(Origin origin, const QByteArray& bytes)
{
    if (!isShare(origin))
        return;
    Client& share = client(origin);
    // An answer to a client that has gone is nobody's: the next client must not read it.
    if (!share.port->hasClient() || share.answersOfGone > 0)
        return;
    share.port->write(bytes);
    share.quietUntil = Clock::now() + kAnnouncementGap;
}

void ShareHub::announceToAll()
{
    for (Origin origin = 0; origin < Origin(clients_.size()); ++origin)
        announce(origin);
}

void ShareHub::announce(Origin origin)
{
    Client& share = client(origin);
    if (!share.port->hasClient()) {
        share.known = service_.state().facts();
        return;
    }
    // A client waiting for its own answer would take an announcement for it.
    if (service_.line().pendingFrom(origin) > 0)
        return;
    const auto now = Clock::now();
    if (now < share.quietUntil) {
        if (!share.announceLater.isActive())
            share.announceLater.start(
                std::chrono::ceil<std::chrono::milliseconds>(share.quietUntil - now));
        return;
    }
    const QByteArray text = nextAnnouncement(share.known, service_.state().facts());
    if (text.isEmpty())
        return;
    share.port->write(text);
    share.known.apply(decodeReply(QString::fromLatin1(text)));
    share.quietUntil = now + kAnnouncementGap;
    if (!nextAnnouncement(share.known, service_.state().facts()).isEmpty())
        share.announceLater.start(kAnnouncementGap);
}
