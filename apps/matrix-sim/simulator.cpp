#include "simulator.h"

#include "controlcommand.h"
#include "serial/portnames.h"
#include "switcher/names.h"
#include "switcher/traffictext.h"
#include "switcher/wire.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

// Lets the panel's settle wait take the last answer before the line goes dead.
constexpr std::chrono::milliseconds kHangupGrace{100};
// How long to wait for room when the line's buffer is full.
constexpr std::chrono::milliseconds kFullLineRetry{10};
// How long to leave a line that reports an error before reading it again.
constexpr std::chrono::milliseconds kReadRetry{200};

} // namespace

Simulator::Simulator(const SimOptions& options, Log log, QObject* parent)
    : QObject(parent), options_(options), log_(std::move(log)),
      model_(options.routes, options.edidMode)
{
    sendTimer_.setSingleShot(true);
    sendTimer_.setTimerType(Qt::PreciseTimer);
    connect(&sendTimer_, &QTimer::timeout, this, &Simulator::sendDue);
    hangupTimer_.setSingleShot(true);
    hangupTimer_.setInterval(kHangupGrace);
    connect(&hangupTimer_, &QTimer::timeout, this, &Simulator::hangUp);
    retryRead_.setSingleShot(true);
    retryRead_.setInterval(kReadRetry);
    connect(&retryRead_, &QTimer::timeout, this, [this] {
        if (readable_)
            readable_->setEnabled(true);
    });
    powerOff_.setSingleShot(true);
    // A coarse timer may end the period up to 5% early.
    powerOff_.setTimerType(Qt::PreciseTimer);
    connect(&powerOff_, &QTimer::timeout, this, [this] { log_(QStringLiteral("-- power on")); });
}

bool Simulator::start(QString& error)
{
    const QDir dir(options_.dir.isEmpty() ? QDir::currentPath() : options_.dir);
    link_ = dir.absoluteFilePath(portLabel(options_.port));
    return plugIn(error);
}

bool Simulator::plugIn(QString& error)
{
    if (!pty_.openLinkedAt(link_, error))
        return false;
    if (staleSlave_ >= 0)
        ::close(std::exchange(staleSlave_, -1));
    // The pseudo-terminal keeps its own hold on the slave side, so the master never sees a
    // hang-up while no panel has the port open, and the next open is served.
    readable_ = std::make_unique<QSocketNotifier>(pty_.masterFd(), QSocketNotifier::Read);
    connect(readable_.get(), &QSocketNotifier::activated, this, &Simulator::readLine);

    openWatch_ = std::make_unique<ClientOpenWatch>(pty_);
    connect(openWatch_.get(), &ClientOpenWatch::opened, this,
            [this] { log_(QStringLiteral("-- line opened")); });
    connect(openWatch_.get(), &ClientOpenWatch::closed, this,
            [this] { log_(QStringLiteral("-- line closed")); });
    return true;
}

Simulator::~Simulator()
{
    stop();
}

void Simulator::control(const QString& line)
{
    const auto command = parseControlLine(line);
    if (!command) {
        if (!line.trimmed().isEmpty())
            log_(QStringLiteral("!! unknown control %1").arg(escapedText(line.toLocal8Bit())));
        return;
    }
    const QString linkName = QFileInfo(link_).fileName();
    switch (command->kind) {
    case ControlCommand::Kind::Front:
        frontPanel(
            QStringLiteral("%1 <- %2").arg(outputLetter(command->output)).arg(command->value),
            model_.frontPanelRoute(command->output, command->value), command->silent);
        break;
    case ControlCommand::Kind::Edid:
        frontPanel(QStringLiteral("EDID mode %1").arg(command->value),
                   model_.frontPanelEdid(command->value), command->silent);
        break;
    case ControlCommand::Kind::Power:
        log_(QStringLiteral("-- power off for %1 ms").arg(command->offFor.count()));
        // What was on its way out, and half a frame read in, die with the power.
        queue_.clear();
        sendTimer_.stop();
        model_.dropPartialFrame();
        powerOff_.start(command->offFor);
        break;
    case ControlCommand::Kind::Unplug:
        if (!pty_.isOpen()) {
            log_(QStringLiteral("!! unplug: already unplugged"));
            break;
        }
        unplug();
        log_(QStringLiteral("-- unplugged: line hung up, %1 removed").arg(linkName));
        break;
    case ControlCommand::Kind::Replug: {
        if (pty_.isOpen()) {
            log_(QStringLiteral("!! replug: still plugged in"));
            break;
        }
        QString error;
        if (plugIn(error))
            log_(QStringLiteral("-- replugged: %1 -> %2").arg(linkName, pty_.slavePath()));
        else
            log_(QStringLiteral("!! replug failed: %1").arg(error));
        break;
    }
    }
}

