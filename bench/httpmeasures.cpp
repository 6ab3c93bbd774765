#include "httpmeasures.h"

#include "posix/pseudoterminal.h"
#include "switcher/commandframe.h"
#include "switcher/replies.h"
#include "switcher/wire.h"
#include "rig.h"
#include "support/freeport.h"
#include "support/httpclient.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>

#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A whole HTTP answer in `bytes`: headers, then as many body bytes as they announce.
bool isWholeAnswer(const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    static const QRegularExpression length(QStringLiteral("\r\nContent-Length: ([0-9]+)\r\n"),
                                           QRegularExpression::CaseInsensitiveOption);
    const auto match = length.match(QString::fromLatin1(bytes.left(end + 2)));
    return match.hasMatch() && bytes.size() - end - 4 >= match.captured(1).toLongLong();
}

QByteArray request(const QByteArray& method, const QByteArray& path, int port,
                   const QByteArray& body = {})
{
    QByteArray text = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                      QByteArray::number(port) + "\r\n";
    if (!body.isEmpty())
        text += "Content-Type: application/json\r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\n";
    return text + "\r\n" + body;
}

// Sends one request on a kept-alive connection and waits for its whole answer.
bool exchange(RawConnection& connection, const QByteArray& bytes)
{
    connection.received.clear();
    return connection.send(bytes) &&
           connection.waitFor([](const QByteArray& got) { return isWholeAnswer(got); }, 5000) &&
           connection.status() == 200;
}

HttpResult::Load runWrk(const QString& url, int seconds, QString& error)
{
    QProcess wrk;
    wrk.start(QStringLiteral("wrk"), {QStringLiteral("-t1"), QStringLiteral("-c32"),
                                      QStringLiteral("-d%1s").arg(seconds),
                                      QStringLiteral("--latency"), url});
    HttpResult::Load load;
    if (!wrk.waitForFinished((seconds + 20) * 1000) || wrk.exitCode() != 0) {
        error = QStringLiteral("wrk failed: %1").arg(QString::fromLocal8Bit(wrk.readAllStandardError()));
        return load;
    }
    const QString out = QString::fromLocal8Bit(wrk.readAllStandardOutput());
    static const QRegularExpression rate(QStringLiteral("Requests/sec:\\s+([0-9.]+)"));
    static const QRegularExpression p99(QStringLiteral("\\n\\s+99%\\s+([0-9.]+)(us|ms|s)"));
    static const QRegularExpression bad(QStringLiteral("Non-2xx or 3xx responses: ([0-9]+)"));
    static const QRegularExpression socketErrors(
        QStringLiteral("Socket errors: connect ([0-9]+), read ([0-9]+), write ([0-9]+), timeout ([0-9]+)"));
    const auto r = rate.match(out);
    const auto p = p99.match(out);
    if (!r.hasMatch() || !p.hasMatch()) {
        error = QStringLiteral("cannot read wrk's output: %1").arg(out.left(300));
        return load;
    }
    load.requestsPerSecond = r.captured(1).toDouble();
    const double scale = p.captured(2) == u"us" ? 0.001 : p.captured(2) == u"ms" ? 1 : 1000;
    load.p99Ms = p.captured(1).toDouble() * scale;
    if (const auto b = bad.match(out); b.hasMatch())
        load.errors += b.captured(1).toLong();
    if (const auto s = socketErrors.match(out); s.hasMatch())
        for (int i = 1; i <= 4; ++i)
            load.errors += s.captured(i).toLong();
    return load;
}

