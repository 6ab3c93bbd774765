// matrixd's web surface from the outside: a real matrixd on the simulator, reached by Qt's HTTP
// and WebSocket clients and by raw connections that break the rules on purpose.

#include "support/daemonprocess.h"
#include "support/freeport.h"
#include "support/httpclient.h"
#include "support/scratchdirectory.h"
#include "support/simprocess.h"
#include "support/switcher.h"

#include <QWebSocket>
#include <QtTest>

#include <sys/stat.h>
#include <sys/types.h>

using namespace switcher;

namespace {

const QByteArray kPassword = "correct horse battery";

struct HttpRig {
    HttpRig() = default;
    explicit HttpRig(const QStringList& simArguments) : sim{dir.path(), 1, simArguments} {}

    ScratchDirectory dir;
    SimProcess sim{dir.path(), 1, {}};
    int port = freeLoopbackPort();
    QString share = dir.path() + QStringLiteral("/COM2");
    QString config = dir.path() + QStringLiteral("/hall.conf");
    QString passwordFile = dir.path() + QStringLiteral("/web.password");
    // Long enough that a loaded machine does not turn a confirmation into a timeout.
    int timeoutMs = 3000;
    std::unique_ptr<DaemonProcess> daemon;

    QString base(const QString& scheme = QStringLiteral("http")) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port);
    }
    QByteArray origin() const { return base().toUtf8(); }

    QByteArray configText(const QByteArray& http) const
    {
        return "[switcher]\nport = " + sim.link().toUtf8() + "\nshare = " + share.toUtf8() +
               "\npoll = 0\ntimeout = " + QByteArray::number(timeoutMs) + "\n[inputs]\n3 = Laptop\n[outputs]\nB = Projector\n"
               "[preset Movie night]\nA = 2\nB = Laptop\n[http]\nlisten = 127.0.0.1:" +
               QByteArray::number(port) + "\n" + http;
    }

    bool writeConfig(const QByteArray& http)
    {
        scratch::writeFile(config, configText(http));
        return true;
    }

    bool start(const QByteArray& http = {})
    {
        if (!sim.waitForLink() || !writeConfig(http))
            return false;
        daemon = std::make_unique<DaemonProcess>(QStringList{"--config", config});
        return daemon->waitFor(QStringLiteral("http: serving")) &&
               daemon->waitFor(QStringLiteral("switcher answering"));
    }

    bool startWithPassword(mode_t mode = 0600, const QByteArray& extra = {})
    {
        scratch::writeFile(passwordFile, kPassword + "\n");
        ::chmod(passwordFile.toLocal8Bit().constData(), mode);
        return start("password_file = " + passwordFile.toUtf8() + "\n" + extra);
    }
};

QList<QPair<QByteArray, QByteArray>> bearer(const QByteArray& password)
{
    return {{"Authorization", "Bearer " + password}};
}

// A WebSocket client of the events, with every text it got.
struct EventsClient {
    QWebSocket socket;
    QStringList texts;
    QWebSocketProtocol::CloseCode closeCode = QWebSocketProtocol::CloseCodeNormal;
    bool closed = false;

    EventsClient(const QString& url, const QString& origin = {},
                 const QList<QPair<QByteArray, QByteArray>>& headers = {})
        : socket(origin)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket,
                         [this](const QString& text) { texts << text; });
        QObject::connect(&socket, &QWebSocket::disconnected, &socket, [this] {
            closed = true;
            closeCode = socket.closeCode();
        });
        QNetworkRequest request{QUrl(url)};
        for (const auto& [name, value] : headers)
            request.setRawHeader(name, value);
        socket.open(request);
    }

    QJsonObject state(qsizetype index) const
    {
        return QJsonDocument::fromJson(texts.at(index).toUtf8())
            .object()
            .value(QStringLiteral("state"))
            .toObject();
    }
    QJsonValue inputOf(qsizetype index, int output) const
    {
        return state(index)[QStringLiteral("outputs")].toArray().at(output - 1)[QStringLiteral("input")];
    }
};