void Simulator::frontPanel(const QString& change, const QByteArray& announcement, bool silent)
{
    QString how = QStringLiteral("announced");
    if (silent)
        how = QStringLiteral("silent");
    else if (!pty_.isOpen())
        how = QStringLiteral("not announced: unplugged");
    else if (powerOff_.isActive())
        how = QStringLiteral("not announced: powered off");
    else if (options_.faults.silent)
        how = QStringLiteral("not announced: --silent");
    log_(QStringLiteral("-- front panel: %1 (%2)").arg(change, how));
    if (how != u"announced")
        return;
    // The other faults disturb it like any reply; the answer delay is no part of it.
    Faults faults = options_.faults;
    faults.delay = {};
    enqueue(shapeReply(announcement, faults), Clock::now());
    sendDue();
}

void Simulator::enqueue(const QList<ReplyChunk>& chunks, Clock::time_point notBefore)
{
    for (qsizetype i = 0; i < chunks.size(); ++i)
        queue_.push_back({chunks.at(i), notBefore, i == 0 ? replyLine(chunks) : QString()});
}

void Simulator::readLine()
{
    int failure = 0;
    const QByteArray bytes = pty_.readAvailable(&failure);
    if (failure != 0) {
        // Should not happen while the slave is held; rest instead of spinning on it.
        log_(QStringLiteral("!! line read failed: %1").arg(qt_error_string(failure)));
        readable_->setEnabled(false);
        retryRead_.start();
    }
    if (bytes.isEmpty())
        return;
    if (powerOff_.isActive()) {
        log_(QStringLiteral("-- powered off, dropped: %1").arg(hexBytes(bytes)));
        return;
    }

    const auto exchanges = model_.receive(bytes);
    if (const QByteArray skipped = model_.takeSkipped(); !skipped.isEmpty())
        log_(skippedLine(skipped));
    const auto receivedAt = Clock::now();
    for (const auto& exchange : exchanges) {
        log_(frameLine(exchange.frame, exchange.meaning));
        const auto chunks = shapeReply(exchange.reply, options_.faults);
        if (chunks.isEmpty())
            log_(QStringLiteral("-- no answer (silent)"));
        enqueue(chunks, receivedAt);
        if (options_.hangupAfter && ++framesAnswered_ >= *options_.hangupAfter) {
            hangingUp_ = true;
            readable_->setEnabled(false);
            break; // frames after the last one are never answered
        }
    }
    sendDue();
}

void Simulator::sendDue()
{
    while (!queue_.empty()) {
        Pending& head = queue_.front();
        const auto due = std::max(head.notBefore, lastWriteEnd_) + head.chunk.gapBefore;
        const auto now = Clock::now();
        if (due > now) {
            sendTimer_.start(std::chrono::ceil<std::chrono::milliseconds>(due - now));
            return;
        }
        if (!head.logLine.isEmpty())
            log_(std::exchange(head.logLine, {}));
        const qsizetype written = writePaced(head.chunk.bytes);
        lastWriteEnd_ = Clock::now();
        if (written < 0) {
            log_(QStringLiteral("!! line write failed: %1").arg(qt_error_string(errno)));
        } else if (written < head.chunk.bytes.size()) {
            // Nobody drains the line: try the rest later rather than block the event loop.
            head.chunk.bytes.remove(0, written);
            head.chunk.gapBefore = {};
            head.notBefore = lastWriteEnd_ + kFullLineRetry;
            sendTimer_.start(kFullLineRetry);
            return;
        }
        queue_.pop_front();
        if (!queue_.empty()) {
            // Let frames that came in meanwhile be read before the next answer goes out.
            sendTimer_.start(0);
            return;
        }
    }
    if (hangingUp_)
        hangupTimer_.start();
}

qsizetype Simulator::writePaced(const QByteArray& bytes)
{
    return pty_.writePaced(bytes, options_.pacing ? wire::kByteTime : std::chrono::microseconds{0},
                           PseudoTerminal::WhenFull::Stop);
}

void Simulator::hangUp()
{
    if (!pty_.isOpen())
        return;
    log_(QStringLiteral("-- hanging up after %1 frames").arg(framesAnswered_));
    stop();
    emit hungUp();
}

void Simulator::unplug()
{
    readable_.reset();
    openWatch_.reset();
    sendTimer_.stop();
    retryRead_.stop();
    hangupTimer_.stop();
    queue_.clear();
    model_.dropPartialFrame();
    if (pty_.slaveFd() >= 0 && staleSlave_ < 0)
        staleSlave_ = ::fcntl(pty_.slaveFd(), F_DUPFD_CLOEXEC, 0);
    pty_.unlink();
    pty_.closeMaster();
    pty_.closeSlave();
}

void Simulator::stop()
{
    unplug();
    if (staleSlave_ >= 0)
        ::close(std::exchange(staleSlave_, -1));
}
