#pragma once

#include "posix/clientopenwatch.h"
#include "posix/pseudoterminal.h"
#include "replyshaper.h"
#include "simoptions.h"
#include "switcher/switchermodel.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

// The switcher on a pseudo-terminal: reads frames from the line, answers through the model,
// paces and disturbs the answers as the options say. Control lines change it while it runs.
class Simulator : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;

    Simulator(const SimOptions& options, Log log, QObject* parent = nullptr);
    ~Simulator() override;

    // Opens the line and links it; false and a message when that fails.
    bool start(QString& error);
    QString linkPath() const { return pty_.linkPath(); }
    QString slavePath() const { return pty_.slavePath(); }
    // Closes the line and removes the link.
    void stop();

    // Acts on one control line (see parseControlLine); logs what it did, or that it is unknown.
    void control(const QString& line);

signals:
    // The line has been hung up on purpose and the link removed.
    void hungUp();

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        ReplyChunk chunk;
        Clock::time_point notBefore;
        QString logLine; // written when the chunk goes out; empty for a reply's second half
    };

    // Opens a new line and links it at the link path.
    bool plugIn(QString& error);
    void unplug();
    // Logs a change made on the switcher and sends its announcement unless told not to.
    void frontPanel(const QString& change, const QByteArray& announcement, bool silent);
    void enqueue(const QList<ReplyChunk>& chunks, Clock::time_point notBefore);
    void readLine();
    void sendDue();
    // Writes as much as the line takes now, about 1.04 ms a byte when pacing; -1 on failure.
    qsizetype writePaced(const QByteArray& bytes);
    void hangUp();

    SimOptions options_;
    Log log_;
    SwitcherModel model_;
    QString link_;
    PseudoTerminal pty_;
    // The unplugged line's slave side, held so that the replug gets another /dev/pts number.
    int staleSlave_ = -1;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<ClientOpenWatch> openWatch_;
    QTimer retryRead_;
    QTimer sendTimer_;
    QTimer hangupTimer_;
    QTimer powerOff_; // active while the switcher is without power
    std::deque<Pending> queue_;
    Clock::time_point lastWriteEnd_{};
    int framesAnswered_ = 0;
    bool hangingUp_ = false;
};