QJsonValue inputIn(const QJsonObject& state, int output)
{
    return state[QStringLiteral("outputs")].toArray().at(output - 1)[QStringLiteral("input")];
}

} // namespace

class TestHttp : public QObject {
    Q_OBJECT

private slots:
    void configuration_offUnlessAsked_networkNeedsAPassword_checkMasksIt()
    {
        HttpRig rig;
        QVERIFY(rig.sim.waitForLink());
        scratch::writeFile(rig.config, rig.configText({}).replace("127.0.0.1:", "0.0.0.0:"));
        DaemonProcess open({"--config", rig.config});
        QCOMPARE(open.waitForExit(), 2);
        // The listen key is line 14 of the file.
        QCOMPARE(open.output(), QStringLiteral("matrixd: %1:14: [http] listen 0.0.0.0:%2 reaches the "
                                               "network: give password_file, or listen on 127.0.0.1\n")
                                    .arg(rig.config)
                                    .arg(rig.port));

        DaemonProcess flag({"--port", rig.sim.link(), "--http", "0.0.0.0:8080"});
        QCOMPARE(flag.waitForExit(), 2);
        QVERIFY2(flag.output().contains(QStringLiteral("password_file")), qPrintable(flag.output()));

        // A FIFO given as the password file must not hang the start.
        const QString fifo = rig.dir.path() + QStringLiteral("/fifo");
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        scratch::writeFile(rig.config, rig.configText("password_file = " + fifo.toUtf8() + "\n"));
        DaemonProcess blocked({"--config", rig.config, "--check"});
        QCOMPARE(blocked.waitForExit(), 2);
        QVERIFY2(blocked.output().contains(QStringLiteral("not a regular file")), qPrintable(blocked.output()));

        scratch::writeFile(rig.passwordFile, kPassword + "\n");
        scratch::writeFile(rig.config,
                           rig.configText("password_file = " + rig.passwordFile.toUtf8() +
                                          "\nmax_clients = 8\n").replace("127.0.0.1:", "[::]:"));
        DaemonProcess check({"--config", rig.config, "--check"});
        QCOMPARE(check.waitForExit(), 0);
        QVERIFY2(check.output().contains(QStringLiteral("[http]\nlisten = [::]:%1\npassword_file = %2\n")
                                             .arg(rig.port)
                                             .arg(rig.passwordFile)),
                 qPrintable(check.output()));
        QVERIFY(check.output().contains(QStringLiteral("max_clients = 8")));
        QVERIFY(!check.output().contains(QString::fromUtf8(kPassword)));

        // Without [http] or --http nothing listens.
        scratch::writeFile(rig.config, rig.configText({}).replace("[http]\nlisten = 127.0.0.1:" + QByteArray::number(rig.port), ""));
        DaemonProcess quiet({"--config", rig.config});
        QVERIFY(quiet.waitFor(QStringLiteral("switcher answering")));
        QVERIFY(!quiet.output().contains(QStringLiteral("http:")));
        RawConnection probe;
        QVERIFY(!probe.open(rig.port));
    }