// Debian's nginx on its own configuration and port, one worker like matrixd's one thread,
// serving `json` as a static file.
QString startNginx(Tool& nginx, const QTemporaryDir& dir, int port, const QByteArray& json)
{
    if (!QFileInfo(QStringLiteral("/usr/sbin/nginx")).isExecutable())
        return QStringLiteral("no /usr/sbin/nginx (apt-get install nginx)");
    QDir(dir.path()).mkpath(QStringLiteral("www"));
    QFile state(dir.filePath(QStringLiteral("www/state.json")));
    if (!state.open(QIODevice::WriteOnly) || state.write(json) != json.size())
        return QStringLiteral("cannot write the static state");
    state.close();
    QString config = QStringLiteral(
                         "worker_processes 1;\ndaemon off;\npid %1/nginx.pid;\n"
                         "error_log %1/nginx-error.log;\nevents { worker_connections 256; }\n"
                         "http {\n  access_log off;\n  client_body_temp_path %1;\n"
                         "  proxy_temp_path %1;\n  fastcgi_temp_path %1;\n  uwsgi_temp_path %1;\n"
                         "  scgi_temp_path %1;\n"
                         "  server {\n    listen 127.0.0.1:%2;\n    root %1/www;\n"
                         "    location / { default_type application/json; add_header Cache-Control no-store; }\n"
                         "  }\n}\n")
                         .arg(dir.path())
                         .arg(port);
    if (::geteuid() == 0)
        config.prepend(QStringLiteral("user root;\n"));
    QFile file(dir.filePath(QStringLiteral("nginx.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
        return QStringLiteral("cannot write nginx's configuration");
    file.close();
    if (!nginx.start(QStringLiteral("/usr/sbin/nginx"),
                     {QStringLiteral("-p"), dir.path(), QStringLiteral("-e"),
                      dir.filePath(QStringLiteral("nginx-error.log")), QStringLiteral("-c"),
                      file.fileName()}))
        return QStringLiteral("nginx did not start");
    RawConnection probe;
    if (!waitUntil([&] { return probe.open(port); }, 5s))
        return QStringLiteral("nginx does not listen: %1").arg(nginx.tail());
    return {};
}

} // namespace

HttpResult measureHttp(const QString& matrixdPath, const HttpSettingsForBench& settings)
{
    HttpResult r;
    QTemporaryDir dir;
    const int port = freeLoopbackPort();
    if (!dir.isValid() || port == 0) {
        r.error = QStringLiteral("no temporary directory or free port");
        return r;
    }
    PseudoTerminal line;
    const QString lineLink = dir.filePath(QStringLiteral("COM1"));
    if (!line.open() || !line.linkAs(lineLink)) {
        r.error = QStringLiteral("no pseudo-terminal");
        return r;
    }
    Tool daemon(dir.filePath(QStringLiteral("matrixd.log")));
    if (!daemon.start(matrixdPath, {QStringLiteral("--port"), lineLink, QStringLiteral("--poll"),
                                    QStringLiteral("0"), QStringLiteral("--http"),
                                    QStringLiteral("127.0.0.1:%1").arg(port)})) {
        r.error = QStringLiteral("%1 did not start").arg(matrixdPath);
        return r;
    }
    if (line.read(5s, statusQueryFrame().size()) != statusQueryFrame()) {
        r.error = QStringLiteral("matrixd sent no status query at start-up: %1").arg(daemon.tail());
        return r;
    }
    line.write(reply::status({1, 1, 1, 1}));
    RawConnection api;
    if (!waitUntil([&] { return api.open(port); }, 5s) ||
        !waitUntil([&] { return exchange(api, request("GET", "/healthz", port)) &&
                                api.received.contains("\"answering\":true"); }, 5s)) {
        r.error = QStringLiteral("matrixd does not serve HTTP: %1").arg(daemon.tail());
        return r;
    }
    r.startKb = residentKb(daemon.pid());

    // 8a: the request written whole, the line idle, to the frame readable at the switcher.
    constexpr int kWarmup = 3;
    std::vector<double> toFrame;
    for (int n = 0; n < settings.rounds + kWarmup; ++n) {
        const int input = (n + 1) % 4 + 1;
        const CommandFrame frame = buttonCommandFrame(inputButtonIndex(2, input));
        api.received.clear();
        const auto sentAt = Clock::now();
        api.send(request("PUT", "/api/v1/outputs/B", port,
                         "{\"input\":" + QByteArray::number(input) + '}'));
        const QByteArray got = line.read(500ms, frame.size());
        const auto frameAt = Clock::now();
        if (got != frame) {
            ++r.wrongFrames;
            runEventLoopFor(600ms);
            line.read(5ms, 4096);
            continue;
        }
        writePaced(line, reply::route(2, input));
        api.waitFor([](const QByteArray& answer) { return isWholeAnswer(answer); }, 2000);
        if (n >= kWarmup && api.status() == 200)
            toFrame.push_back(msBetween(sentAt, frameAt));
        runEventLoopFor(5ms);
    }
    r.putToFrame = summarize(toFrame);

    // 8b: the switcher announces a change by itself; every client's event.
    std::vector<std::unique_ptr<QWebSocket>> clients;
    std::vector<Clock::time_point> heardAt(std::size_t(settings.clients));
    std::vector<int> heard(std::size_t(settings.clients), 0);
    for (int i = 0; i < settings.clients; ++i) {
        auto client = std::make_unique<QWebSocket>();
        QObject::connect(client.get(), &QWebSocket::textMessageReceived, client.get(),
                         [&heardAt, &heard, i](const QString&) {
                             heardAt[std::size_t(i)] = Clock::now();
                             ++heard[std::size_t(i)];
                         });
        client->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(port)));
        clients.push_back(std::move(client));
    }
    if (!waitUntil([&] { return std::all_of(heard.begin(), heard.end(), [](int h) { return h >= 1; }); }, 10s)) {
        r.error = QStringLiteral("not every WebSocket client got the state: %1").arg(daemon.tail());
        return r;
    }
    r.withClientsKb = residentKb(daemon.pid());
    std::vector<double> toEvents, spread, timer;
    QTimer settle;
    settle.setSingleShot(true);
    settle.setTimerType(Qt::PreciseTimer);
    for (int n = 0; n < settings.rounds + kWarmup; ++n) {
        const std::vector<int> before = heard;
        const int input = n % 2 + 2;
        Clock::time_point first;
        std::thread switcher([&] {
            first = Clock::now();
            writePaced(line, reply::route(1, input));
        });
        const bool all = waitUntil([&] {
            for (std::size_t i = 0; i < heard.size(); ++i)
                if (heard[i] == before[i])
                    return false;
            return true;
        }, 2s);
        switcher.join();
        QEventLoop loop;
        QObject::connect(&settle, &QTimer::timeout, &loop, &QEventLoop::quit);
        const auto timerAt = Clock::now();
        settle.start(wire::kSettleWait);
        loop.exec();
        const double timerMs = msBetween(timerAt, Clock::now());
        runEventLoopFor(10ms);
        if (n < kWarmup)
            continue;
        if (!all) {
            ++r.missedEvents;
            continue;
        }
        Clock::time_point earliest = heardAt.front(), latest = heardAt.front();
        for (const auto at : heardAt) {
            toEvents.push_back(msBetween(first, at));
            earliest = std::min(earliest, at);
            latest = std::max(latest, at);
        }
        spread.push_back(msBetween(earliest, latest));
        timer.push_back(timerMs);
    }
    r.replyToEvents = summarize(toEvents);
    r.eventSpread = summarize(spread);
    r.timerAlone = summarize(timer);
    r.clients = settings.clients;
    r.rounds = settings.rounds;

    // 8f: memory with the clients connected, over two blocks of API requests.
    r.requestsPerBlock = settings.requestsPerBlock;
    for (long* sample : {&r.afterFirstKb, &r.afterSecondKb}) {
        for (int i = 0; i < settings.requestsPerBlock; ++i) {
            if (!exchange(api, request("GET", "/api/v1/state", port))) {
                r.error = QStringLiteral("GET state failed after %1 requests").arg(i);
                return r;
            }
        }
        *sample = residentKb(daemon.pid());
    }
    clients.clear();

    // 8c-8d: the same load on matrixd and on nginx, one after the other.
    exchange(api, request("GET", "/api/v1/state", port));
    const QByteArray json = api.received.mid(api.received.indexOf("\r\n\r\n") + 4);
    api.socket.abort();
    r.matrixd = runWrk(QStringLiteral("http://127.0.0.1:%1/api/v1/state").arg(port),
                       settings.wrkSeconds, r.loadError);
    if (r.loadError.isEmpty()) {
        Tool nginx(dir.filePath(QStringLiteral("nginx.log")));
        const int nginxPort = freeLoopbackPort();
        r.loadError = startNginx(nginx, dir, nginxPort, json);
        if (r.loadError.isEmpty())
            r.nginx = runWrk(QStringLiteral("http://127.0.0.1:%1/state.json").arg(nginxPort),
                             settings.wrkSeconds, r.loadError);
    }

    // 8e: the page in chromium, by the browser tests' own driver.
    QProcess page;
    page.start(QStringLiteral("node"), {QStringLiteral(MATRIX_PAGE_TIMING_SCRIPT),
                                        QStringLiteral("http://127.0.0.1:%1/").arg(port),
                                        QString::number(settings.pageRuns)});
    if (!page.waitForFinished(120'000) || page.exitCode() != 0) {
        r.pageError = QStringLiteral("the page timing failed: %1")
                          .arg(QString::fromLocal8Bit(page.readAllStandardError()).left(300));
    } else {
        const QJsonObject timing = QJsonDocument::fromJson(page.readAllStandardOutput()).object();
        r.pageBytes = timing.value(QStringLiteral("bytes")).toDouble();
        std::vector<double> samples;
        const QJsonArray loads = timing.value(QStringLiteral("toStateMs")).toArray();
        for (qsizetype i = 0; i < loads.size(); ++i)
            samples.push_back(loads.at(i).toDouble());
        r.pageToState = summarize(samples);
    }
    if (toFrame.empty())
        r.error = QStringLiteral("no PUT reached the line (%1 wrong frames)").arg(r.wrongFrames);
    return r;
}
