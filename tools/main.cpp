// matrix-sim: the 4x4 switcher on a pseudo-terminal, linked as COM<n> for the panel to open.

#include "simoptions.h"
#include "simulator.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    // Only async-signal-safe work here: the event loop does the rest.
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

bool catchStopSignals()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(number, &action, nullptr);
    return true;
}

void printLine(const QString& line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("matrix-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulates the 4x4 HDMI matrix switcher on a pseudo-terminal linked as "
                       "COM<n>, and logs the traffic."));
    parser.addHelpOption();
    addSimOptions(parser);
    parser.process(app);
    QString error;
    const auto options = readSimOptions(parser, error);
    if (!options) {
        std::fprintf(stderr, "matrix-sim: %s\n", qPrintable(error));
        return 2;
    }
    if (!catchStopSignals()) {
        std::fprintf(stderr, "matrix-sim: cannot watch for stop signals\n");
        return 1;
    }

    const bool quiet = options->quiet;
    Simulator simulator(*options, [quiet](const QString& line) {
        if (!quiet)
            printLine(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) +
                      line);
    });
    if (!simulator.start(error)) {
        std::fprintf(stderr, "matrix-sim: %s\n", qPrintable(error));
        return 1;
    }
    const QString linkName = QStringLiteral("COM%1").arg(options->port);
    printLine(QStringLiteral("matrix-sim: %1 -> %2 (%3)")
                  .arg(linkName, simulator.slavePath(), simulator.linkPath()));

    QSocketNotifier stopRequested(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopRequested, &QSocketNotifier::activated, &app, [&] {
        char number = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &number, 1);
        printLine(QStringLiteral("matrix-sim: stopping on signal %1").arg(int(number)));
        QCoreApplication::quit();
    });
    QObject::connect(&simulator, &Simulator::hungUp, &app, &QCoreApplication::quit);

    const int status = app.exec();
    simulator.stop();
    printLine(QStringLiteral("matrix-sim: removed %1").arg(linkName));
    return status;
}
