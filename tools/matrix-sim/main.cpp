// matrix-sim: the 4x4 switcher on a pseudo-terminal, linked as COM<n> for the panel to open.

#include "simoptions.h"
#include "simulator.h"
#include "common/stopsignals.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

namespace {

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
    const QString linkName = QStringLiteral("COM%1").arg(options->port);
    printLine(QStringLiteral("matrix-sim: %1 -> %2 (%3)")
                  .arg(linkName, simulator.slavePath(), simulator.linkPath()));

    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app, [](int number) {
        printLine(QStringLiteral("matrix-sim: stopping on signal %1").arg(number));
        QCoreApplication::quit();
    });
    QObject::connect(&simulator, &Simulator::hungUp, &app, &QCoreApplication::quit);

    const int status = app.exec();
    simulator.stop();
    printLine(QStringLiteral("matrix-sim: removed %1").arg(linkName));
    return status;
}
