#include "videohubmeasures.h"

#include "rig.h"
#include "support/freeport.h"
#include "support/videohubclient.h"
#include "switcher/commandframe.h"
#include "switcher/replies.h"
#include "switcher/wire.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Clients = std::vector<std::unique_ptr<VideohubClient>>;

const QString kRouting = QStringLiteral("VIDEO OUTPUT ROUTING:");

QStringList videohubArguments(int port)
{
    return {QStringLiteral("--videohub"), QStringLiteral("127.0.0.1:%1").arg(port)};
}

QString connectClients(Clients& clients, int count, int port)
{
    for (int n = 0; n < count; ++n) {
        auto client = std::make_unique<VideohubClient>();
        if (!client->connectTo(port) || !client->waitForGreeting())
            return QStringLiteral("client %1 of %2 got no greeting").arg(n + 1).arg(count);
        client->blocks.clear();
        clients.push_back(std::move(client));
    }
    return {};
}

// "1 2": output B (1..4) on input 3 (1..4), as the protocol counts.
QString routeItem(int output, int input)
{
    return QStringLiteral("%1 %2").arg(output - 1).arg(input - 1);
}

QByteArray routingBlock(const QString& item)
{
    return (kRouting + u'\n' + item + QStringLiteral("\n\n")).toUtf8();
}

// When the client read a routing block holding `item`, if it has.
std::optional<Clock::time_point> toldAt(const VideohubClient& client, const QString& item)
{
    for (const VideohubClient::Block& block : client.blocks) {
        if (block.header == kRouting && block.items.contains(item))
            return block.at;
    }
    return std::nullopt;
}

// Runs the event loop until every client has read a routing block holding `item`; false after
// two seconds.
bool awaitEveryClient(Clients& clients, const QString& item)
{
    auto everyone = [&] {
        return std::all_of(clients.begin(), clients.end(),
                           [&](const auto& client) { return toldAt(*client, item).has_value(); });
    };
    if (everyone())
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (const auto& client : clients) {
        // After the client's own reading, which was connected first.
        QObject::connect(&client->socket(), &QTcpSocket::readyRead, &loop, [&] {
            if (everyone())
                loop.quit();
        });
    }
    timeout.start(2s);
    loop.exec();
    return everyone();
}

int failuresLogged(const Tool& daemon)
{
    const QString log = daemon.log();
    return int(log.count(QStringLiteral("not confirmed")) + log.count(QStringLiteral(" failed: ")) +
               log.count(QStringLiteral("refused")));
}

} // namespace

VideohubRouteResult measureVideohubRoutes(const QString& matrixdPath, int clientCount, int rounds)
{
    VideohubRouteResult r;
    const int port = freeLoopbackPort();
    if (port == 0) {
        r.error = QStringLiteral("no free loopback port");
        return r;
    }
    DaemonOnLine daemon(matrixdPath, videohubArguments(port));
    if (!daemon.ok()) {
        r.error = daemon.error();
        return r;
    }
    Clients clients;
    r.error = connectClients(clients, clientCount, port);
    if (!r.error.isEmpty())
        return r;
    VideohubClient& asker = *clients.front();
    QTimer settle;
    settle.setSingleShot(true);
    settle.setTimerType(Qt::PreciseTimer);
    settle.setInterval(wire::kSettleWait);

    // The first rounds wake code paths that are cold, on every side; not counted.
    constexpr int kWarmup = 3;
    std::vector<double> toLine, toBlock, spread, timer, writeSpan;
    for (int n = 0; n < rounds + kWarmup; ++n) {
        const bool counted = n >= kWarmup;
        // 2, 3, 4, 1, 2, ...: every round changes output B.
        const int input = (n + 1) % 4 + 1;
        const QString item = routeItem(2, input);
        const CommandFrame frame = buttonCommandFrame(inputButtonIndex(2, input));
        for (const auto& client : clients)
            client->blocks.clear();

        const auto sentAt = Clock::now();
        const bool sent = asker.send(routingBlock(item));
        const QByteArray got = daemon.line().read(500ms, frame.size());
        const auto frameAt = Clock::now();
        if (!sent || got != frame) {
            if (counted)
                ++r.wrongFrames;
            // matrixd gives up on the command, its line idle again; a late frame is dropped.
            runEventLoopFor(600ms);
            daemon.line().readAvailable();
            continue;
        }

        Clock::time_point first;
        Clock::time_point last;
        std::thread switcher([&] {
            first = Clock::now();
            last = writePaced(daemon.line(), reply::route(2, input));
        });
        const bool told = awaitEveryClient(clients, item);
        switcher.join();

        // The settle timer alone, in the same conditions.
        QEventLoop loop;
        QObject::connect(&settle, &QTimer::timeout, &loop, &QEventLoop::quit);
        const auto timerAt = Clock::now();
        settle.start();
        loop.exec();
        timer.push_back(msBetween(timerAt, Clock::now()));
        // Anything late from this round arrives before the next.
        runEventLoopFor(10ms);

        if (!counted)
            continue;
        if (!told) {
            ++r.timeouts;
            continue;
        }
        toLine.push_back(msBetween(sentAt, frameAt));
        writeSpan.push_back(msBetween(first, last));
        Clock::time_point earliest = Clock::time_point::max();
        Clock::time_point latest = Clock::time_point::min();
        for (const auto& client : clients) {
            const Clock::time_point at = *toldAt(*client, item);
            toBlock.push_back(msBetween(first, at));
            earliest = std::min(earliest, at);
            latest = std::max(latest, at);
        }
        spread.push_back(msBetween(earliest, latest));
    }
    r.failures = failuresLogged(daemon.daemon());
    r.blockToLine = summarize(toLine);
    r.replyToBlock = summarize(toBlock);
    r.spread = summarize(spread);
    r.timerAlone = summarize(timer);
    r.writeSpan = summarize(writeSpan);
    r.clients = clientCount;
    r.rounds = rounds;
    r.warmups = kWarmup;
    if (toBlock.empty())
        r.error = QStringLiteral("no round completed (%1 wrong frames, %2 timeouts): %3")
                      .arg(r.wrongFrames)
                      .arg(r.timeouts)
                      .arg(daemon.daemon().tail());
    return r;
}

