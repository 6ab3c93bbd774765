#pragma once

// matrixd as a child process of a test, and a client of one of its virtual ports that uses
// the panel's own serial control and reply intake.

#include "support/panelend.h"

#include <QProcess>
#include <QTest>

#include <csignal>

class DaemonProcess {
public:
    explicit DaemonProcess(const QStringList& arguments)
    {
        process_.setProgram(QStringLiteral(MATRIXD_PATH));
        process_.setArguments(arguments);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start();
    }
    ~DaemonProcess() { stop(); }

    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    // SIGTERM, as systemd stops it; the exit status, or -1 when it had to be killed.
    int stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        if (process_.waitForFinished(5000))
            return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
        process_.kill();
        process_.waitForFinished(3000);
        return -1;
    }

    qint64 pid() const { return process_.processId(); }

    // SIGKILL: nothing of its own clean-up runs, as after a crash.
    void kill()
    {
        process_.kill();
        process_.waitForFinished(3000);
    }

    QString output()
    {
        out_ += QString::fromLocal8Bit(process_.readAll());
        return out_;
    }

    // How many log lines hold `text`.
    qsizetype count(const QString& text) { return output().count(text); }

    bool waitFor(const QString& text, int times = 1, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return count(text) >= times; }, timeoutMs);
    }

    // Until the process has exited; its exit code, or -1 if it did not.
    int waitForExit(int timeoutMs = 5000)
    {
        if (!process_.waitForFinished(timeoutMs))
            return -1;
        output();
        return process_.exitCode();
    }

private:
    QProcess process_;
    QString out_;
};

// A program on a virtual port, reading replies the panel's way: one text per 30 ms window.
using ShareClient = PanelEnd;
