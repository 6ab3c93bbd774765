// matrix-sim: the 4x4 switcher on a pseudo-terminal, linked as COM<n> for the panel to open.

#include "simoptions.h"
#include "simulator.h"
#include "posix/stopsignals.h"
#include "serial/portnames.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

void printLine(const QString& line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// Feeds the lines of standard input to the simulator as control commands. The end of the input
// ends nothing but the reading: the simulator is often started with nothing there.
void readControlLines(QSocketNotifier& notifier, QByteArray& partial, Simulator& simulator)
{
    char buffer[1024];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        notifier.setEnabled(false);
        return;
    }
    partial.append(buffer, n);
    for (qsizetype end; (end = partial.indexOf('\n')) >= 0; partial.remove(0, end + 1))
        simulator.control(QString::fromLocal8Bit(partial.left(end)));
}

} // namespace

int main(int argc, char* argv[])
{
    // A closed standard input would hand its number to the pseudo-terminal, which would then be
    // read as control lines.
    if (::fcntl(STDIN_FILENO, F_GETFD) < 0)
        ::open("/dev/null", O_RDONLY);
    // Started in the background of a terminal, reading it must not stop the simulator.
    std::signal(SIGTTIN, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("matrix-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulates the 4x4 HDMI matrix switcher on a pseudo-terminal linked as COM<n>, and "
        "logs the traffic.\n\nControl lines on standard input change it while it runs:\n"
        "  front A 3 [silent]  output A takes input 3 on the switcher itself; announced as "
        "s12\n"
        "  edid 5 [silent]     EDID mode 5 set on the switcher; announced as EE5\n"
        "  power 3000          no power for 3000 ms: frames are dropped, routes kept\n"
        "  unplug              hang up the line and remove the link\n"
        "  replug              a new pseudo-terminal at the same link"));
    parser.addHelpOption();
    addSimOptions(parser);
    parser.process(app);
    QString error;
    const auto options = readSimOptions(parser, error);
    if (!options) {
        std::fprintf(stderr, "matrix-sim: %s\n", qPrintable(error));
        return 2;
    }
    StopSignals stopSignals;
    if (!stopSignals.isWatching()) {
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
    const QString linkName = portLabel(options->port);
    printLine(QStringLiteral("matrix-sim: %1 -> %2 (%3)")
                  .arg(linkName, simulator.slavePath(), simulator.linkPath()));

    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app, [](int number) {
        printLine(QStringLiteral("matrix-sim: stopping on signal %1").arg(number));
        QCoreApplication::quit();
    });
    QObject::connect(&simulator, &Simulator::hungUp, &app, &QCoreApplication::quit);
    QSocketNotifier controlInput(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray partialLine;
    QObject::connect(&controlInput, &QSocketNotifier::activated, &app,
                     [&] { readControlLines(controlInput, partialLine, simulator); });

    const int status = app.exec();
    simulator.stop();
    printLine(QStringLiteral("matrix-sim: removed %1").arg(linkName));
    return status;
}
