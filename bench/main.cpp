// matrix-bench: times the paths the operator waits on and prints one table.
//   matrix-bench            the full run (under two minutes on two cores)
//   matrix-bench --quick    a few iterations of each, to check the program itself
#include "measures.h"
#include "rig.h"
#include "table.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstdio>

namespace {

struct Settings {
    int clicks = 200;
    int lampIterations = 50;
    std::array<qsizetype, 3> logSizes = {0, 1 << 20, 10 << 20};
    int appends = 50;
    int rewrites = 8;
    int decodeBlocks = 7;
    int decodePerBlock = 200'000;
    int startupRuns = 10;
    int memoryEntries = 100'000;
};

Settings quickSettings()
{
    Settings s;
    s.clicks = 20;
    s.lampIterations = 5;
    s.logSizes = {0, 64 << 10, 256 << 10};
    s.appends = 5;
    s.rewrites = 2;
    s.decodeBlocks = 2;
    s.decodePerBlock = 10'000;
    s.startupRuns = 2;
    s.memoryEntries = 1000;
    return s;
}

void progress(const char* what)
{
    std::fprintf(stderr, "matrix-bench: %s\n", what);
}

QString sizeLabel(qsizetype chars)
{
    if (chars == 0)
        return QStringLiteral("empty log");
    if (chars >= (1 << 20))
        return QStringLiteral("%1 MB log").arg(chars >> 20);
    return QStringLiteral("%1 kB log").arg(chars >> 10);
}

QString mb(double kb)
{
    return QStringLiteral("%1 MB").arg(kb / 1024, 0, 'f', 1);
}

QString failed(const QString& error)
{
    return QStringLiteral("FAILED: ") + error;
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(u' ', 0, 2)
                                       : QStringLiteral("?");
}

} // namespace