VideohubMemoryResult measureVideohubMemory(const QString& matrixdPath, const QString& simPath,
                                           int clientCount, int routes)
{
    VideohubMemoryResult r;
    QTemporaryDir dir;
    const int port = freeLoopbackPort();
    if (!dir.isValid() || port == 0) {
        r.error = QStringLiteral("no temporary directory or no free loopback port");
        return r;
    }
    Tool sim(dir.filePath(QStringLiteral("sim.log")));
    r.error = startSimulator(sim, simPath, dir,
                             {QStringLiteral("--no-pacing"), QStringLiteral("--quiet")}, false);
    if (!r.error.isEmpty())
        return r;
    Tool daemon(dir.filePath(QStringLiteral("matrixd.log")));
    if (!daemon.start(matrixdPath, daemonArguments(dir, QStringLiteral("0")) + videohubArguments(port))) {
        r.error = QStringLiteral("%1 did not start").arg(matrixdPath);
        return r;
    }
    if (!waitUntil([&] { return daemon.log().contains(QStringLiteral("switcher answering")); }, 5s)) {
        r.error = QStringLiteral("matrixd did not reach the switcher: %1").arg(daemon.tail());
        return r;
    }
    Clients clients;
    r.error = connectClients(clients, clientCount, port);
    if (!r.error.isEmpty())
        return r;
    VideohubClient& asker = *clients.front();
    r.firstAt = std::max(1, std::min(1000, routes / 10));
    const auto t0 = Clock::now();
    for (int n = 0; n < routes; ++n) {
        // Each output in turn, each time on the input after the one it has: every route
        // changes the state, and every client is told.
        const int output = n % 4 + 1;
        const int input = (n / 4 + 1) % 4 + 1;
        const QString item = routeItem(output, input);
        for (const auto& client : clients)
            client->blocks.clear();
        if (!asker.send(routingBlock(item)) || !awaitEveryClient(clients, item) ||
            asker.blocks.contains(QStringLiteral("NAK")))
            ++r.refused;
        r.routes = n + 1;
        if (r.routes == r.firstAt) {
            r.firstKb = residentKb(daemon.pid());
            r.maxKb = r.firstKb;
        }
        if (r.routes % 1000 == 0) {
            r.maxKb = std::max(r.maxKb, residentKb(daemon.pid()));
            std::fprintf(stderr, "matrix-bench: 8d %d of %d routes\n", r.routes, routes);
        }
    }
    r.seconds = msBetween(t0, Clock::now()) / 1000;
    r.lastKb = residentKb(daemon.pid());
    r.maxKb = std::max(r.maxKb, r.lastKb);
    r.clients = clientCount;
    if (r.firstKb <= 0 || r.lastKb <= 0)
        r.error = QStringLiteral("matrixd's memory unreadable: %1").arg(daemon.tail());
    return r;
}
