// matrix-bench: times the paths the operator waits on and prints one table.
//   matrix-bench            the full run (about seven minutes, five of them matrixd's polls)
//   matrix-bench --quick    a few iterations of each, to check the program itself
//   matrix-bench --web      only the rows of matrixd's web page and HTTP API (8)
#include "daemonmeasures.h"
#include "httpmeasures.h"
#include "measures.h"
#include "mqttmeasures.h"
#include "rig.h"
#include "table.h"
#include "videohubmeasures.h"

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
    int shareIterations = 50;
    int shareFrames = 100;
    int polls = 10'000;
    std::chrono::seconds idleSpan{20};
    int mqttRounds = 50;
    int videohubClients = 32;
    int videohubRounds = 50;
    int videohubRoutes = 10'000;
    HttpSettingsForBench http;
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
    s.shareIterations = 5;
    s.shareFrames = 10;
    s.polls = 100;
    s.idleSpan = std::chrono::seconds{3};
    s.mqttRounds = 5;
    s.videohubRounds = 5;
    s.videohubRoutes = 300;
    s.http = {5, 10, 2, 2, 500};
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

// A program built beside this one, or empty when it is not there.
QString sibling(const QString& relativePath)
{
    return QFileInfo(QCoreApplication::applicationDirPath() + relativePath).canonicalFilePath();
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

void addShareLampRows(Table& table, const ShareLampResult& lamp)
{
    if (!lamp.error.isEmpty()) {
        table.add({QStringLiteral("6a"),
                   QStringLiteral("Through a share, reply to lamp"),
                   {},
                   {},
                   {},
                   {},
                   failed(lamp.error)});
        return;
    }
    const auto& share = lamp.share;
    const auto& direct = lamp.direct;
    table.add({QStringLiteral("6a"),
               QStringLiteral("Through a share: first byte of paced status to 4 lamps lit (%1)")
                   .arg(share.toLamps.count),
               QStringLiteral("absolute"), formatMs(share.toLamps.median),
               formatMs(share.toLamps.p90), {}, {}});
    table.add({QStringLiteral("6b"),
               QStringLiteral("On the line directly, same method, turn about (%1)")
                   .arg(direct.toLamps.count),
               QStringLiteral("absolute"), formatMs(direct.toLamps.median),
               formatMs(direct.toLamps.p90), {}, {}});
    const double difference = share.toLamps.median - direct.toLamps.median;
    const int missed = share.timeouts + direct.timeouts;
    table.add({QStringLiteral("6c"),
               QStringLiteral("Share - direct, medians of 6a and 6b"),
               QStringLiteral("absolute"),
               formatMs(difference),
               {},
               QStringLiteral("within 2 ms"),
               missed ? QStringLiteral("MISSED: %1 timeouts").arg(missed)
                      : verdictBelow(difference, 2, QStringLiteral("ms"))});
    table.note(QStringLiteral("6a-c: the panel's window presses Status, this side answers as the "
                              "switcher; %1 presses each way after %2 warm-up ones. Medians, "
                              "direct / share: press to the query whole at the switcher %3 / %4; "
                              "first reply byte to the window's first notification %5 / %6; "
                              "split replies %7 / %8; runs left out for a stalled writer %9 / %10.")
                   .arg(lamp.iterations)
                   .arg(lamp.warmups)
                   .arg(formatMs(direct.pressToFrame.median), formatMs(share.pressToFrame.median),
                        formatMs(direct.toNotice.median), formatMs(share.toNotice.median))
                   .arg(direct.splitReplies)
                   .arg(share.splitReplies)
                   .arg(direct.lineStalls)
                   .arg(share.lineStalls));
}

void addDaemonRows(Table& table, const Settings& settings, const QString& matrixdPath,
                   const QString& simPath)
{
    const QString missing = matrixdPath.isEmpty() ? QStringLiteral("matrixd not built")
                            : simPath.isEmpty()   ? QStringLiteral("matrix-sim not built")
                                                  : QString();
    if (!missing.isEmpty()) {
        table.add({QStringLiteral("6"), QStringLiteral("matrixd"), {}, {}, {}, {}, failed(missing)});
        return;
    }
    progress("6a-c reply to lamp through a share");
    addShareLampRows(table, measureShareReplyToLamp(matrixdPath, settings.shareIterations));

    progress("6d share's frame to the line");
    const ShareFrameResult frame = measureShareFrameToLine(matrixdPath, settings.shareFrames);
    if (!frame.error.isEmpty()) {
        table.add({QStringLiteral("6d"),
                   QStringLiteral("Share's frame to the line"),
                   {},
                   {},
                   {},
                   {},
                   failed(frame.error)});
    } else {
        table.add({QStringLiteral("6d"),
                   QStringLiteral("Share's frame to the line, line idle: write to readable (%1)")
                       .arg(frame.toLine.count),
                   QStringLiteral("absolute"), formatMs(frame.toLine.median),
                   formatMs(frame.toLine.p90), QStringLiteral("< 2 ms median"),
                   verdictBelow(frame.toLine.median, 2, QStringLiteral("ms"))});
        table.note(QStringLiteral("6d: the slowest tenth of the frames took %1 median; during "
                                  "them matrixd was runnable but waiting for a CPU %2 median, and "
                                  "this side, reading the line, %3 (/proc/<pid>/schedstat).")
                       .arg(formatMs(frame.slowTenth.median), formatMs(frame.slowTenthWait.median),
                            formatMs(frame.slowTenthSelfWait.median)));
        if (frame.wrongFrames || frame.unconfirmed)
            table.note(QStringLiteral("6d: %1 frames did not arrive whole, %2 commands not "
                                      "confirmed by matrixd")
                           .arg(frame.wrongFrames)
                           .arg(frame.unconfirmed));
    }

    progress("6e-f matrixd's memory over polls at full speed");
    const PollMemoryResult polls = measurePollMemory(matrixdPath, simPath, settings.polls);
    if (!polls.error.isEmpty()) {
        table.add({QStringLiteral("6e"),
                   QStringLiteral("matrixd's memory over polls"),
                   {},
                   {},
                   {},
                   {},
                   failed(polls.error)});
    } else {
        table.add({QStringLiteral("6e"),
                   QStringLiteral("Resident memory of matrixd after %L1 polls at full speed")
                       .arg(polls.polls),
                   QStringLiteral("absolute"),
                   mb(double(polls.lastKb)),
                   {},
                   QStringLiteral("< 25 MB"),
                   polls.maxKb < 25 * 1024
                       ? QStringLiteral("met")
                       : QStringLiteral("MISSED: %1 at most").arg(mb(double(polls.maxKb)))});
        const double ratio = double(polls.lastKb) / double(polls.firstKb);
        table.add({QStringLiteral("6f"),
                   QStringLiteral("matrixd's memory, after %L1 / after %L2 polls")
                       .arg(polls.polls)
                       .arg(polls.firstAt),
                   QStringLiteral("ratio"),
                   formatRatio(ratio),
                   {},
                   QStringLiteral("< 1.05x"),
                   ratio < 1.05 ? QStringLiteral("met")
                                : QStringLiteral("MISSED by %1").arg(formatRatio(ratio - 1.05))});
        table.note(QStringLiteral("6e-f: %L1 polls in %2 s (%3 a second); resident memory %4 "
                                  "after %L5 polls, %6 at most; matrixd's CPU meanwhile %7 % of "
                                  "one core.")
                       .arg(polls.polls)
                       .arg(polls.seconds, 0, 'f', 1)
                       .arg(polls.polls / polls.seconds, 0, 'f', 1)
                       .arg(mb(double(polls.firstKb)))
                       .arg(polls.firstAt)
                       .arg(mb(double(polls.maxKb)))
                       .arg(polls.cpuPercent, 0, 'f', 1));
    }

    progress("6g matrixd's CPU, idle");
    const IdleCpuResult idle = measureIdleCpu(matrixdPath, simPath, settings.idleSpan);
    if (!idle.error.isEmpty()) {
        table.add({QStringLiteral("6g"),
                   QStringLiteral("matrixd's CPU, idle"),
                   {},
                   {},
                   {},
                   {},
                   failed(idle.error)});
    } else {
        table.add({QStringLiteral("6g"),
                   QStringLiteral("CPU of matrixd, poll every 5 s, idle, over %1 s")
                       .arg(idle.seconds, 0, 'f', 0),
                   QStringLiteral("absolute"),
                   QStringLiteral("%1 % of a core").arg(idle.percent, 0, 'f', 2),
                   {},
                   QStringLiteral("negligible (< 1 %)"),
                   idle.percent < 1 ? QStringLiteral("met") : QStringLiteral("MISSED")});
        table.note(QStringLiteral("6g: %1 clock ticks of %2 a second; resident memory then %3.")
                       .arg(idle.ticks)
                       .arg(idle.ticksPerSecond)
                       .arg(mb(double(idle.residentKb))));
    }
}

void addMqttRows(Table& table, const Settings& settings, const QString& matrixdPath)
{
    auto failedRow = [&](const QString& error) {
        table.add({QStringLiteral("7"),
                   QStringLiteral("matrixd on MQTT"),
                   {},
                   {},
                   {},
                   {},
                   failed(error)});
    };
    if (matrixdPath.isEmpty())
        return failedRow(QStringLiteral("matrixd not built"));
    progress("7a-e a set over MQTT to the line, the reply to the state published");
    // The run's load moves a lot over its minutes; these rows take a few seconds of it.
    const QString load = loadAverage();
    const MqttResult m = measureMqttSetAndState(matrixdPath, settings.mqttRounds, true);
    if (!m.error.isEmpty())
        return failedRow(m.error);
    table.add({QStringLiteral("7a"),
               QStringLiteral("MQTT set to the line, idle: publish to frame readable (%1)")
                   .arg(m.setToLine.count),
               QStringLiteral("absolute"), formatMs(m.setToLine.median), formatMs(m.setToLine.p90),
               QStringLiteral("< 5 ms median"),
               verdictBelow(m.setToLine.median, 5, QStringLiteral("ms"))});
    table.add({QStringLiteral("7b"),
               QStringLiteral("Reply to MQTT state: first paced byte to output/B received (%1)")
                   .arg(m.replyToState.count),
               QStringLiteral("absolute"), formatMs(m.replyToState.median),
               formatMs(m.replyToState.p90), QStringLiteral("< 35 ms median"),
               m.timeouts ? QStringLiteral("MISSED: %1 timeouts").arg(m.timeouts)
                          : verdictBelow(m.replyToState.median, 35, QStringLiteral("ms"))});
    const double afterSettle = m.replyToState.median - m.timerAlone.median;
    table.add({QStringLiteral("7c"),
               QStringLiteral("Reply to MQTT state after the 30 ms settle: 7b - 7d, medians"),
               QStringLiteral("absolute"),
               formatMs(afterSettle),
               {},
               QStringLiteral("< 5 ms"),
               verdictBelow(afterSettle, 5, QStringLiteral("ms"))});
    table.add({QStringLiteral("7d"),
               QStringLiteral("Baseline: a 30 ms precise timer alone, start to timeout (%1)")
                   .arg(m.timerAlone.count),
               QStringLiteral("absolute"),
               formatMs(m.timerAlone.median),
               formatMs(m.timerAlone.p90),
               QStringLiteral("baseline"),
               {}});
    table.add({QStringLiteral("7e"),
               QStringLiteral("Baseline: the broker's round trip, publish to own subscription (%1)")
                   .arg(m.brokerRoundTrip.count),
               QStringLiteral("absolute"),
               formatMs(m.brokerRoundTrip.median),
               formatMs(m.brokerRoundTrip.p90),
               QStringLiteral("baseline"),
               {}});
    table.note(QStringLiteral("7a-e: matrixd --poll 0 --mqtt on mosquitto with set_tcp_nodelay "
                              "true; %1 rounds after %2 not counted. Medians: reply's first byte "
                              "to routes received (the burst's second message) %3; the 3 paced "
                              "reply bytes took %4; max of 7a %5, of 7b %6. Wrong or missing "
                              "frames %7, state not followed within 2 s %8, commands matrixd "
                              "logged as failed %9. Load average when they started: %10.")
                   .arg(m.rounds)
                   .arg(m.warmups)
                   .arg(formatMs(m.replyToRoutes.median), formatMs(m.writeSpan.median),
                        formatMs(m.setToLine.max), formatMs(m.replyToState.max))
                   .arg(m.wrongFrames)
                   .arg(m.timeouts)
                   .arg(m.failures)
                   .arg(load));

    progress("7f the same with the broker's default set_tcp_nodelay false");
    const MqttResult nagle = measureMqttSetAndState(matrixdPath, settings.mqttRounds, false);
    if (!nagle.error.isEmpty()) {
        table.add({QStringLiteral("7f"),
                   QStringLiteral("Broker with set_tcp_nodelay false"),
                   {},
                   {},
                   {},
                   {},
                   failed(nagle.error)});
        return;
    }
    table.add({QStringLiteral("7f"),
               QStringLiteral("Broker's default set_tcp_nodelay false: reply to routes (%1)")
                   .arg(nagle.replyToRoutes.count),
               QStringLiteral("absolute"),
               formatMs(nagle.replyToRoutes.median),
               formatMs(nagle.replyToRoutes.p90),
               QStringLiteral("baseline"),
               {}});
    table.note(QStringLiteral("7f: a second set-up, its broker at mosquitto's default "
                              "set_tcp_nodelay false, otherwise as 7a-e. Medians: routes %1 "
                              "later than with true; to output/B (the burst's first message) %2, "
                              "set to line %3, broker round trip %4; state not followed within "
                              "2 s %5.")
                   .arg(formatMs(nagle.replyToRoutes.median - m.replyToRoutes.median),
                        formatMs(nagle.replyToState.median), formatMs(nagle.setToLine.median),
                        formatMs(nagle.brokerRoundTrip.median))
                   .arg(nagle.timeouts));
}

void addVideohubRows(Table& table, const Settings& settings, const QString& matrixdPath,
                     const QString& simPath)
{
    auto failedRow = [&](const QString& id, const QString& what, const QString& error) {
        table.add({id, what, {}, {}, {}, {}, failed(error)});
    };
    if (matrixdPath.isEmpty() || simPath.isEmpty())
        return failedRow(QStringLiteral("8"), QStringLiteral("matrixd for router control clients"),
                         QStringLiteral("matrixd or matrix-sim not built"));
    progress("8a-c a routing block to the line, the reply to the block at every client");
    const QString load = loadAverage();
    const VideohubRouteResult v =
        measureVideohubRoutes(matrixdPath, settings.videohubClients, settings.videohubRounds);
    if (!v.error.isEmpty()) {
        failedRow(QStringLiteral("8a"), QStringLiteral("Router control routes"), v.error);
    } else {
        table.add({QStringLiteral("8a"),
                   QStringLiteral("Routing block to the line, idle: write to frame readable (%1)")
                       .arg(v.blockToLine.count),
                   QStringLiteral("absolute"), formatMs(v.blockToLine.median),
                   formatMs(v.blockToLine.p90), QStringLiteral("< 2 ms median"),
                   verdictBelow(v.blockToLine.median, 2, QStringLiteral("ms"))});
        table.add({QStringLiteral("8b"),
                   QStringLiteral("Reply to the routing block at each of %1 clients: first paced "
                                  "byte to block read (%2)")
                       .arg(v.clients)
                       .arg(v.replyToBlock.count),
                   QStringLiteral("absolute"), formatMs(v.replyToBlock.median),
                   formatMs(v.replyToBlock.p90), QStringLiteral("baseline"), {}});
        const double afterSettle = v.replyToBlock.median - v.timerAlone.median;
        table.add({QStringLiteral("8c"),
                   QStringLiteral("Reply to the block after the 30 ms settle: 8b - a 30 ms timer "
                                  "alone (%1), medians")
                       .arg(formatMs(v.timerAlone.median)),
                   QStringLiteral("absolute"), formatMs(afterSettle), {},
                   QStringLiteral("within 2 ms"),
                   v.timeouts ? QStringLiteral("MISSED: %1 timeouts").arg(v.timeouts)
                              : verdictBelow(afterSettle, 2, QStringLiteral("ms"))});
        table.note(QStringLiteral("8a-c: matrixd --poll 0 --videohub 127.0.0.1:PORT, %1 clients "
                                  "of this side's on loopback, the first sending; %2 rounds after "
                                  "%3 not counted. Medians: the first client's block to the last's "
                                  "%4 (max %5); the 3 paced reply bytes took %6; max of 8a %7, of "
                                  "8b %8. Wrong or missing frames %9, rounds with a client not told "
                                  "within 2 s %10, commands matrixd logged as failed %11. Load "
                                  "average when they started: %12.")
                       .arg(v.clients)
                       .arg(v.rounds)
                       .arg(v.warmups)
                       .arg(formatMs(v.spread.median), formatMs(v.spread.max),
                            formatMs(v.writeSpan.median), formatMs(v.blockToLine.max),
                            formatMs(v.replyToBlock.max))
                       .arg(v.wrongFrames)
                       .arg(v.timeouts)
                       .arg(v.failures)
                       .arg(load));
    }

    progress("8d-e matrixd's memory with router control clients over many routes");
    const VideohubMemoryResult m = measureVideohubMemory(matrixdPath, simPath, settings.videohubClients,
                                                         settings.videohubRoutes);
    if (!m.error.isEmpty())
        return failedRow(QStringLiteral("8d"), QStringLiteral("Router control memory"), m.error);
    table.add({QStringLiteral("8d"),
               QStringLiteral("Resident memory of matrixd, %1 router control clients, after %L2 "
                              "routes")
                   .arg(m.clients)
                   .arg(m.routes),
               QStringLiteral("absolute"), mb(double(m.lastKb)), {}, QStringLiteral("< 20 MB"),
               m.maxKb < 20 * 1024
                   ? QStringLiteral("met")
                   : QStringLiteral("MISSED: %1 at most").arg(mb(double(m.maxKb)))});
    const double ratio = double(m.lastKb) / double(m.firstKb);
    table.add({QStringLiteral("8e"),
               QStringLiteral("matrixd's memory, after %L1 / after %L2 routes")
                   .arg(m.routes)
                   .arg(m.firstAt),
               QStringLiteral("ratio"), formatRatio(ratio), {}, QStringLiteral("< 1.05x (flat)"),
               ratio < 1.05 ? QStringLiteral("met")
                            : QStringLiteral("MISSED by %1").arg(formatRatio(ratio - 1.05))});
    table.note(QStringLiteral("8d-e: the simulator without pacing as the switcher; one client "
                              "routes, each route changing its output and waited for at every "
                              "client: %L1 routes in %2 s; resident memory %3 after %L4 routes, "
                              "%5 at most; routes refused or not told to every client within 2 s: "
                              "%6.")
                   .arg(m.routes)
                   .arg(m.seconds, 0, 'f', 1)
                   .arg(mb(double(m.firstKb)))
                   .arg(m.firstAt)
                   .arg(mb(double(m.maxKb)))
                   .arg(m.refused));
}

} // namespace