    void api_eachEndpointConfirmedOnTheLine_andEachErrorCode()
    {
        HttpRig rig;
        rig.timeoutMs = 500;
        QVERIFY(rig.start());
        HttpClient api(rig.base());

        const HttpAnswer state = api.get("/api/v1/state");
        QCOMPARE(state.status, 200);
        QCOMPARE(state.header("content-type"), "application/json");
        QCOMPARE(state.header("cache-control"), "no-store");
        QCOMPARE(state.header("x-content-type-options"), "nosniff");
        QVERIFY(state.header("content-security-policy").contains("default-src 'none'"));
        QCOMPARE(state.json()["answering"], QJsonValue(true));
        QCOMPARE(state.json()["outputs"].toArray().at(1).toObject(),
                 (QJsonObject{{"output", "B"}, {"name", "Projector"}, {"input", 1}}));
        QCOMPARE(state.json()["inputs"].toArray().at(2).toObject(),
                 (QJsonObject{{"input", 3}, {"name", "Laptop"}}));
        QCOMPARE(state.json()["edid"], QJsonValue(QJsonValue::Null));
        QCOMPARE(state.json()["edidModes"].toArray().size(), 11);
        QCOMPARE(state.json()["presets"].toArray(), QJsonArray{"Movie night"});

        const qsizetype before = rig.sim.framesReceived().size();
        const HttpAnswer routed = api.send("PUT", "/api/v1/outputs/projector", R"({"input":"LAPTOP"})");
        QCOMPARE(routed.status, 200);
        QCOMPARE(inputIn(routed.json(), 2), QJsonValue(3));
        QCOMPARE(rig.sim.framesReceived().mid(before), QList<QByteArray>{buttonFrame(inputIndex(2, 3))});
        QCOMPARE(api.send("PUT", "/api/v1/outputs/4", R"({"input":2})").status, 200);
        const HttpAnswer edid = api.send("PUT", "/api/v1/edid", R"({"mode":"2d-5.1ch"})");
        QCOMPARE(edid.status, 200);
        QCOMPARE(edid.json()["edid"].toObject(), (QJsonObject{{"mode", 6}, {"caption", "2D-5.1CH"}}));
        QCOMPARE(api.send("PUT", "/api/v1/edid", R"({"mode":0})").json()["edid"].toObject()["mode"], QJsonValue(0));
        const HttpAnswer preset = api.send("POST", "/api/v1/presets/movie%20night");
        QCOMPARE(preset.status, 200);
        QCOMPARE(inputIn(preset.json(), 1), QJsonValue(2));
        QCOMPARE(api.send("POST", "/api/v1/refresh").status, 200);
        QCOMPARE(rig.sim.framesReceived().mid(before).size(), 7); // route, route, 2 EDID, A and B, query

        struct Bad {
            QByteArray method;
            QString path;
            QByteArray body;
            int status;
            QString detail;
        };
        const QList<Bad> bad = {
            {"PUT", "/api/v1/outputs/B", "not json", 400, "the body is a JSON object"},
            {"PUT", "/api/v1/outputs/B", R"({"input":true})", 400, "the body is a JSON object"},
            {"PUT", "/api/v1/outputs/B", R"({"input":2.5})", 404, "no input 2.5"},
            {"PUT", "/api/v1/outputs/B", R"({"input":9})", 404, "no input 9"},
            {"PUT", "/api/v1/outputs/B", R"({"input":"Tuner"})", 404, "no input \"Tuner\""},
            {"PUT", "/api/v1/outputs/Z", R"({"input":1})", 404, "no output \"Z\""},
            {"PUT", "/api/v1/edid", R"({"mode":11})", 404, "no EDID mode 11"},
            {"PUT", "/api/v1/edid", R"({"mode":"4K"})", 404, "no EDID mode \"4K\""},
            {"POST", "/api/v1/presets/Party", {}, 404, "no preset \"Party\""},
            {"GET", "/api/v1/outputs/B", {}, 405, "use PUT here"},
            {"DELETE", "/api/v1/state", {}, 405, "use GET here"},
            {"GET", "/api/v2/state", {}, 404, "nothing is served at /api/v2/state"},
            {"GET", "/api/v1/events", {}, 426, "events are a WebSocket"},
        };
        for (const Bad& b : bad) {
            const HttpAnswer answer = api.send(b.method, b.path, b.body);
            QCOMPARE(answer.status, b.status);
            QCOMPARE(answer.header("content-type"), "application/problem+json");
            QVERIFY2(answer.detail().startsWith(b.detail), qPrintable(b.path + u' ' + answer.detail()));
            QCOMPARE(answer.json()["status"], QJsonValue(b.status));
        }
        QCOMPARE(rig.sim.framesReceived().mid(before).size(), 7);

        // The switcher powered off: the command is sent and times out.
        QVERIFY(rig.sim.control("power 2000", "power off"));
        const HttpAnswer late = api.send("PUT", "/api/v1/outputs/B", R"({"input":4})");
        QCOMPARE(late.status, 504);
        QCOMPARE(late.detail(), QStringLiteral("no reply within 500 ms"));
        // The line gone: refused at once.
        QVERIFY(rig.sim.control("unplug", "unplugged"));
        QVERIFY(rig.daemon->waitFor(QStringLiteral("switcher not answering")));
        const HttpAnswer gone = api.send("PUT", "/api/v1/outputs/B", R"({"input":4})");
        QCOMPARE(gone.status, 503);
        QCOMPARE(gone.detail(), QStringLiteral("the switcher is not answering"));
        QCOMPARE(api.get("/healthz").json(), (QJsonObject{{"status", "running"}, {"answering", false}}));
        QCOMPARE(api.get("/api/v1/state").json()["answering"], QJsonValue(false));

        // One line per change, with its origin; none per read.
        const QString log = rig.daemon->output();
        QVERIFY2(log.contains(QStringLiteral("http 127.0.0.1: route B <- 3 (Projector <- Laptop)\n")), qPrintable(log));
        QVERIFY(log.contains(QStringLiteral("http 127.0.0.1: EDID mode 6 (2D-5.1CH)\n")));
        QVERIFY(log.contains(QStringLiteral("http 127.0.0.1: preset \"Movie night\"\n")));
        QVERIFY(log.contains(QStringLiteral("http 127.0.0.1: route B <- 4 (Projector <- Input 4) failed: no reply within 500 ms\n")));
        QVERIFY(log.contains(QStringLiteral("http 127.0.0.1: route B <- 4 (Projector <- Input 4) refused: the switcher is not answering\n")));
        QCOMPARE(log.count(QStringLiteral("http 127.0.0.1: ")), 8);
        QVERIFY(!log.contains(QStringLiteral("state")));

        // The page itself, and its document.
        const HttpAnswer page = api.get("/");
        QCOMPARE(page.status, 200);
        QCOMPARE(page.header("content-type"), "text/html; charset=utf-8");
        QVERIFY(page.body.contains("<script src=\"/app.js\""));
        QCOMPARE(api.get("/app.js").header("content-type"), "text/javascript; charset=utf-8");
        QCOMPARE(api.get("/api/v1/openapi.json").json()["openapi"], QJsonValue("3.1.0"));
    }

