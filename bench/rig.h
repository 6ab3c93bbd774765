#pragma once

#include "link/messageboxes.h"
#include "posix/pseudoterminal.h"
#include "serial/qtserialcontrol.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <array>
#include <chrono>
#include <functional>
#include <memory>

class Form1;
class Lamp;
class MessageLog;
class ReplyIntake;
class QWidget;

using Clock = std::chrono::steady_clock;

inline double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// A failure box would be modal and block the run; here it is only counted.
class CountingBoxes : public MessageBoxes {
public:
    void show(const QString&, const QString&) override { ++shown; }
    int shown = 0;
};

// Runs a real event loop for this long.
void runEventLoopFor(std::chrono::milliseconds duration);
// Runs the event loop until `done` holds; false after the timeout.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Processes events until the widget's window is exposed; false after the timeout.
bool waitExposed(QWidget& widget, std::chrono::milliseconds timeout = std::chrono::seconds{5});
// Output o (1..4) routed to an input that moves on by one every iteration, so every lamp
// the reply lights was dark before it.
std::array<int, 4> routingFor(int iteration);
// Each byte at its own moment on a 9600-baud clock, as a UART sends them: a late wake-up
// delays one byte, not every byte after it. Returns when the last byte was written.
Clock::time_point writePaced(PseudoTerminal& line, const QByteArray& bytes);
// VmRSS of a process in kB, from /proc; -1 when unreadable.
long residentKb(qint64 pid);
long residentKbSelf();

// The window's controls by the names they were designed with, found once before a loop: the
// bench drives the window from outside, as the tests do.
using LampGrid = std::array<std::array<Lamp*, 4>, 4>; // [output - 1][input - 1]
LampGrid routingLamps(const QWidget& form);
// Whether every output's lamp of the input in `inputOfOutput` (1..4) is lit.
bool showsRouting(const LampGrid& lamps, const std::array<int, 4>& inputOfOutput);
Lamp* connectedLamp(const QWidget& form);
ReplyIntake* replyIntakeOf(const QWidget& form);
MessageLog* messageLogOf(const QWidget& form);

// One of this build's tools as a child. What it logs goes to a file, quoted when it fails.
class Tool {
public:
    explicit Tool(QString logPath) : logPath_(std::move(logPath)) {}
    ~Tool() { stop(); }
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    // keepStdout: the caller reads standard output; otherwise it goes to the log too.
    bool start(const QString& program, const QStringList& args, bool keepStdout = false)
    {
        process_.setStandardErrorFile(logPath_);
        if (!keepStdout)
            process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(program, args);
        return process_.waitForStarted(5000);
    }
    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
    bool running() const { return process_.state() == QProcess::Running; }
    qint64 pid() const { return process_.processId(); }
    QProcess& process() { return process_; }
    QString log() const
    {
        QFile f(logPath_);
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }
    // The last lines it logged, for an error message.
    QString tail() const
    {
        const QStringList lines = log().trimmed().split(u'\n');
        return lines.mid(std::max<qsizetype>(0, lines.size() - 3)).join(QStringLiteral(" / "));
    }

private:
    QString logPath_;
    QProcess process_;
};

// The panel's window as the program builds it (real serial control, load(), show()), in a
// temporary working directory whose COM1 links to a pseudo-terminal this side holds.
class LiveWindow {
public:
    LiveWindow();
    ~LiveWindow();
    LiveWindow(const LiveWindow&) = delete;
    LiveWindow& operator=(const LiveWindow&) = delete;

    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    Form1& form() { return *form_; }
    PseudoTerminal& line() { return pty_; }
    SerialControl& serial() { return serial_; }
    int failureBoxes() const { return boxes_.shown; }

private:
    QTemporaryDir dir_;
    QString previousDir_;
    PseudoTerminal pty_;
    QtSerialControl serial_;
    CountingBoxes boxes_;
    std::unique_ptr<Form1> form_;
    QString error_;
};

// matrixd's line and share in a temporary directory: <dir>/line/COM1 and <dir>/COM1.
QString lineLink(const QTemporaryDir& dir);
QString shareLink(const QTemporaryDir& dir);
QStringList daemonArguments(const QTemporaryDir& dir, const QString& poll);
// The simulator on <dir>/line/COM1, ready once its link is there; empty, or what went wrong.
QString startSimulator(Tool& sim, const QString& simPath, const QTemporaryDir& dir,
                       const QStringList& extra, bool keepStdout);

// matrixd on a line whose switcher is this process: <dir>/line/COM1 links to a pseudo-terminal
// held here, and matrixd's share is <dir>/COM1. The start-up status query is answered.
class DaemonOnLine {
public:
    explicit DaemonOnLine(const QString& matrixdPath, const QStringList& moreArguments = {});

    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    PseudoTerminal& line() { return line_; }
    QString dir() const { return dir_.path(); }
    QString sharePath() const { return shareLink(dir_); }
    Tool& daemon() { return daemon_; }

private:
    QTemporaryDir dir_;
    PseudoTerminal line_;
    Tool daemon_;
    QString error_;
};