void addHttpRows(Table& table, const Settings& settings, const QString& matrixdPath)
{
    auto failedRow = [&](const QString& id, const QString& what, const QString& error) {
        table.add({id, what, {}, {}, {}, {}, failed(error)});
    };
    if (matrixdPath.isEmpty())
        return failedRow(QStringLiteral("8"), QStringLiteral("matrixd on the web"),
                         QStringLiteral("matrixd not built"));
    progress("8a-h matrixd's web page and HTTP API");
    const QString load = loadAverage();
    const HttpResult h = measureHttp(matrixdPath, settings.http);
    if (!h.error.isEmpty())
        return failedRow(QStringLiteral("8"), QStringLiteral("matrixd on the web"), h.error);
    table.add({QStringLiteral("8a"),
               QStringLiteral("PUT outputs/B to its frame readable on the idle line (%1)")
                   .arg(h.putToFrame.count),
               QStringLiteral("absolute"), formatMs(h.putToFrame.median),
               formatMs(h.putToFrame.p90), QStringLiteral("< 5 ms median"),
               verdictBelow(h.putToFrame.median, 5, QStringLiteral("ms"))});
    table.add({QStringLiteral("8b"),
               QStringLiteral("Announcement to event at each of %1 WebSockets: first byte to "
                              "event (%2)")
                   .arg(h.clients)
                   .arg(h.replyToEvents.count),
               QStringLiteral("absolute"), formatMs(h.replyToEvents.median),
               formatMs(h.replyToEvents.p90), QStringLiteral("baseline"), {}});
    const double afterSettle = h.replyToEvents.median - h.timerAlone.median;
    table.add({QStringLiteral("8c"),
               QStringLiteral("State change to event at each client: 8b - the 30 ms timer alone (%1), "
                              "medians")
                   .arg(formatMs(h.timerAlone.median)),
               QStringLiteral("absolute"), formatMs(afterSettle), {}, QStringLiteral("< 2 ms median"),
               h.missedEvents ? QStringLiteral("MISSED: %1 changes").arg(h.missedEvents)
                              : verdictBelow(afterSettle, 2, QStringLiteral("ms"))});
    if (!h.loadError.isEmpty()) {
        failedRow(QStringLiteral("8d"), QStringLiteral("GET state under wrk"), h.loadError);
    } else {
        const double ratio = h.nginx.requestsPerSecond > 0
                                 ? h.matrixd.requestsPerSecond / h.nginx.requestsPerSecond
                                 : 0;
        table.add({QStringLiteral("8d"),
                   QStringLiteral("GET state under wrk, 32 connections %1 s: matrixd %2/s, nginx "
                                  "static %3/s")
                       .arg(settings.http.wrkSeconds)
                       .arg(h.matrixd.requestsPerSecond, 0, 'f', 0)
                       .arg(h.nginx.requestsPerSecond, 0, 'f', 0),
                   QStringLiteral("ratio"), formatRatio(ratio), {}, QStringLiteral(">= 0.5"),
                   ratio >= 0.5 ? QStringLiteral("met")
                                : QStringLiteral("MISSED: %1").arg(formatRatio(ratio))});
        table.add({QStringLiteral("8e"),
                   QStringLiteral("GET state under the same load: p99 latency, matrixd (nginx %1)")
                       .arg(formatMs(h.nginx.p99Ms)),
                   QStringLiteral("absolute"), formatMs(h.matrixd.p99Ms), {},
                   QStringLiteral("< 10 ms p99"),
                   verdictBelow(h.matrixd.p99Ms, 10, QStringLiteral("ms"))});
    }
    if (!h.pageError.isEmpty()) {
        failedRow(QStringLiteral("8f"), QStringLiteral("The page in chromium"), h.pageError);
    } else {
        table.add({QStringLiteral("8f"), QStringLiteral("The page's files, bytes as sent"),
                   QStringLiteral("count"), QStringLiteral("%1 KB").arg(h.pageBytes / 1000, 0, 'f', 1),
                   {}, QStringLiteral("< 60 KB"),
                   h.pageBytes < 60'000 ? QStringLiteral("met") : QStringLiteral("MISSED")});
        table.add({QStringLiteral("8g"),
                   QStringLiteral("Navigation start to the state shown, chromium at 360 px (%1)")
                       .arg(h.pageToState.count),
                   QStringLiteral("absolute"), formatMs(h.pageToState.median),
                   formatMs(h.pageToState.p90), QStringLiteral("< 300 ms median"),
                   verdictBelow(h.pageToState.median, 300, QStringLiteral("ms"))});
    }
    const long most = std::max({h.withClientsKb, h.afterFirstKb, h.afterSecondKb});
    table.add({QStringLiteral("8h"),
               QStringLiteral("matrixd's memory with %1 WebSockets, after %2 and %3 requests: "
                              "%4, %5, %6 (at start %7)")
                   .arg(h.clients)
                   .arg(h.requestsPerBlock)
                   .arg(2 * h.requestsPerBlock)
                   .arg(mb(double(h.withClientsKb)), mb(double(h.afterFirstKb)),
                        mb(double(h.afterSecondKb)), mb(double(h.startKb))),
               QStringLiteral("absolute"), mb(double(most)), {}, QStringLiteral("< 30 MB, flat"),
               most < 30 * 1024 && h.afterSecondKb <= h.afterFirstKb + 256
                   ? QStringLiteral("met")
                   : QStringLiteral("MISSED")});
    table.note(QStringLiteral("8a-h: matrixd --poll 0 --http on loopback, this side playing the "
                              "switcher on a pseudo-terminal; %1 rounds after 3 not counted; "
                              "events spread from the first client to the last %2 median; wrong "
                              "frames %3, changes not heard by every client %4; wrk -t1 -c32, "
                              "errors matrixd %5, nginx %6 (one worker, the JSON as a static "
                              "file, on the same 2 cores as wrk); page timing %7 loads in fresh "
                              "contexts after one not counted. Load average when they started: "
                              "%8.")
                   .arg(h.rounds)
                   .arg(formatMs(h.eventSpread.median))
                   .arg(h.wrongFrames)
                   .arg(h.missedEvents)
                   .arg(h.matrixd.errors)
                   .arg(h.nginx.errors)
                   .arg(h.pageToState.count)
                   .arg(load));
}

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
    const bool webOnly = args.contains(QLatin1String("--web"));
    if (args.size() > 1 + int(quick) + int(webOnly)) {
        std::fprintf(stderr, "usage: matrix-bench [--quick] [--web]\n");
        return 2;
    }
    const Settings settings = quick ? quickSettings() : Settings{};
    const QString panelPath = sibling(QStringLiteral("/../apps/panel/matrix-panel"));
    const QString matrixdPath = sibling(QStringLiteral("/../apps/matrixd/matrixd"));
    const QString simPath = sibling(QStringLiteral("/../apps/matrix-sim/matrix-sim"));
    const QString loadBefore = loadAverage();

    Table table;
    if (webOnly) {
        addHttpRows(table, settings, matrixdPath);
        table.note(QStringLiteral("Machine: %1 cores, load average %2 before and %3 after; Qt %4.")
                       .arg(QThread::idealThreadCount())
                       .arg(loadBefore, loadAverage(), QString::fromLatin1(qVersion())));
        std::fputs(qPrintable(table.render()), stdout);
        return 0;
    }

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

    addDaemonRows(table, settings, matrixdPath, simPath);
    addMqttRows(table, settings, matrixdPath);
    addVideohubRows(table, settings, matrixdPath, simPath);
    addHttpRows(table, settings, matrixdPath);

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
