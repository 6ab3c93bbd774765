#pragma once

// The matrix-sim program as a child process of a test: started with its link in a directory,
// stopped and its link removed whatever the test did, and its traffic log read back.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <functional>

inline constexpr int kStartTimeoutMs = 5000;
inline constexpr int kReplyTimeoutMs = 3000;

class SimProcess {
public:
    SimProcess(const QString& dir, int port, QStringList arguments) : link_(linkIn(dir, port))
    {
        arguments << QStringLiteral("--dir") << dir << QStringLiteral("--port")
                  << QString::number(port);
        process_.setProgram(QStringLiteral(MATRIX_SIM_PATH));
        process_.setArguments(arguments);
        process_.start();
    }

    ~SimProcess() { stop(); }

    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    static QString linkIn(const QString& dir, int port)
    {
        return QDir(dir).absoluteFilePath(QStringLiteral("COM%1").arg(port));
    }

    // Stops the program as Ctrl+C would and removes a link it left behind.
    void stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
            if (!process_.waitForFinished(3000))
                process_.kill();
            process_.waitForFinished(3000);
        }
        // Only a simulator's link: a test may have put something else there on purpose.
        if (QFileInfo(link_).symLinkTarget().startsWith(QStringLiteral("/dev/pts/")))
            QFile::remove(link_);
    }

    // Timing does not matter here: polling for the link is good enough. A link that leads
    // nowhere may be a stale one that the simulator has yet to replace.
    bool waitForLink()
    {
        return QTest::qWaitFor(
            [this] {
                const QFileInfo info(link_);
                return info.isSymLink() && info.exists();
            },
            kStartTimeoutMs);
    }

    // Everything the program printed so far.
    QString output()
    {
        out_ += QString::fromLocal8Bit(process_.readAllStandardOutput());
        return out_;
    }

    // Runs a real event loop until the output satisfies `done`, or the timeout.
    bool waitForOutput(const std::function<bool(const QString&)>& done,
                       int timeoutMs = kReplyTimeoutMs)
    {
        if (done(output()))
            return true;
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        const auto check = [&] {
            if (done(output()))
                loop.quit();
        };
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, &loop, check);
        QObject::connect(&process_, &QProcess::finished, &loop, check);
        loop.exec();
        return done(output());
    }

    bool waitForOutput(const QString& text, int timeoutMs = kReplyTimeoutMs)
    {
        return waitForOutput([&](const QString& out) { return out.contains(text); }, timeoutMs);
    }

    // Writes one control line to the program's standard input (kept open by QProcess) and, when
    // `logged` is given, waits for a log line holding it that the program printed after that.
    bool control(const QByteArray& line, const QString& logged = {},
                 int timeoutMs = kReplyTimeoutMs)
    {
        const qsizetype from = output().size();
        if (process_.write(line + '\n') != line.size() + 1)
            return false;
        while (process_.bytesToWrite() > 0) {
            if (!process_.waitForBytesWritten(kReplyTimeoutMs))
                return false;
        }
        return logged.isEmpty() ||
               waitForOutput([&](const QString& out) { return out.indexOf(logged, from) >= 0; },
                             timeoutMs);
    }

    // The frames the simulator received, in order, from its traffic log ("<- 05 55 ...").
    QList<QByteArray> framesReceived() { return logged(QStringLiteral("<- ")); }
    // The replies it sent, in order, each whole even when sent in two writes ("-> 73 ...").
    QList<QByteArray> repliesSent() { return logged(QStringLiteral("-> ")); }

    bool waitForFrames(qsizetype count, int timeoutMs = kReplyTimeoutMs)
    {
        return waitForOutput([&](const QString&) { return framesReceived().size() >= count; },
                             timeoutMs);
    }

    QString link() const { return link_; }
    QProcess& process() { return process_; }

private:
    // Lines "HH:mm:ss.zzz <mark>hex  rest"; only complete lines count.
    QList<QByteArray> logged(const QString& mark)
    {
        const QString out = output();
        QList<QByteArray> found;
        const QStringList lines = out.left(out.lastIndexOf(QLatin1Char('\n'))).split(u'\n');
        constexpr qsizetype kStampLength = 13; // "HH:mm:ss.zzz "
        for (const QString& line : lines) {
            if (line.mid(kStampLength, mark.size()) != mark)
                continue;
            const qsizetype from = kStampLength + mark.size();
            const qsizetype end = line.indexOf(QStringLiteral("  "), from);
            const QString hex = line.mid(from, end < 0 ? -1 : end - from);
            found << QByteArray::fromHex(hex.toLatin1());
        }
        return found;
    }

    QString link_;
    QProcess process_;
    QString out_;
};
