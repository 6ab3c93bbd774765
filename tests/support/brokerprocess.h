#pragma once

// Debian's mosquitto broker as a child process of a test: its own configuration in a temporary
// directory, a free loopback port kept across restarts, no persistence (a restart forgets every
// retained message, as a broker that lost its disk would), and its log read back.

#include "support/freeport.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

class BrokerProcess {
public:
    // `users` maps user names to passwords; none: anonymous clients are welcome.
    explicit BrokerProcess(QMap<QString, QString> users = {}) : users_(std::move(users)) {}
    ~BrokerProcess() { stop(); }

    BrokerProcess(const BrokerProcess&) = delete;
    BrokerProcess& operator=(const BrokerProcess&) = delete;

    // Starts (or starts again, on the same port) and waits until it listens.
    bool start()
    {
        if (!dir_.isValid() || (port_ == 0 && (port_ = freeLoopbackPort()) == 0) || !writeConfig())
            return false;
        log_.clear();
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral("/usr/sbin/mosquitto"),
                       {QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))});
        return QTest::qWaitFor([this] { return log().contains(QStringLiteral(" running")); }, 5000);
    }

    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(3000);
        log();
    }

    // Takes effect at the next start().
    void setUsers(QMap<QString, QString> users) { users_ = std::move(users); }

    int port() const { return port_; }

    // Everything the broker logged since it last started.
    QString log()
    {
        log_ += QString::fromLocal8Bit(process_.readAll());
        return log_;
    }
    qsizetype connectionAttempts() { return log().count(QStringLiteral("New connection from")); }

private:
    bool writeConfig()
    {
        QString config = QStringLiteral("listener %1 127.0.0.1\npersistence false\n"
                                        "log_dest stderr\nlog_type error\nlog_type warning\n"
                                        "log_type notice\nlog_type information\n"
                                        "connection_messages true\nset_tcp_nodelay true\n")
                             .arg(port_);
        // As root it would switch to the user "mosquitto", who cannot read this directory.
        if (::geteuid() == 0)
            config += QStringLiteral("user root\n");
        if (users_.isEmpty()) {
            config += QStringLiteral("allow_anonymous true\n");
        } else {
            const QString passwords = dir_.filePath(QStringLiteral("passwords"));
            QFile::remove(passwords);
            QFile(passwords).open(QIODevice::WriteOnly);
            for (auto it = users_.cbegin(); it != users_.cend(); ++it) {
                if (QProcess::execute(QStringLiteral("/usr/bin/mosquitto_passwd"),
                                      {QStringLiteral("-b"), passwords, it.key(), it.value()}) != 0)
                    return false;
            }
            config += QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(passwords);
        }
        QFile file(dir_.filePath(QStringLiteral("mosquitto.conf")));
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(config.toUtf8()) == config.toUtf8().size();
    }

    QMap<QString, QString> users_;
    QTemporaryDir dir_;
    QProcess process_;
    QString log_;
    int port_ = 0;
};
