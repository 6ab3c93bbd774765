#pragma once

#include "switcher/commandframe.h"
#include "serial/replyintake.h"
#include "switchercommands.h"
#include "switcher/wire.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <functional>

class SerialControl;

// Who a command on the line came from: a virtual port's index (0 and up) or the service itself.
using Origin = int;
inline constexpr Origin kNobody = -1;   // bytes nobody asked for
inline constexpr Origin kPollOrigin = -2;
inline constexpr Origin kServiceOrigin = -3; // presets, MQTT

// The real serial line to the switcher: opens it and keeps it open, sends one command at a time
// and waits for the reply that confirms it, polls while idle, and tells whether the switcher
// answers. Never exits or gives up because of the line.
//
// Origins take turns: the next command is the oldest of the origin served longest ago, so one
// client's burst delays another's command by one exchange, not by the whole burst. The
// service's own commands set a state, and a newer one replaces a waiting one for the same
// output (or the EDID mode, or a status query): a burst ends in the state last asked for.
class SwitcherLine : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;
    // A client that writes frames faster than the switcher answers cannot grow the queue
    // without end; what does not fit is refused like a command on a closed line.
    static constexpr std::size_t kMostQueuedPerOrigin = 64;
    static inline const QString kTooManyWaiting = QStringLiteral("too many commands waiting");
    struct Timing {
        std::chrono::milliseconds timeout = wire::kDefaultCommandTimeout;
        std::chrono::milliseconds poll = wire::kDefaultPoll; // 0: never
        std::chrono::milliseconds settle = wire::kSettleWait;
        std::chrono::milliseconds firstRetry{1000};
        std::chrono::milliseconds lastRetry{10000};
        int missedPollsOffline = 3;
    };
    // Points the serial control at the device before each open (a link may now name another).
    using Aim = std::function<void(SerialControl&)>;
    // Why an open failed, in words, for the one log line a failure gets.
    using Diagnose = std::function<QString()>;

    SwitcherLine(SerialControl& serial, Aim aim, Diagnose diagnose, Timing timing,
                 QObject* parent = nullptr);

    void start();
    void stop();
    bool isOpen() const;
    // Whether traffic() is emitted; its lines cost text for every frame and reply.
    void setTracing(bool tracing) { tracing_ = tracing; }

    // Queues a frame; `done` runs once it is confirmed, times out, or cannot be sent.
    void submit(const CommandFrame& frame, Origin origin, SwitcherCommands::Done done);
    // Commands of `origin` queued or on the line.
    int pendingFrom(Origin origin) const;

signals:
    void opened();
    void closed(const QString& why);
    // Whether the switcher answers changed; the service keeps it in its one state.
    void answeringChanged(bool answering);
    // Bytes as they come off the line, with the origin of the command then on the line.
    void bytesArrived(Origin origin, const QByteArray& bytes);
    // One reply text per settle window, with the origin of the command then on the line.
    void replyText(Origin origin, const QString& text);
    // A command of `origin` is finished (confirmed or not); its origin may hear of others now.
    void commandFinished(Origin origin, bool confirmed);
    // A line for the log, and one for the traffic trace.
    void logLine(const QString& line);
    void traffic(const QString& line);

private:
    struct Command {
        CommandFrame frame;
        Origin origin;
        SwitcherCommands::Done done;
    };
    using Queue = std::deque<Command>;

    // The waiting command of the service that `frame` makes needless, if any.
    Queue::iterator supersededBy(const CommandFrame& frame);
    // The command to send next, by turns of origin.
    Queue::iterator nextInTurn();

    void tryOpen();
    void lose(const QString& why);
    void onReplyText(const QString& text);
    void sendNext();
    void finishCurrent(bool confirmed, const QString& problem);
    void poll();
    // Nothing queued, on the line or being read: a poll that fell due meanwhile goes now.
    void becameIdle();
    void setAnswering(bool answering);

    SerialControl& serial_;
    Aim aim_;
    Diagnose diagnose_;
    Timing timing_;
    Queue queue_;
    // The head of the queue is on the line; it was moved there from its place in turn.
    bool busy_ = false;
    std::map<Origin, std::uint64_t> lastServed_; // turn counter of each origin's last command
    std::uint64_t turns_ = 0;
    bool stopped_ = true;
    bool answering_ = false;
    bool tracing_ = false;
    bool pollDue_ = false;
    int missedPolls_ = 0;
    std::chrono::milliseconds retryDelay_{0};
    QString lastOpenProblem_;
    ReplyIntake intake_;
    QTimer deadline_;
    QTimer retry_;
    QTimer pollTimer_;
};
