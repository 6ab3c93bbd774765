#include "mqttmeasures.h"

#include "switcher/wire.h"

#include "mqttclient.h"
#include "switcher/commandframe.h"
#include "switcher/replies.h"
#include "serial/replyintake.h"
#include "rig.h"
#include "support/freeport.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const QString kBase = QStringLiteral("matrix/matrix"); // matrixd's default id
const QString kSetTopic = kBase + QStringLiteral("/output/B/set");
const QString kStateTopic = kBase + QStringLiteral("/output/B");
const QString kRoutesTopic = kBase + QStringLiteral("/routes");
const QString kAvailabilityTopic = kBase + QStringLiteral("/availability");
const QString kEchoTopic = QStringLiteral("matrix-bench/echo");


// The broker with a configuration of its own: loopback only, nothing kept on disk.
QString startBroker(Tool& broker, const QTemporaryDir& dir, int port, bool noDelay)
{
    QString config = QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n"
                                    "persistence false\nlog_dest stderr\nlog_type error\n"
                                    "log_type warning\nlog_type notice\nlog_type information\n"
                                    "connection_messages false\nset_tcp_nodelay %2\n")
                         .arg(port)
                         .arg(noDelay ? QStringLiteral("true") : QStringLiteral("false"));
    // As root it would switch to the user "mosquitto", who cannot read this directory.
    if (::geteuid() == 0)
        config += QStringLiteral("user root\n");
    QFile file(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) != config.toUtf8().size())
        return QStringLiteral("cannot write the broker's configuration");
    file.close();
    if (!broker.start(mosquittoPath(), {QStringLiteral("-c"), file.fileName()}))
        return QStringLiteral("%1 did not start").arg(mosquittoPath());
    if (!waitUntil([&] { return broker.log().contains(QStringLiteral(" running")); }, 5s))
        return QStringLiteral("the broker did not come up: %1").arg(broker.tail());
    return {};
}

// This side's client: the last payload and arrival time of every topic it follows, and a
// callback at each arrival so a measurement can stop its event loop at once.
class Follower {
public:
    explicit Follower(int port) : client_(settings(port))
    {
        QObject::connect(&client_, &MqttClient::connected, &client_, [this] {
            for (const QString& topic : {kStateTopic, kRoutesTopic, kAvailabilityTopic, kEchoTopic})
                client_.subscribe(topic);
        });
        QObject::connect(&client_, &MqttClient::messageReceived, &client_,
                         [this](const QString& topic, const QByteArray& payload, bool) {
                             last_[topic] = {payload, Clock::now(), true};
                             if (arrived)
                                 arrived(topic, payload);
                         });
        client_.start();
    }

    struct Arrival {
        QByteArray payload;
        Clock::time_point at;
        bool seen = false;
    };
    Arrival last(const QString& topic) const { return last_.value(topic); }
    void forget() { last_.clear(); }
    bool publish(const QString& topic, const QByteArray& payload)
    {
        return client_.publish(topic, payload, false);
    }
    bool isConnected() const { return client_.isConnected(); }

    std::function<void(const QString&, const QByteArray&)> arrived;

private:
    static MqttSettings settings(int port)
    {
        MqttSettings s;
        s.host = QStringLiteral("127.0.0.1");
        s.port = port;
        s.clientId = QStringLiteral("matrix-bench");
        return s;
    }

    MqttClient client_;
    QHash<QString, Arrival> last_;
};

} // namespace

QString mosquittoPath()
{
    return QStringLiteral("/usr/sbin/mosquitto");
}

