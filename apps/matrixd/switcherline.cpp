#include "switcherline.h"

#include "switcher/wire.h"

#include "switcher/confirmation.h"
#include "serial/serialcontrol.h"
#include "switcher/replydecoder.h"
#include "switcher/replytext.h"
#include "switcher/switchermodel.h"
#include "switcher/traffictext.h"

#include <algorithm>

SwitcherLine::SwitcherLine(SerialControl& serial, Aim aim, Diagnose diagnose, Timing timing,
                           QObject* parent)
    : QObject(parent), serial_(serial), aim_(std::move(aim)), diagnose_(std::move(diagnose)),
      timing_(timing),
      intake_(serial, timing.settle, nullptr, ReplyIntake::Reading::AsTheyArrive)
{
    connect(&intake_, &ReplyIntake::bytesArrived, this, [this](const QByteArray& bytes) {
        emit bytesArrived(busy_ ? queue_.front().origin : kNobody, bytes);
    });
    connect(&intake_, &ReplyIntake::chunkTaken, this, [this](const QByteArray& chunk) {
        if (tracing_)
            emit traffic(replyLine({ReplyChunk{chunk, {}}}));
    });
    connect(&intake_, &ReplyIntake::replyText, this, &SwitcherLine::onReplyText);
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        finishCurrent(false,
                      QStringLiteral("no reply within %1 ms").arg(timing_.timeout.count()));
    });
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &SwitcherLine::tryOpen);
    if (timing_.poll.count() > 0) {
        pollTimer_.setInterval(timing_.poll);
        connect(&pollTimer_, &QTimer::timeout, this, &SwitcherLine::poll);
    }
    connect(&serial_, &SerialControl::deviceLost, this,
            [this] { lose(QStringLiteral("the device went away")); });
}

void SwitcherLine::start()
{
    stopped_ = false;
    retryDelay_ = timing_.firstRetry;
    tryOpen();
}

void SwitcherLine::stop()
{
    stopped_ = true;
    retry_.stop();
    pollTimer_.stop();
    lose({});
}

bool SwitcherLine::isOpen() const
{
    return serial_.isOpen();
}

int SwitcherLine::pendingFrom(Origin origin) const
{
    return int(std::count_if(queue_.begin(), queue_.end(),
                             [origin](const Command& c) { return c.origin == origin; }));
}

void SwitcherLine::tryOpen()
{
    if (stopped_ || serial_.isOpen())
        return;
    aim_(serial_);
    serial_.setSettings(wire::kLineSettings);
    serial_.setInputLength(0);
    serial_.setReceiveThreshold(1);
    if (!serial_.open()) {
        // One line per kind of trouble, not one per attempt.
        const QString problem = diagnose_();
        if (problem != lastOpenProblem_)
            emit logLine(QStringLiteral("cannot open the line: %1; retrying").arg(problem));
        lastOpenProblem_ = problem;
        if (tracing_)
            emit traffic(QStringLiteral("-- cannot open, next try in %1 ms").arg(retryDelay_.count()));
        retry_.start(retryDelay_);
        retryDelay_ = std::min(retryDelay_ * 2, timing_.lastRetry);
        return;
    }
    lastOpenProblem_.clear();
    retryDelay_ = timing_.firstRetry;
    missedPolls_ = 0;
    emit opened();
    if (timing_.poll.count() > 0)
        pollTimer_.start();
    // What the switcher holds now, before anyone asks.
    submit(statusQueryFrame(), kPollOrigin, {});
}

void SwitcherLine::lose(const QString& why)
{
    serial_.close();
    intake_.discard();
    deadline_.stop();
    pollTimer_.stop();
    pollDue_ = false;
    // Nothing waits for a line that is gone: every command is told now.
    const QString problem = why.isEmpty() ? QStringLiteral("the service is stopping")
                                          : QStringLiteral("line lost: %1").arg(why);
    auto pending = std::exchange(queue_, {});
    busy_ = false;
    for (Command& command : pending) {
        if (command.done)
            command.done({false, problem});
        emit commandFinished(command.origin, false);
    }
    setAnswering(false);
    if (!why.isEmpty())
        emit closed(why);
    if (!stopped_ && !why.isEmpty()) {
        retryDelay_ = timing_.firstRetry;
        retry_.start(retryDelay_);
    }
}

void SwitcherLine::submit(const CommandFrame& frame, Origin origin, SwitcherCommands::Done done)
{
    if (!serial_.isOpen()) {
        if (done)
            done({false, QStringLiteral("the line is not open")});
        emit commandFinished(origin, false);
        return;
    }
    if (origin == kServiceOrigin) {
        if (auto waiting = supersededBy(frame); waiting != queue_.end()) {
            Command replaced = std::exchange(*waiting, {frame, origin, std::move(done)});
            if (replaced.done)
                replaced.done({false, QStringLiteral("replaced by a newer request"), true});
            emit commandFinished(origin, false);
            return;
        }
    }
    if (std::size_t(pendingFrom(origin)) >= kMostQueuedPerOrigin) {
        if (done)
            done({false, kTooManyWaiting});
        emit commandFinished(origin, false);
        return;
    }
    queue_.push_back({frame, origin, std::move(done)});
    sendNext();
}