int main(int argc, char* argv[])
{
    const auto started = Clock::now();
    // Every figure is taken offscreen, also from the processes this one starts.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--memory-child"))
        return runMemoryChild(args[2].toInt(), started);
    const bool quick = args.contains(QLatin1String("--quick"));
    if (args.size() > (quick ? 2 : 1)) {
        std::fprintf(stderr, "usage: matrix-bench [--quick]\n");
        return 2;
    }
    const Settings settings = quick ? quickSettings() : Settings{};
    const QString panelPath =
        QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/../app/matrix-panel"))
            .canonicalFilePath();
    const QString loadBefore = loadAverage();

    Table table;

    progress("4 decoding");
    const DecodeResult decode = measureDecoding(settings.decodeBlocks, settings.decodePerBlock);

    progress("1 click to wire");
    const ClickResult click = measureClickToWire(settings.clicks);
    if (!click.error.isEmpty()) {
        table.add({QStringLiteral("1"),
                   QStringLiteral("Click to wire"),
                   {},
                   {},
                   {},
                   {},
                   failed(click.error)});
    } else {
        table.add({QStringLiteral("1"),
                   QStringLiteral("Click to wire: click() to frame readable (%1 clicks)")
                       .arg(click.toWire.count),
                   QStringLiteral("absolute"), formatMs(click.toWire.median),
                   formatMs(click.toWire.p90), QStringLiteral("< 2 ms median"),
                   verdictBelow(click.toWire.median, 2, QStringLiteral("ms"))});
        if (click.wrongFrames || click.failureBoxes)
            table.note(QStringLiteral("1: %1 frames differed from the expected bytes, %2 failure "
                                      "boxes")
                           .arg(click.wrongFrames)
                           .arg(click.failureBoxes));
    }

    progress("2 reply to lamp");
    const LampResult lamp = measureReplyToLamp(settings.lampIterations);
    if (!lamp.error.isEmpty()) {
        table.add({QStringLiteral("2"),
                   QStringLiteral("Reply to lamp"),
                   {},
                   {},
                   {},
                   {},
                   failed(lamp.error)});
    } else {
        table.add({QStringLiteral("2a"),
                   QStringLiteral("Reply to lamp: first byte of paced status to 4 lamps lit (%1)")
                       .arg(lamp.toLamps.count),
                   QStringLiteral("absolute"), formatMs(lamp.toLamps.median),
                   formatMs(lamp.toLamps.p90), QStringLiteral("< 32 ms median"),
                   lamp.timeouts ? QStringLiteral("MISSED: %1 timeouts").arg(lamp.timeouts)
                                 : verdictBelow(lamp.toLamps.median, 32, QStringLiteral("ms"))});
        table.add({QStringLiteral("2b"),
                   QStringLiteral("Reply to lamp: split replies"),
                   QStringLiteral("count"),
                   QStringLiteral("%1 of %2")
                       .arg(lamp.splitReplies)
                       .arg(lamp.iterations - lamp.lineStalls),
                   {},
                   QStringLiteral("0"),
                   lamp.splitReplies == 0 ? QStringLiteral("met") : QStringLiteral("MISSED")});
        table.add({QStringLiteral("2c"),
                   QStringLiteral("Baseline: a 30 ms precise timer alone, start to timeout (%1)")
                       .arg(lamp.settleTimerAlone.count),
                   QStringLiteral("absolute"),
                   formatMs(lamp.settleTimerAlone.median),
                   formatMs(lamp.settleTimerAlone.p90),
                   QStringLiteral("baseline"),
                   {}});
        table.add({QStringLiteral("2d"),
                   QStringLiteral("Baseline: the window applying one status reply text (%1)")
                       .arg(lamp.applyAlone.count),
                   QStringLiteral("absolute"),
                   formatMs(lamp.applyAlone.median),
                   formatMs(lamp.applyAlone.p90),
                   QStringLiteral("baseline"),
                   {}});
        table.note(QStringLiteral("2: medians: first byte to the port's first notification %1, "
                                  "from there to the lamps %2 (the 30 ms settle wait, decoding, "
                                  "applying); max to lamps %3. Writing the 14 paced bytes took "
                                  "%4 median (%5 max); %6 runs left out because the writer itself "
                                  "stalled past 30 ms.")
                       .arg(formatMs(lamp.toNotification.median),
                            formatMs(lamp.notificationToLamps.median), formatMs(lamp.toLamps.max),
                            formatMs(lamp.writeSpan.median), formatMs(lamp.writeSpan.max))
                       .arg(lamp.lineStalls));
    }

    progress("3 log append");
    const AppendResult append =
        measureLogAppend(settings.logSizes, settings.appends, settings.rewrites);
    if (!append.error.isEmpty()) {
        table.add({QStringLiteral("3"),
                   QStringLiteral("Log append"),
                   {},
                   {},
                   {},
                   {},
                   failed(append.error)});
    } else {
        const char* letters = "abc";
        for (std::size_t s = 0; s < 3; ++s) {
            table.add({QStringLiteral("3%1").arg(QLatin1Char(letters[s])),
                       QStringLiteral("Log append, %1 (%2 appends)")
                           .arg(sizeLabel(append.sizes[s]))
                           .arg(append.append[s].count),
                       QStringLiteral("absolute"),
                       formatMs(append.append[s].median),
                       formatMs(append.append[s].p90),
                       {},
                       {}});
        }
        const double ratio = append.append[2].median / append.append[0].median;
        table.add({QStringLiteral("3d"),
                   QStringLiteral("Log append, %1 / empty").arg(sizeLabel(append.sizes[2])),
                   QStringLiteral("ratio"),
                   formatRatio(ratio),
                   {},
                   QStringLiteral("<= 2x"),
                   ratio <= 2 ? QStringLiteral("met")
                              : QStringLiteral("MISSED by %1").arg(formatRatio(ratio - 2))});
        const char* more = "efg";
        for (std::size_t s = 0; s < 3; ++s) {
            table.add({QStringLiteral("3%1").arg(QLatin1Char(more[s])),
                       QStringLiteral("Whole-text rewrite, %1 (%2 appends)")
                           .arg(sizeLabel(append.sizes[s]))
                           .arg(append.rewrite[s].count),
                       QStringLiteral("absolute"),
                       formatMs(append.rewrite[s].median),
                       formatMs(append.rewrite[s].p90),
                       QStringLiteral("baseline"),
                       {}});
        }
        table.add({QStringLiteral("3h"),
                   QStringLiteral("Whole-text rewrite, %1 / empty").arg(sizeLabel(append.sizes[2])),
                   QStringLiteral("ratio"),
                   formatRatio(append.rewrite[2].median / append.rewrite[0].median),
                   {},
                   QStringLiteral("baseline"),
                   {}});
        table.note(
            QStringLiteral("3: one append = appendEntry + selectAll (as after each reply) + the "
                           "event processing that follows (layout, repaint). The calls alone: "
                           "%1 / %2 / %3 median.")
                .arg(formatMs(append.appendCall[0].median), formatMs(append.appendCall[1].median),
                     formatMs(append.appendCall[2].median)));
    }

    table.add({QStringLiteral("4"),
               QStringLiteral("Decoding: bytes2BSTR + decodeReply, mix of %1 reply forms")
                   .arg(decode.forms),
               QStringLiteral("absolute"),
               QStringLiteral("%1 M replies/s").arg(decode.perSecond.median / 1e6, 0, 'f', 2),
               {},
               {},
               {}});
    table.note(QStringLiteral("4: median of %1 blocks of %2 replies; slowest block %3 M/s.")
                   .arg(decode.perSecond.count)
                   .arg(settings.decodePerBlock)
                   .arg(decode.perSecond.min / 1e6, 0, 'f', 2));

    progress("5 start-up");
    const StartupResult startup =
        panelPath.isEmpty() ? StartupResult{QStringLiteral("matrix-panel not built"), {}, {}, 0}
                            : measurePanelStartup(panelPath, settings.startupRuns);
    if (!startup.error.isEmpty()) {
        table.add({QStringLiteral("5a"),
                   QStringLiteral("Start-up"),
                   {},
                   {},
                   {},
                   {},
                   failed(startup.error)});
    } else {
        table.add({QStringLiteral("5a"),
                   QStringLiteral("Start-up: spawn matrix-panel to its first frame (%1 runs)")
                       .arg(startup.toFirstFrame.count),
                   QStringLiteral("absolute"),
                   formatMs(startup.toFirstFrame.median),
                   formatMs(startup.toFirstFrame.p90),
                   {},
                   {}});
        table.add({QStringLiteral("5b"),
                   QStringLiteral("Resident memory of matrix-panel, shown"),
                   QStringLiteral("absolute"),
                   mb(startup.residentKb.median),
                   {},
                   {},
                   {}});
    }
    progress("5 memory after log entries");
    const MemoryResult memory =
        measureMemoryInChild(QCoreApplication::applicationFilePath(), settings.memoryEntries);
    if (!memory.error.isEmpty()) {
        table.add(
            {QStringLiteral("5c"), QStringLiteral("Memory"), {}, {}, {}, {}, failed(memory.error)});
    } else {
        table.add({QStringLiteral("5c"),
                   QStringLiteral("Start-up in process: main() to first paint (one run)"),
                   QStringLiteral("absolute"),
                   formatMs(memory.mainToFirstPaintMs),
                   {},
                   {},
                   {}});
        table.add({QStringLiteral("5d"),
                   QStringLiteral("Resident memory after start-up"),
                   QStringLiteral("absolute"),
                   mb(double(memory.residentAfterStartKb)),
                   {},
                   {},
                   {}});
        table.add({QStringLiteral("5e"),
                   QStringLiteral("Resident memory after %L1 log entries").arg(memory.entries),
                   QStringLiteral("absolute"),
                   mb(double(memory.residentAfterEntriesKb)),
                   {},
                   {},
                   {}});
        table.add({QStringLiteral("5f"),
                   QStringLiteral("Status reply applied, last %1 / first %1 of the run")
                       .arg(memory.edgeReplies),
                   QStringLiteral("ratio"),
                   formatRatio(memory.lastRepliesMs / memory.firstRepliesMs),
                   {},
                   {},
                   {}});
        table.note(QStringLiteral("5c-f: a child of matrix-bench doing what main.cpp does; the "
                                  "entries came as status replies through the window (4 entries "
                                  "each, then the event loop), %1 characters of log in %2 s; one "
                                  "reply %3 median at the start, %4 at the end.")
                       .arg(memory.logChars)
                       .arg(memory.entriesSeconds, 0, 'f', 1)
                       .arg(formatMs(memory.firstRepliesMs), formatMs(memory.lastRepliesMs)));
    }

    table.note(QStringLiteral("Machine: %1 cores, load average %2 before and %3 after; Qt %4; "
                              "build type %5%6; total run %7 s.")
                   .arg(QThread::idealThreadCount())
                   .arg(loadBefore, loadAverage(), QString::fromLatin1(qVersion()),
                        QStringLiteral(MATRIX_BENCH_BUILD_TYPE),
                        quick ? QStringLiteral(", --quick") : QString())
                   .arg(msBetween(started, Clock::now()) / 1000, 0, 'f', 1));
    std::fputs(qPrintable(table.render()), stdout);
    return 0;
}