MqttResult measureMqttSetAndState(const QString& matrixdPath, int rounds, bool brokerNoDelay)
{
    MqttResult r;
    if (!QFileInfo(mosquittoPath()).isExecutable()) {
        r.error = QStringLiteral("no broker: %1 is not installed (apt-get install mosquitto)")
                      .arg(mosquittoPath());
        return r;
    }
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir(dir.path()).mkpath(QStringLiteral("line"))) {
        r.error = QStringLiteral("no temporary directory");
        return r;
    }
    const int port = freeLoopbackPort();
    if (port == 0) {
        r.error = QStringLiteral("no free loopback port");
        return r;
    }
    // Torn down in reverse: matrixd first, so it leaves the broker cleanly.
    Tool broker(dir.filePath(QStringLiteral("mosquitto.log")));
    r.error = startBroker(broker, dir, port, brokerNoDelay);
    if (!r.error.isEmpty())
        return r;
    PseudoTerminal line;
    const QString lineLink = dir.filePath(QStringLiteral("line/COM1"));
    if (!line.open() || !line.linkAs(lineLink)) {
        r.error = QStringLiteral("no pseudo-terminal");
        return r;
    }
    Follower follower(port);
    if (!waitUntil([&] { return follower.isConnected(); }, 5s)) {
        r.error = QStringLiteral("the bench's client did not connect to the broker");
        return r;
    }
    Tool daemon(dir.filePath(QStringLiteral("matrixd.log")));
    if (!daemon.start(matrixdPath, {QStringLiteral("--port"), lineLink, QStringLiteral("--poll"),
                                    QStringLiteral("0"), QStringLiteral("--mqtt"),
                                    QStringLiteral("127.0.0.1:%1").arg(port)})) {
        r.error = QStringLiteral("%1 did not start").arg(matrixdPath);
        return r;
    }
    if (line.read(5s, statusQueryFrame().size()) != statusQueryFrame()) {
        r.error = QStringLiteral("matrixd sent no status query at start-up: %1").arg(daemon.tail());
        return r;
    }
    line.write(reply::status({1, 1, 1, 1}));
    if (!waitUntil(
            [&] {
                return follower.last(kAvailabilityTopic).payload == "online" &&
                       follower.last(kStateTopic).payload == "Input 1";
            },
            5s)) {
        r.error =
            QStringLiteral("matrixd did not publish the switcher online: %1").arg(daemon.tail());
        return r;
    }

    QEventLoop loop;
    std::function<bool()> waitingFor;
    follower.arrived = [&](const QString&, const QByteArray&) {
        if (waitingFor && waitingFor())
            loop.quit();
    };
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Runs the loop until `done` holds; false after two seconds.
    auto await = [&](std::function<bool()> done) {
        waitingFor = std::move(done);
        if (!waitingFor()) {
            timeout.start(2s);
            loop.exec();
            timeout.stop();
        }
        const bool ok = waitingFor();
        waitingFor = nullptr;
        return ok;
    };
    QTimer settle;
    settle.setSingleShot(true);
    settle.setTimerType(Qt::PreciseTimer);
    settle.setInterval(wire::kSettleWait);
    QObject::connect(&settle, &QTimer::timeout, &loop, &QEventLoop::quit);

    // The first rounds wake code paths that are cold, on all three sides; not counted.
    constexpr int kWarmup = 3;
    std::vector<double> toLine, toState, toRoutes, timer, roundTrip, writeSpan;
    for (int n = 0; n < rounds + kWarmup; ++n) {
        const bool counted = n >= kWarmup;
        // 2, 3, 4, 1, 2, ...: every set changes output B.
        const int input = (n + 1) % 4 + 1;
        const QByteArray state = QByteArrayLiteral("Input ") + QByteArray::number(input);
        const CommandFrame frame = buttonCommandFrame(inputButtonIndex(2, input));
        follower.forget();

        // 7a: nothing else on matrixd's line; the publish is written to the socket at once.
        const auto publishAt = Clock::now();
        const bool sent = follower.publish(kSetTopic, QByteArray::number(input));
        const QByteArray got = line.read(500ms, frame.size());
        const auto frameAt = Clock::now();
        if (!sent || got != frame) {
            if (counted)
                ++r.wrongFrames;
            // matrixd gives up on the command, its line idle again; a late frame is dropped.
            runEventLoopFor(600ms);
            line.read(5ms, 4096);
            continue;
        }

        // 7b: the switcher confirms at 9600 baud.
        Clock::time_point first;
        Clock::time_point last;
        std::thread switcher([&] {
            first = Clock::now();
            last = writePaced(line, reply::route(2, input));
        });
        const bool followed = await([&] {
            return follower.last(kStateTopic).payload == state && follower.last(kRoutesTopic).seen;
        });
        switcher.join();

        // Baselines in the same conditions: the broker's round trip, and the settle timer.
        const auto echoAt = Clock::now();
        const bool echoed = follower.publish(kEchoTopic, QByteArray::number(n)) &&
                            await([&] { return follower.last(kEchoTopic).seen; });
        const auto timerAt = Clock::now();
        settle.start();
        loop.exec();
        const auto timerEnd = Clock::now();
        // Anything late from this round arrives before the next.
        runEventLoopFor(10ms);

        if (!counted)
            continue;
        if (!followed) {
            ++r.timeouts;
            continue;
        }
        toLine.push_back(msBetween(publishAt, frameAt));
        toState.push_back(msBetween(first, follower.last(kStateTopic).at));
        toRoutes.push_back(msBetween(first, follower.last(kRoutesTopic).at));
        writeSpan.push_back(msBetween(first, last));
        timer.push_back(msBetween(timerAt, timerEnd));
        if (echoed)
            roundTrip.push_back(msBetween(echoAt, follower.last(kEchoTopic).at));
    }
    follower.arrived = nullptr;
    const QString log = daemon.log();
    r.failures = int(log.count(QStringLiteral("not confirmed")) +
                     log.count(QStringLiteral(" failed: ")) + log.count(QStringLiteral("refused")));
    r.setToLine = summarize(toLine);
    r.replyToState = summarize(toState);
    r.replyToRoutes = summarize(toRoutes);
    r.timerAlone = summarize(timer);
    r.brokerRoundTrip = summarize(roundTrip);
    r.writeSpan = summarize(writeSpan);
    r.rounds = rounds;
    r.warmups = kWarmup;
    if (toState.empty())
        r.error = QStringLiteral("no round completed (%1 wrong frames, %2 timeouts): %3")
                      .arg(r.wrongFrames)
                      .arg(r.timeouts)
                      .arg(daemon.tail());
    return r;
}