SwitcherLine::Queue::iterator SwitcherLine::supersededBy(const CommandFrame& frame)
{
    const FrameRequest wanted = recognizeFrame(frame);
    const auto sameTarget = [&wanted](const FrameRequest& other) {
        if (other.kind != wanted.kind)
            return false;
        switch (wanted.kind) {
        case FrameRequest::Kind::StatusQuery:
        case FrameRequest::Kind::EdidMode:
            return true;
        case FrameRequest::Kind::Button:
            // An arrow's effect depends on the input before it: only a route replaces a route.
            return wanted.button.role == ButtonRole::Input &&
                   other.button.role == ButtonRole::Input &&
                   other.button.output == wanted.button.output;
        case FrameRequest::Kind::Unknown:
            return false;
        }
        return false;
    };
    // The command on the line has gone out already; only waiting ones are replaced.
    const auto first = busy_ ? std::next(queue_.begin()) : queue_.begin();
    return std::find_if(first, queue_.end(), [&](const Command& command) {
        return command.origin == kServiceOrigin && sameTarget(recognizeFrame(command.frame));
    });
}

SwitcherLine::Queue::iterator SwitcherLine::nextInTurn()
{
    auto next = queue_.end();
    std::uint64_t servedAt = 0;
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        const auto served = lastServed_.find(it->origin);
        const std::uint64_t at = served == lastServed_.end() ? 0 : served->second;
        if (next == queue_.end() || at < servedAt) {
            next = it;
            servedAt = at;
        }
    }
    return next;
}

void SwitcherLine::sendNext()
{
    // The next command waits until the last reply has been read whole.
    if (busy_ || intake_.isCollecting())
        return;
    if (queue_.empty()) {
        becameIdle();
        return;
    }
    // The head is the command on the line; the one whose turn it is moves there.
    if (const auto next = nextInTurn(); next != queue_.begin()) {
        Command chosen = std::move(*next);
        queue_.erase(next);
        queue_.push_front(std::move(chosen));
    }
    const Command& head = queue_.front();
    lastServed_[head.origin] = ++turns_;
    busy_ = true;
    if (tracing_)
        emit traffic(frameLine(head.frame, describeFrame(head.frame)));
    if (!serial_.write(head.frame)) {
        finishCurrent(false, QStringLiteral("cannot write to the line"));
        return;
    }
    deadline_.start(timing_.timeout);
}

void SwitcherLine::onReplyText(const QString& text)
{
    missedPolls_ = 0;
    setAnswering(true);
    const Origin origin = busy_ ? queue_.front().origin : kNobody;
    emit replyText(origin, text);
    if (busy_ && replyConfirms(queue_.front().frame, decodeReply(text)))
        finishCurrent(true, {});
    sendNext();
}

void SwitcherLine::finishCurrent(bool confirmed, const QString& problem)
{
    if (!busy_ || queue_.empty())
        return;
    deadline_.stop();
    Command command = std::move(queue_.front());
    queue_.pop_front();
    busy_ = false;
    if (!confirmed && command.origin == kPollOrigin && ++missedPolls_ >= timing_.missedPollsOffline)
        setAnswering(false);
    // A silent switcher shows in "not answering", not in a line every poll.
    if (!confirmed && command.origin != kPollOrigin)
        emit logLine(QStringLiteral("%1 not confirmed: %2").arg(describeFrame(command.frame), problem));
    if (command.done)
        command.done({confirmed, problem});
    emit commandFinished(command.origin, confirmed);
    sendNext();
}

void SwitcherLine::poll()
{
    if (!serial_.isOpen())
        return;
    // Only an idle line is polled. A busy one polls when it is done, and the timer rests
    // meanwhile rather than waking for nothing.
    if (busy_ || !queue_.empty() || intake_.isCollecting()) {
        pollDue_ = true;
        pollTimer_.stop();
        return;
    }
    submit(statusQueryFrame(), kPollOrigin, {});
}

void SwitcherLine::becameIdle()
{
    if (timing_.poll.count() <= 0 || !serial_.isOpen())
        return;
    if (!pollTimer_.isActive())
        pollTimer_.start();
    if (std::exchange(pollDue_, false))
        poll();
}

void SwitcherLine::setAnswering(bool answering)
{
    if (answering_ == answering)
        return;
    answering_ = answering;
    emit logLine(answering ? QStringLiteral("switcher answering")
                           : QStringLiteral("switcher not answering"));
    emit answeringChanged(answering);
}