    void burstOfPuts_theNewestWins_aReplacedOneHears409()
    {
        // A slow switcher: the first PUT is on the line while the others arrive.
        HttpRig rig({"--delay", "300"});
        QVERIFY(rig.start());
        HttpClient api(rig.base());
        const qsizetype before = rig.sim.framesReceived().size();
        const QList<HttpAnswer> answers = api.sendTogether(
            "PUT", {{"/api/v1/outputs/A", R"({"input":2})"}, {"/api/v1/outputs/A", R"({"input":3})"},
                    {"/api/v1/outputs/A", R"({"input":4})"}});
        QList<int> statuses;
        for (const HttpAnswer& answer : answers)
            statuses << answer.status;
        std::sort(statuses.begin(), statuses.end());
        QCOMPARE(statuses, (QList<int>{200, 200, 409}));
        const auto replaced = std::find_if(answers.begin(), answers.end(),
                                           [](const HttpAnswer& a) { return a.status == 409; });
        QCOMPARE(replaced->detail(), QStringLiteral("replaced by a newer request"));
        // Two routes went out; the one replaced never did, and the state is not its input.
        QCOMPARE(rig.sim.framesReceived().mid(before).size(), 2);
        const QJsonValue input = inputIn(api.get("/api/v1/state").json(), 1);
        QVERIFY(input.toInt() >= 2);
        QCOMPARE(rig.sim.framesReceived().mid(before).last(), buttonFrame(inputIndex(1, input.toInt())));
        QVERIFY(!rig.sim.framesReceived().mid(before).contains(
            buttonFrame(inputIndex(1, int(replaced - answers.begin()) + 2))));
    }

