// matrixd: owns one switcher's serial line, keeps its state, shares it through virtual ports,
// publishes it over MQTT and serves it to router control clients and on a web page.
#include "posix/stopsignals.h"
#include "config/switcherconfigdescription.h"
#include "daemonoptions.h"
#include "httpsurface.h"
#include "mqttbridge.h"
#include "serial/portnames.h"
#include "serial/qtserialcontrol.h"
#include "sharehub.h"
#include "switcherservice.h"
#include "videohubserver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

// One line an event on stderr; the journal stamps lines itself when systemd runs us.
void logLine(const QString& line)
{
    static const bool stamped = qEnvironmentVariableIsEmpty("JOURNAL_STREAM");
    const QString stamp =
        stamped ? QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) : QString();
    print(stderr, stamp + line + u'\n');
}

// The device a configured port names now: COM<n> as the panel maps it, or the path with its
// links resolved, so that the port lock names the real device.
QString deviceNow(const PortName& target)
{
    if (target.number > 0)
        return portDevicePath(target.number);
    const QFileInfo info(target.devicePath);
    const QString resolved = info.canonicalFilePath();
    return resolved.isEmpty() ? target.devicePath : resolved;
}

QString diagnose(const QString& device)
{
    const QByteArray path = device.toLocal8Bit();
    if (::access(path.constData(), F_OK) != 0)
        return QStringLiteral("%1 does not exist").arg(device);
    if (::access(path.constData(), R_OK | W_OK) != 0)
        return QStringLiteral("no permission to use %1").arg(device);
    return QStringLiteral("%1 is held by another program").arg(device);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("matrixd"));

    auto parsed = parseDaemonArguments(QCoreApplication::arguments());
    if (auto* exit = std::get_if<DaemonExit>(&parsed)) {
        if (exit->status == 0)
            print(stdout, exit->text);
        else
            print(stderr, QStringLiteral("matrixd: %1\n").arg(exit->text));
        return exit->status;
    }
    const DaemonOptions options = std::get<DaemonOptions>(std::move(parsed));
    const SwitcherConfig& config = options.config;
    if (options.check) {
        print(stdout, describeSwitcherConfig(config));
        return 0;
    }

    StopSignals stopSignals;
    if (!stopSignals.isWatching()) {
        print(stderr, QStringLiteral("matrixd: cannot watch for stop signals\n"));
        return 1;
    }
    const PortName target = *parsePortName(config.port);
    QtSerialControl serial;
    SwitcherLine::Timing timing;
    timing.timeout = config.timeout;
    timing.poll = config.poll;
    SwitcherService service(
        config, serial,
        [target](SerialControl& port) {
            static_cast<QtSerialControl&>(port).setDevicePath(deviceNow(target));
        },
        [target] { return diagnose(deviceNow(target)); }, timing);
    ShareHub shares(service);
    QObject::connect(&service, &SwitcherService::logLine, &app, &logLine);
    QObject::connect(&shares, &ShareHub::logLine, &app, &logLine);
    if (options.trace) {
        service.line().setTracing(true);
        QObject::connect(&service, &SwitcherService::traffic, &app, &logLine);
        QObject::connect(&shares, &ShareHub::traffic, &app, &logLine);
    }

    QString error;
    std::unique_ptr<VideohubServer> videohub;
    if (config.videohub) {
        videohub = std::make_unique<VideohubServer>(config, service.state(), service, &logLine);
        if (!videohub->listen(error)) {
            print(stderr, QStringLiteral("matrixd: %1\n").arg(error));
            return 2;
        }
    }
    if (!shares.open(error)) {
        print(stderr, QStringLiteral("matrixd: %1\n").arg(error));
        return 2;
    }
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app, [](int number) {
        logLine(QStringLiteral("stopping on signal %1").arg(number));
        QCoreApplication::quit();
    });
    std::unique_ptr<HttpSurface> http;
    if (config.http) {
        http = std::make_unique<HttpSurface>(config, service.state(), service, &logLine);
        if (!http->start(error)) {
            print(stderr, QStringLiteral("matrixd: %1\n").arg(error));
            return 2;
        }
    }
    std::unique_ptr<MqttBridge> mqtt;
    if (config.mqtt) {
        mqtt = std::make_unique<MqttBridge>(config, service.state(), service, &logLine);
        mqtt->start();
    }
    service.start();
    const int status = app.exec();
    // Offline on the broker first, while the state still says what it is.
    if (mqtt)
        mqtt->stop();
    if (videohub)
        videohub->stop();
    if (http)
        http->stop();
    service.stop();
    shares.close();
    logLine(QStringLiteral("stopped"));
    return status;
}
