#include "switchboard.h"

#include "announcement.h"
#include "switcher/confirmation.h"
#include "switcher/replydecoder.h"

using Clock = std::chrono::steady_clock;

Switchboard::Switchboard(const SwitcherConfig& config, SerialControl& serial,
                         SwitcherLine::Aim aim, SwitcherLine::Diagnose diagnose,
                         SwitcherLine::Timing timing, QObject* parent)
    : QObject(parent), config_(config),
      line_(serial, std::move(aim), std::move(diagnose), timing)
{
    connect(&line_, &SwitcherLine::logLine, this, &Switchboard::logLine);
    connect(&line_, &SwitcherLine::traffic, this, &Switchboard::traffic);
    connect(&line_, &SwitcherLine::opened, this,
            [this] { emit logLine(QStringLiteral("line open: %1").arg(config_.port)); });
    connect(&line_, &SwitcherLine::closed, this, [this](const QString& why) {
        emit logLine(QStringLiteral("line closed: %1").arg(why));
    });
    connect(&line_, &SwitcherLine::answeringChanged, &state_, &SwitcherState::setAnswering);
    connect(&line_, &SwitcherLine::bytesArrived, this, [this](Origin origin, const QByteArray& bytes) {
        if (origin < 0)
            return;
        Client& client = *clients_.at(std::size_t(origin));
        client.port->write(bytes);
        client.quietUntil = Clock::now() + kAnnouncementGap;
    });
    connect(&line_, &SwitcherLine::replyText, this, &Switchboard::onReplyText);
    connect(&line_, &SwitcherLine::commandFinished, this, [this](Origin origin, bool) {
        if (origin >= 0)
            announce(origin);
    });
    connect(&state_, &SwitcherState::changed, this, &Switchboard::announceToAll);
}

Switchboard::~Switchboard()
{
    stop();
}

bool Switchboard::openShares(QString& error)
{
    for (qsizetype i = 0; i < config_.shares.size(); ++i) {
        auto client = std::make_unique<Client>();
        client->port = std::make_unique<VirtualPort>(config_.shares.at(i));
        QString why;
        if (!client->port->open(config_.shareGroup, why)) {
            const int line = i < config_.shareLines.size() ? config_.shareLines.at(i) : 0;
            error = config_.file.isEmpty() || line == 0
                        ? why
                        : QStringLiteral("%1:%2: %3").arg(config_.file).arg(line).arg(why);
            clients_.clear();
            return false;
        }
        const int index = int(clients_.size());
        VirtualPort& port = *client->port;
        client->announceLater.setSingleShot(true);
        connect(&client->announceLater, &QTimer::timeout, this, [this, index] { announce(index); });
        connect(&port, &VirtualPort::frameReceived, this,
                [this, index](const QByteArray& frame) { onFrame(index, frame); });
        connect(&port, &VirtualPort::clientOpened, this, [this, index] {
            // A client that opens asks for what it wants to know; nothing unasked lands in
            // the answer it waits for.
            Client& c = *clients_.at(std::size_t(index));
            c.known = state_.facts();
            emit logLine(QStringLiteral("%1: client opened").arg(c.port->linkPath()));
        });
        connect(&port, &VirtualPort::clientClosed, this, [this, index] {
            emit logLine(QStringLiteral("%1: client closed")
                             .arg(clients_.at(std::size_t(index))->port->linkPath()));
        });
        connect(&port, &VirtualPort::skipped, this, [this, index](const QByteArray& bytes) {
            emit traffic(QStringLiteral("?? %1  from %2, no frame, skipped")
                             .arg(QString::fromLatin1(bytes.toHex(' ')),
                                  clients_.at(std::size_t(index))->port->linkPath()));
        });
        emit logLine(QStringLiteral("share %1 -> %2").arg(port.linkPath(), port.devicePath()));
        clients_.push_back(std::move(client));
    }
    return true;
}

void Switchboard::start()
{
    line_.start();
}

void Switchboard::stop()
{
    line_.stop();
    for (auto& client : clients_)
        client->port->close();
}

void Switchboard::onFrame(int index, const QByteArray& frame)
{
    const QString from = clients_.at(std::size_t(index))->port->linkPath();
    line_.submit(frame, index, [this, from, frame](const Outcome& outcome) {
        if (!outcome.confirmed)
            emit logLine(QStringLiteral("%1: %2 failed: %3")
                             .arg(from, describeFrame(frame), outcome.problem));
    });
}

void Switchboard::onReplyText(Origin origin, const QString& text)
{
    const ReplyEffects effects = decodeReply(text);
    // The asking client read the same bytes and knows what they say.
    if (origin >= 0)
        clients_.at(std::size_t(origin))->known.apply(effects);
    state_.apply(effects);
}

void Switchboard::announceToAll()
{
    for (int index = 0; index < int(clients_.size()); ++index)
        announce(index);
}

void Switchboard::announce(int index)
{
    Client& client = *clients_.at(std::size_t(index));
    if (!client.port->hasClient()) {
        client.known = state_.facts();
        return;
    }
    // A client waiting for its own answer would take an announcement for it.
    if (line_.pendingFrom(index) > 0)
        return;
    const auto now = Clock::now();
    if (now < client.quietUntil) {
        if (!client.announceLater.isActive())
            client.announceLater.start(
                std::chrono::ceil<std::chrono::milliseconds>(client.quietUntil - now));
        return;
    }
    const QByteArray text = nextAnnouncement(client.known, state_.facts());
    if (text.isEmpty())
        return;
    client.port->write(text);
    client.known.apply(decodeReply(QString::fromLatin1(text)));
    client.quietUntil = now + kAnnouncementGap;
    if (!nextAnnouncement(client.known, state_.facts()).isEmpty())
        client.announceLater.start(kAnnouncementGap);
}

void Switchboard::route(int output, int input, Done done)
{
    line_.submit(buttonCommandFrame(inputButtonIndex(output, input)), kServiceOrigin,
                 std::move(done));
}

void Switchboard::selectEdidMode(int mode, Done done)
{
    line_.submit(edidModeFrame(mode), kServiceOrigin, std::move(done));
}

void Switchboard::refresh(Done done)
{
    line_.submit(statusQueryFrame(), kServiceOrigin, std::move(done));
}

void Switchboard::applyPreset(const QString& name, Done done)
{
    const Preset* preset = config_.presetNamed(name);
    if (!preset) {
        done({false, QStringLiteral("no preset \"%1\"").arg(name)});
        return;
    }
    runPresetStep(*preset, 1, std::move(done));
}

void Switchboard::runPresetStep(const Preset& preset, int output, Done done)
{
    while (output <= kOutputCount && !preset.inputOfOutput.at(std::size_t(output - 1)))
        ++output;
    if (output > kOutputCount) {
        emit logLine(QStringLiteral("preset \"%1\" applied").arg(preset.name));
        done({true, {}});
        return;
    }
    const int input = *preset.inputOfOutput.at(std::size_t(output - 1));
    route(output, input, [this, &preset, output, input, done](const Outcome& outcome) {
        if (!outcome.confirmed) {
            done({false, QStringLiteral("preset \"%1\" stopped at %2 <- %3: %4")
                             .arg(preset.name, outputLetter(output))
                             .arg(input)
                             .arg(outcome.problem)});
            return;
        }
        runPresetStep(preset, output + 1, done);
    });
}