    void password_bearerAndCookie_waitAfterWrongOnes_neverLogged()
    {
        HttpRig rig;
        QVERIFY(rig.startWithPassword(0644));
        QVERIFY(rig.daemon->output().contains(
            QStringLiteral("http: %1 holds the web password and others may read it").arg(rig.passwordFile)));
        HttpClient anonymous(rig.base());
        QCOMPARE(anonymous.get("/api/v1/state").status, 401);
        QCOMPARE(anonymous.get("/healthz").status, 200);
        QCOMPARE(anonymous.send("PUT", "/api/v1/outputs/B", R"({"input":3})").status, 401);

        // A wrong password: this address waits 1 s, then 2 s, even with the right one.
        const HttpAnswer wrong = anonymous.send("GET", "/api/v1/state", {}, bearer("guess"));
        QCOMPARE(wrong.status, 401);
        QCOMPARE(wrong.detail(), QStringLiteral("wrong password"));
        const HttpAnswer early = anonymous.send("GET", "/api/v1/state", {}, bearer(kPassword));
        QCOMPARE(early.status, 429);
        QCOMPARE(early.header("retry-after"), "1");
        int status = 0;
        auto untilServed = [&status](const std::function<int()>& attempt, int timeoutMs) {
            return QTest::qWaitFor([&] { return (status = attempt()) != 429; }, timeoutMs);
        };
        QVERIFY(untilServed([&] { return anonymous.send("POST", "/api/v1/session", R"({"password":"guess2"})").status; }, 5000));
        QCOMPARE(status, 401);
        QCOMPARE(anonymous.send("POST", "/api/v1/session", R"({"password":"x"})").header("retry-after"), "2");
        QVERIFY(untilServed([&] { return anonymous.send("GET", "/api/v1/state", {}, bearer(kPassword)).status; }, 8000));
        QCOMPARE(status, 200);

        // The page's way: a session cookie, good for reads and, from its own origin, for changes.
        HttpClient browser(rig.base());
        const HttpAnswer login = browser.send("POST", "/api/v1/session",
                                              R"({"password":")" + kPassword + R"("})",
                                              {{"Origin", rig.origin()}});
        QCOMPARE(login.status, 204);
        const QByteArray cookie = login.header("set-cookie");
        QVERIFY2(cookie.startsWith("matrixd_session=") && cookie.contains("; HttpOnly") &&
                     cookie.contains("; SameSite=Strict") && !cookie.contains("Secure"),
                 cookie.constData());
        QCOMPARE(browser.get("/api/v1/state").status, 200);
        const QByteArray own = rig.origin();
        QCOMPARE(browser.send("PUT", "/api/v1/outputs/B", R"({"input":3})", {{"Origin", own}}).status, 200);
        QCOMPARE(browser.send("PUT", "/api/v1/outputs/B", R"({"input":2})").status, 403);
        QCOMPARE(browser.send("PUT", "/api/v1/outputs/B", R"({"input":2})",
                              {{"Origin", "http://evil.example"}}).status, 403);
        QCOMPARE(browser.send("POST", "/api/v1/session", R"({"password":"x"})",
                              {{"Origin", "http://evil.example"}}).status, 403);
        QCOMPARE(anonymous.send("PUT", "/api/v1/outputs/B", R"({"input":4})", bearer(kPassword)).status, 200);

        // The events take the cookie or the Bearer header, and a browser's only from the page.
        const QString events = QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(rig.port);
        const QByteArray session = cookie.left(cookie.indexOf(';'));
        EventsClient none(events, rig.base());
        EventsClient foreign(events, QStringLiteral("http://evil.example"), {{"Cookie", session}});
        EventsClient withCookie(events, rig.base(), {{"Cookie", session}});
        EventsClient withBearer(events, {}, bearer(kPassword));
        QTRY_VERIFY(none.closed && foreign.closed);
        QTRY_VERIFY(!withCookie.texts.isEmpty() && !withBearer.texts.isEmpty());
        QVERIFY(none.texts.isEmpty() && foreign.texts.isEmpty());
        QCOMPARE(withBearer.inputOf(0, 2), QJsonValue(4));

        QCOMPARE(browser.send("DELETE", "/api/v1/session", {}, {{"Origin", own}}).status, 204);
        QCOMPARE(browser.get("/api/v1/state").status, 401);

        const QString log = rig.daemon->output();
        QVERIFY(!log.contains(QString::fromUtf8(kPassword)));
        QVERIFY(!log.contains(QStringLiteral("guess")));
        QVERIFY(!log.contains(QString::fromLatin1(session.mid(16))));
        QVERIFY2(log.contains(QStringLiteral("http: refused 127.0.0.1: wrong password (the next try waits 1 s)")), qPrintable(log));
        QVERIFY(log.contains(QStringLiteral("http: refused a login from 127.0.0.1: wrong password (the next try waits 2 s)")));
        QVERIFY(log.contains(QStringLiteral("http: refused a change from 127.0.0.1: it comes from http://evil.example, not the page")));
        QVERIFY(log.contains(QStringLiteral("http: refused the events to 127.0.0.1: this matrixd needs its password")));
        QVERIFY(log.contains(QStringLiteral("http: refused the events to 127.0.0.1: the events are for matrixd's own page, not http://evil.example (403)")));
    }

