// matrixctl: the switcher from the command line, for scripts and automation.
#include "ctlrequest.h"
#include "ctlsession.h"
#include "serial/portfile.h"
#include "serial/portnames.h"
#include "serial/platformserialcontrol.h"

#ifndef Q_OS_WIN
#include "posix/stopsignals.h"
#endif

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>


namespace {

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

int finish(const ctl::Outcome& outcome)
{
    print(stdout, outcome.output);
    if (!outcome.error.isEmpty())
        print(stderr, QStringLiteral("matrixctl: %1\n").arg(outcome.error));
    return outcome.exitCode;
}

// "COM3 (/dev/ttyS2)" for messages; a device path stands for itself.
QString describePort(const ctl::PortSpec& port)
{
    if (!port.devicePath.isEmpty())
        return port.devicePath;
    // COM3 is the device COM3 on Windows.
    if (portDevicePath(port.number) == port.label())
        return port.label();
    return QStringLiteral("%1 (%2)").arg(port.label(), portDevicePath(port.number));
}

int runDetect(QCoreApplication& app, const ctl::Request& request)
{
    ctl::Detector detector(
        [](int portNumber) {
            auto serial = std::make_unique<PlatformSerialControl>();
            serial->setPortNumber(portNumber);
            return std::unique_ptr<SerialControl>(std::move(serial));
        },
        request.timeout, request.json);
    QObject::connect(&detector, &ctl::Detector::finished, &app, &QCoreApplication::quit);
    detector.start();
    if (!detector.isFinished())
        app.exec();
    return finish(detector.outcome());
}

int runOnPort(QCoreApplication& app, const ctl::Request& request);

// Each route is a session of its own, which has printed why it failed when it does.
int runPreset(QCoreApplication& app, const ctl::Request& request)
{
    int status = ctl::kOk;
    presetrun::run(
        request.presetName, request.presetRoutes,
        [&](int output, int input, const presetrun::StepDone& done) {
            status = runOnPort(app, ctl::presetStep(request, output, input));
            done(status == ctl::kOk, {});
        },
        [](bool applied, const QString& stop) {
            if (!applied)
                print(stderr, QStringLiteral("matrixctl: %1\n").arg(stop));
        });
    return status;
}

int runOnPort(QCoreApplication& app, const ctl::Request& request)
{
    const ctl::PortSpec port = request.port ? *request.port : ctl::portFromFile(readRememberedIndex(kPortFileName));
    PlatformSerialControl serial;
    if (port.devicePath.isEmpty())
        serial.setPortNumber(port.number);
    else
        serial.setDevicePath(port.devicePath);

    ctl::Session session(serial, request, describePort(port));
    QObject::connect(&session, &ctl::Session::printed, &app,
                     [](const QString& lines) { print(stdout, lines); });
    QObject::connect(&session, &ctl::Session::finished, &app, &QCoreApplication::quit);

    // A watch ends on SIGINT, SIGTERM or SIGHUP between replies, not in the middle of a line.
    // On Windows Ctrl+C ends the process, and the port closes with it.
#ifndef Q_OS_WIN
    std::unique_ptr<StopSignals> stopSignals;
    if (request.command == ctl::Command::Watch) {
        stopSignals = std::make_unique<StopSignals>();
        if (!stopSignals->isWatching())
            return finish({ctl::kPortFailed, {}, QStringLiteral("cannot catch signals")});
        QObject::connect(stopSignals.get(), &StopSignals::stopRequested, &session,
                         &ctl::Session::stop);
    }
#endif
    session.start();
    if (!session.isFinished())
        app.exec();
    return finish(session.outcome());
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("matrixctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MATRIX_VERSION));

    // Every argument is checked before any port is touched.
    const ctl::ParseResult parsed = ctl::parseCommandLine(QCoreApplication::arguments());
    switch (parsed.kind) {
    case ctl::ParseResult::Kind::Help:
        print(stdout, parsed.text);
        return ctl::kOk;
    case ctl::ParseResult::Kind::Version:
        print(stdout, QStringLiteral("matrixctl %1\n").arg(QStringLiteral(MATRIX_VERSION)));
        return ctl::kOk;
    case ctl::ParseResult::Kind::Error:
        return finish({ctl::kBadArguments, {}, parsed.text});
    case ctl::ParseResult::Kind::Run:
        break;
    }
    if (parsed.request.command == ctl::Command::Detect)
        return runDetect(app, parsed.request);
    if (parsed.request.command == ctl::Command::Preset)
        return runPreset(app, parsed.request);
    return runOnPort(app, parsed.request);
}