    void withoutPassword_onlyLoopbackNamesAndOwnOrigin()
    {
        HttpRig rig;
        QVERIFY(rig.start());
        HttpClient api(rig.base());
        // A site that points its own name here (DNS rebinding) is not served.
        const HttpAnswer rebound = api.send("GET", "/api/v1/state", {}, {{"Host", "evil.example:" + QByteArray::number(rig.port)}});
        QCOMPARE(rebound.status, 421);
        QCOMPARE(api.send("PUT", "/api/v1/outputs/B", R"({"input":3})", {{"Origin", "http://evil.example"}}).status, 403);
        QCOMPARE(api.send("PUT", "/api/v1/outputs/B", R"({"input":3})", {{"Origin", rig.origin()}}).status, 200);
        EventsClient foreign(QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(rig.port),
                             QStringLiteral("http://evil.example"));
        QTRY_VERIFY(foreign.closed);
        QVERIFY(foreign.texts.isEmpty());
    }

    void events_stateAtOnceThenEveryChange_aClientThatStopsReadingIsClosed()
    {
        HttpRig rig;
        QVERIFY(rig.start());
        const QString url = QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(rig.port);
        EventsClient events(url, rig.base());
        QTRY_VERIFY2(events.texts.size() == 1, qPrintable(rig.daemon->output()));
        QCOMPARE(events.inputOf(0, 2), QJsonValue(1));

        // A change made through a share reaches the events.
        ShareClient panel(rig.share);
        QVERIFY(panel.open());
        QVERIFY(panel.send(buttonFrame(inputIndex(2, 3))));
        QTRY_COMPARE(events.texts.size(), 2);
        QCOMPARE(events.inputOf(1, 2), QJsonValue(3));
        QVERIFY(rig.sim.control("unplug", "unplugged"));
        QTRY_COMPARE(events.texts.size(), 3);
        QCOMPARE(events.state(2)["answering"], QJsonValue(false));
        QVERIFY(rig.sim.control("replug", "replugged"));
        QTRY_VERIFY_WITH_TIMEOUT(events.texts.size() >= 4 && events.state(events.texts.size() - 1)["answering"] == QJsonValue(true), 5000);

        // A client that reads nothing: its small window fills, then its backlog passes the bound.
        RawConnection stalled;
        stalled.socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 2048);
        QVERIFY(stalled.open(rig.port));
        QVERIFY(stalled.send("GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(rig.port) +
                             "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
                             "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"));
        QVERIFY(stalled.waitFor([](const QByteArray& got) { return got.contains("\r\n\r\n"); }));
        QVERIFY(stalled.received.startsWith("HTTP/1.1 101"));
        stalled.socket.setReadBufferSize(1);
        HttpClient api(rig.base());
        const qsizetype heard = events.texts.size();
        int changes = 0;
        while (!rig.daemon->output().contains(QStringLiteral("it stopped reading")) && changes < 2000) {
            QCOMPARE(api.send("PUT", "/api/v1/outputs/A", QByteArray(R"({"input":)") + QByteArray::number(2 - changes % 2) + '}').status, 200);
            ++changes;
        }
        QVERIFY2(rig.daemon->output().contains(QStringLiteral("http: closed the events of 127.0.0.1: it stopped reading")),
                 qPrintable(QString::number(changes)));
        // The reading client heard every one of them.
        QTRY_COMPARE(events.texts.size(), heard + changes);
        QCOMPARE(events.inputOf(events.texts.size() - 1, 1), QJsonValue(2 - (changes - 1) % 2));
    }

    void limits_eachAnsweredAndBounded()
    {
        HttpRig rig;
        QVERIFY(rig.start("max_clients = 5\n"));
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(rig.port) + "\r\n";

        // WebSockets count while they are open, and no longer once closed.
        for (int i = 0; i < 6; ++i) {
            EventsClient events(QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(rig.port));
            QTRY_COMPARE(events.texts.size(), 1);
            events.socket.close();
            QTRY_VERIFY(events.closed);
        }

        // Slow, idle and silent connections, left to run out while the rest is checked.
        RawConnection slow, idle, silent;
        QVERIFY(slow.open(rig.port) && idle.open(rig.port) && silent.open(rig.port));
        QVERIFY(silent.send("GET /api/v1/events HTTP/1.1\r\n" + host +
                            "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
                            "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"));
        QVERIFY(silent.waitFor([](const QByteArray& got) { return got.startsWith("HTTP/1.1 101"); }));
        QVERIFY(slow.send("GET /api/v1/state HTTP/1.1\r\n" + host));
        QVERIFY(idle.send("GET /healthz HTTP/1.1\r\n" + host + "\r\n"));
        QVERIFY(idle.waitFor([](const QByteArray& got) { return got.endsWith("}"); }));
        QCOMPARE(idle.status(), 200);

        RawConnection headers;
        QVERIFY(headers.open(rig.port));
        QVERIFY(headers.send("GET /api/v1/state HTTP/1.1\r\n" + host + "X-Padding: " + QByteArray(9000, 'x') + "\r\n\r\n"));
        QVERIFY(headers.waitForClose());
        QCOMPARE(headers.status(), 431);

        RawConnection declared;
        QVERIFY(declared.open(rig.port));
        QVERIFY(declared.send("PUT /api/v1/outputs/B HTTP/1.1\r\n" + host + "Content-Length: 17000\r\n\r\n{"));
        QVERIFY(declared.waitForClose());
        QCOMPARE(declared.status(), 413);

        RawConnection chunked;
        QVERIFY(chunked.open(rig.port));
        QVERIFY(chunked.send("PUT /api/v1/outputs/B HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n"));
        for (int i = 0; i < 20 && chunked.socket.state() == QAbstractSocket::ConnectedState; ++i)
            chunked.send("400\r\n" + QByteArray(1024, ' ') + "\r\n");
        QVERIFY(chunked.waitForClose());
        QCOMPARE(chunked.status(), 413);

        // Three held (slow, idle, silent), two more fill the bound, the next is turned away.
        RawConnection third, fourth, fifth;
        QVERIFY(third.open(rig.port) && fourth.open(rig.port));
        QTRY_VERIFY(rig.daemon->count(QStringLiteral("refused a request")) == 3);
        QVERIFY(fifth.open(rig.port));
        QVERIFY(fifth.waitForClose());
        QCOMPARE(fifth.status(), 503);
        QVERIFY(fifth.received.contains("Retry-After: 5"));
        third.socket.abort();
        HttpClient api(rig.base());
        QTRY_COMPARE(api.get("/healthz").status, 200);

        QVERIFY(slow.waitForClose(15'000));
        QVERIFY(slow.received.isEmpty());
        QCOMPARE(idle.socket.state(), QAbstractSocket::ConnectedState);
        QVERIFY(idle.waitForClose(65'000));
        // A WebSocket client that answers no ping is closed within two pings.
        QVERIFY(silent.waitForClose(35'000));

        const QString log = rig.daemon->output();
        QVERIFY2(log.contains(QStringLiteral("http: refused a request from 127.0.0.1: the request's headers exceed 8 KiB (431)")), qPrintable(log));
        QVERIFY(log.contains(QStringLiteral("http: refused a request from 127.0.0.1: the request's body exceeds 16 KiB (413)")));
        QVERIFY(log.contains(QStringLiteral("http: refused a connection from 127.0.0.1: 5 clients already (503)")));
        QVERIFY(log.contains(QStringLiteral("http: closed the events of 127.0.0.1: no answer to a ping in 30 s")));
        QVERIFY(log.contains(QStringLiteral("http: closed a connection from 127.0.0.1: no whole request within 10 s")));
    }

    void https_cookieIsSecure_andEventsOverTls()
    {
        HttpRig rig;
        const QString certificate = rig.dir.path() + QStringLiteral("/web.crt");
        const QString key = rig.dir.path() + QStringLiteral("/web.key");
        QCOMPARE(QProcess::execute(QStringLiteral("openssl"),
                                   {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                    "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-keyout", key,
                                    "-out", certificate}),
                 0);
        QVERIFY(rig.startWithPassword(0600, "certificate = " + certificate.toUtf8() + "\nkey = " + key.toUtf8() + "\n"));
        QVERIFY(rig.daemon->output().contains(QStringLiteral("serving on https://127.0.0.1:%1/").arg(rig.port)));
        HttpClient browser(rig.base(QStringLiteral("https")));
        browser.ignoreTlsErrors = true;
        const HttpAnswer login = browser.send("POST", "/api/v1/session", R"({"password":")" + kPassword + R"("})");
        QCOMPARE(login.status, 204);
        QVERIFY(login.header("set-cookie").endsWith("; Secure"));
        QCOMPARE(browser.send("PUT", "/api/v1/outputs/B", R"({"input":3})",
                              {{"Origin", rig.base(QStringLiteral("https")).toUtf8()}}).status, 200);

        QWebSocket events(rig.base(QStringLiteral("https")));
        QStringList texts;
        connect(&events, &QWebSocket::sslErrors, &events, [&events] { events.ignoreSslErrors(); });
        connect(&events, &QWebSocket::textMessageReceived, &events, [&texts](const QString& t) { texts << t; });
        QNetworkRequest request{QUrl(QStringLiteral("wss://127.0.0.1:%1/api/v1/events").arg(rig.port))};
        request.setRawHeader("Authorization", "Bearer " + kPassword);
        events.open(request);
        QTRY_COMPARE(texts.size(), 1);
        QVERIFY(texts.first().contains(QStringLiteral("\"Laptop\"")));

        RawConnection plain;
        QVERIFY(plain.open(rig.port));
        QVERIFY(plain.send("GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n"));
        QVERIFY(plain.waitForClose());
        QVERIFY(!plain.received.startsWith("HTTP/1.1 200"));
    }
};

QTEST_MAIN(TestHttp)
#include "tst_http.moc"
