#include "apiserver.h"

#include "apijson.h"
#include "connectionwatch.h"
#include "outcomestatus.h"
#include "peeraddress.h"
#include "switcher/names.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QUrl>

namespace {

using Method = QHttpServerRequest::Method;

const QString kPageRoot = QStringLiteral(":/matrixd/http/page/");

// The page's files, by the path they are served at.
const std::array<std::pair<const char*, const char*>, 5> kPageFiles = {{
    {"", "index.html"},
    {"app.js", "app.js"},
    {"app.css", "app.css"},
    {"favicon.svg", "favicon.svg"},
    {"openapi.json", "openapi.json"},
}};

QByteArray contentTypeOf(const QString& file)
{
    if (file.endsWith(QStringLiteral(".html")))
        return "text/html; charset=utf-8";
    if (file.endsWith(QStringLiteral(".js")))
        return "text/javascript; charset=utf-8";
    if (file.endsWith(QStringLiteral(".css")))
        return "text/css; charset=utf-8";
    if (file.endsWith(QStringLiteral(".svg")))
        return "image/svg+xml";
    return "application/json";
}

// Path segments, each decoded on its own so that a name may hold an encoded slash.
QStringList segmentsOf(const QUrl& url)
{
    QStringList segments;
    for (const QString& part : url.path(QUrl::FullyEncoded).split(u'/', Qt::SkipEmptyParts))
        segments << QUrl::fromPercentEncoding(part.toUtf8());
    return segments;
}

// The body as a JSON object, or nothing when it is not one.
std::optional<QJsonObject> objectIn(const QByteArray& body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

HttpReply notAllowed(const QByteArray& allow)
{
    return HttpReply::problem(405, QStringLiteral("use %1 here").arg(QString::fromLatin1(allow)))
        .with("Allow", allow);
}

QString shown(const QJsonValue& value)
{
    if (value.isString())
        return QStringLiteral("\"%1\"").arg(value.toString().left(64));
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact))
        .mid(1)
        .chopped(1)
        .left(64);
}

} // namespace

ApiServer::ApiServer(const SwitcherConfig& config, SwitcherState& state, SwitcherCommands& commands,
                     SessionAuth& auth, Log log, QObject* parent)
    : QAbstractHttpServer(parent), config_(config), state_(state), commands_(commands),
      auth_(auth), log_(std::move(log))
{
    connect(&state_, &SwitcherState::changed, this, [this] { stateJson_.clear(); });
    connect(&state_, &SwitcherState::answeringChanged, this, [this] { stateJson_.clear(); });
    for (const auto& [path, file] : kPageFiles) {
        QFile resource(kPageRoot + QString::fromLatin1(file));
        if (resource.open(QIODevice::ReadOnly))
            pages_.insert(QString::fromLatin1(path),
                          {contentTypeOf(QString::fromLatin1(file)), resource.readAll()});
    }
}

bool ApiServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const QPointer<QTcpSocket> alive(socket);
    // Written whole, in one piece: the library's responder would write each header in four.
    const Reply reply = [alive](const HttpReply& answer) {
        // A client that left before its command was confirmed gets nothing.
        if (!alive || alive->state() != QAbstractSocket::ConnectedState)
            return;
        alive->write(answer.serialized());
        if (ConnectionWatch* watch = ConnectionWatch::of(alive))
            watch->answered();
        if (answer.closeAfter)
            alive->disconnectFromHost();
    };
    // Qt 6.4 asks here before it upgrades: true lets the WebSocket handshake go on, false
    // closes the connection after the refusal written.
    if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
        const auto refused = upgradeRefusal(request);
        if (!refused)
            return true;
        HttpReply answer = *refused;
        answer.closeAfter = true;
        reply(answer);
        return false;
    }
    route(request, segmentsOf(request.url()), reply);
    return true;
}

void ApiServer::missingHandler(const QHttpServerRequest&, QTcpSocket* socket)
{
    // Only a refused upgrade comes here, its answer written.
    socket->disconnectFromHost();
}

void ApiServer::route(const QHttpServerRequest& request, const QStringList& path, const Reply& reply)
{
    const Method method = request.method();
    if (auto refused = hostRefusal(request.value("host")))
        return reply(*refused);
    const bool isPage = path.isEmpty() || (path.size() == 1 && !path.first().isEmpty() &&
                                           pages_.contains(path.first()) &&
                                           path.first() != u"openapi.json");
    if (isPage) {
        const QString file = path.isEmpty() ? QString() : path.first();
        if (method != Method::Get)
            return reply(notAllowed("GET"));
        const Page& page = pages_.value(file);
        return reply(HttpReply::file(page.contentType, page.body));
    }
    if (path == QStringList{QStringLiteral("healthz")}) {
        if (method != Method::Get)
            return reply(notAllowed("GET"));
        return reply(HttpReply::json(200, apijson::health(state_.isAnswering())));
    }
    if (path.size() < 3 || path.at(0) != u"api" || path.at(1) != u"v1")
        return reply(HttpReply::problem(404, QStringLiteral("nothing is served at %1")
                                                 .arg(request.url().path().left(200))));
    const QStringList rest = path.mid(2);
    const QString& what = rest.first();
    if (rest.size() == 1 && what == u"openapi.json") {
        if (method != Method::Get)
            return reply(notAllowed("GET"));
        const Page& page = pages_.value(what);
        HttpReply document{200, page.contentType, page.body, {}};
        return reply(document);
    }
    if (rest.size() == 1 && what == u"session") {
        if (method == Method::Post)
            return reply(logIn(request));
        if (method != Method::Delete)
            return reply(notAllowed("POST, DELETE"));
        if (auto refused = refusal(request, true); refused && refused->status == 403)
            return reply(*refused);
        auth_.logOut(request.value("cookie"));
        HttpReply done{204, {}, {}, {}};
        return reply(done.with("Set-Cookie", auth_.expiredCookie(config_.http->isHttps())));
    }
    if (rest.size() == 1 && what == u"state") {
        if (method != Method::Get)
            return reply(notAllowed("GET"));
        if (auto refused = refusal(request, false))
            return reply(*refused);
        return reply(stateReply());
    }
    if (rest.size() == 1 && what == u"events") {
        if (method != Method::Get)
            return reply(notAllowed("GET"));
        return reply(HttpReply::problem(426, QStringLiteral("events are a WebSocket: send the "
                                                            "upgrade headers"))
                         .with("Upgrade", "websocket"));
    }
    command(request, rest, reply);
}

void ApiServer::command(const QHttpServerRequest& request, const QStringList& rest,
                        const Reply& reply)
{
    const Method method = request.method();
    const QString& what = rest.first();
    const bool outputs = what == u"outputs" && rest.size() == 2;
    const bool edid = what == u"edid" && rest.size() == 1;
    const bool presets = what == u"presets" && rest.size() == 2;
    const bool refresh = what == u"refresh" && rest.size() == 1;
    if (!outputs && !edid && !presets && !refresh)
        return reply(HttpReply::problem(404, QStringLiteral("nothing is served at %1")
                                                 .arg(request.url().path().left(200))));
    const bool wantsPut = outputs || edid;
    if (method != (wantsPut ? Method::Put : Method::Post))
        return reply(notAllowed(wantsPut ? "PUT" : "POST"));
    if (auto refused = refusal(request, true))
        return reply(*refused);

    const QString origin = QStringLiteral("http ") + peerAddressText(request.remoteAddress());
    std::function<void(SwitcherCommands::Done)> send;
    QString action;
    if (outputs || edid) {
        const auto body = objectIn(request.body());
        const QString key = outputs ? QStringLiteral("input") : QStringLiteral("mode");
        const QJsonValue value = body ? body->value(key) : QJsonValue(QJsonValue::Undefined);
        if (!value.isString() && !value.isDouble())
            return reply(HttpReply::problem(
                400, QStringLiteral("the body is a JSON object such as {\"%1\": %2}")
                         .arg(key, outputs ? QStringLiteral("3 or \"Blu-ray\"")
                                           : QStringLiteral("5 or \"2D-2.0CH\""))));
        if (outputs) {
            const auto output = config_.outputNamed(rest.at(1));
            if (!output)
                return reply(HttpReply::problem(
                    404, QStringLiteral("no output \"%1\": give A-D, 1-4 or an output's name")
                             .arg(rest.at(1).left(64))));
            const auto input = apijson::inputOf(config_, value);
            if (!input)
                return reply(HttpReply::problem(
                    404, QStringLiteral("no input %1: give 1-4 or an input's name").arg(shown(value))));
            action = QStringLiteral("route %1 <- %2 (%3 <- %4)")
                         .arg(outputLetter(*output))
                         .arg(*input)
                         .arg(config_.outputLabel(*output), config_.inputLabel(*input));
            send = [this, output = *output, input = *input](SwitcherCommands::Done done) {
                commands_.route(output, input, std::move(done));
            };
        } else {
            const auto mode = apijson::edidModeOf(value);
            if (!mode)
                return reply(HttpReply::problem(
                    404, QStringLiteral("no EDID mode %1: give 0-10 or a caption").arg(shown(value))));
            action = QStringLiteral("EDID mode %1 (%2)").arg(*mode).arg(edidCaption(*mode));
            send = [this, mode = *mode](SwitcherCommands::Done done) {
                commands_.selectEdidMode(mode, std::move(done));
            };
        }
    } else if (presets) {
        const Preset* preset = config_.presetNamed(rest.at(1));
        if (!preset)
            return reply(HttpReply::problem(
                404, QStringLiteral("no preset \"%1\"").arg(rest.at(1).left(64))));
        action = QStringLiteral("preset \"%1\"").arg(preset->name);
        send = [this, name = preset->name](SwitcherCommands::Done done) {
            commands_.applyPreset(name, std::move(done));
        };
    } else {
        action = QStringLiteral("refresh");
        send = [this](SwitcherCommands::Done done) { commands_.refresh(std::move(done)); };
    }
    if (!state_.isAnswering()) {
        const QString why = QStringLiteral("the switcher is not answering");
        log(QStringLiteral("%1: %2 refused: %3").arg(origin, action, why));
        return reply(HttpReply::problem(503, why));
    }
    run(origin, action, send, reply);
}

void ApiServer::run(const QString& origin, const QString& what,
                    const std::function<void(SwitcherCommands::Done)>& send, const Reply& reply)
{
    const QPointer<ApiServer> self(this);
    send([self, origin, what, reply](const SwitcherCommands::Outcome& outcome) {
        if (!self)
            return;
        if (outcome.confirmed) {
            self->log(QStringLiteral("%1: %2").arg(origin, what));
            reply(self->stateReply());
            return;
        }
        self->log(QStringLiteral("%1: %2 failed: %3").arg(origin, what, outcome.problem));
        reply(HttpReply::problem(statusForOutcome(outcome), outcome.problem));
    });
}

HttpReply ApiServer::stateReply() const
{
    // Made once per change, not once per read.
    if (stateJson_.isEmpty())
        stateJson_ = QJsonDocument(apijson::state(config_, state_)).toJson(QJsonDocument::Compact);
    return {200, "application/json", stateJson_, {}};
}

std::optional<HttpReply> ApiServer::hostRefusal(const QByteArray& host) const
{
    if (auth_.isRequired())
        return std::nullopt;
    // Without a password only loopback names are served: a page of another site that gets its
    // name to point here (DNS rebinding) is refused.
    QString name = QString::fromLatin1(host).trimmed().toLower();
    if (name.startsWith(u'['))
        name = name.mid(1, name.indexOf(u']') - 1);
    else if (const qsizetype colon = name.indexOf(u':'); colon >= 0)
        name.truncate(colon);
    if (name == u"localhost" || QHostAddress(name).isLoopback())
        return std::nullopt;
    return HttpReply::problem(421, QStringLiteral("this matrixd has no password and serves only "
                                                  "its loopback names, not \"%1\"")
                                       .arg(QString::fromLatin1(host.left(100))));
}

QString ApiServer::ownOrigin(const QByteArray& host) const
{
    return (config_.http->isHttps() ? QStringLiteral("https://") : QStringLiteral("http://")) +
           QString::fromLatin1(host).trimmed().toLower();
}

std::optional<HttpReply> ApiServer::refusal(const QHttpServerRequest& request, bool changes)
{
    const QString from = peerAddressText(request.remoteAddress());
    const SessionAuth::Result result =
        auth_.check(request.remoteAddress(), request.value("authorization"), request.value("cookie"));
    switch (result.verdict) {
    case SessionAuth::Verdict::Allowed:
        break;
    case SessionAuth::Verdict::Missing:
        return HttpReply::problem(401, QStringLiteral("this matrixd needs its password: log in "
                                                      "on the page, or send Authorization: "
                                                      "Bearer PASSWORD"))
            .with("WWW-Authenticate", "Bearer realm=\"matrixd\"");
    case SessionAuth::Verdict::Wrong:
        log(QStringLiteral("http: refused %1: wrong password (the next try waits %2 s)")
                .arg(from)
                .arg(result.wait.count()));
        return HttpReply::problem(401, QStringLiteral("wrong password"))
            .with("WWW-Authenticate", "Bearer realm=\"matrixd\", error=\"invalid_token\"");
    case SessionAuth::Verdict::Waiting:
        log(QStringLiteral("http: refused %1: %2 s to wait after a wrong password")
                .arg(from)
                .arg(result.wait.count()));
        return HttpReply::problem(429, QStringLiteral("too soon after a wrong password: wait %1 s")
                                           .arg(result.wait.count()))
            .with("Retry-After", QByteArray::number(qint64(result.wait.count())));
    }
    if (!changes)
        return std::nullopt;
    const QByteArray origin = request.value("origin");
    const bool foreign = !origin.isEmpty() &&
                         QString::fromLatin1(origin).toLower() != ownOrigin(request.value("host"));
    if (foreign || (result.byCookie && origin.isEmpty())) {
        log(QStringLiteral("http: refused a change from %1: it comes from %2, not the page")
                .arg(from, origin.isEmpty() ? QStringLiteral("no origin") : QString::fromLatin1(origin.left(100))));
        return HttpReply::problem(403, QStringLiteral("changes are taken from matrixd's own page "
                                                      "or with a Bearer token only"));
    }
    return std::nullopt;
}

HttpReply ApiServer::logIn(const QHttpServerRequest& request)
{
    const QString from = peerAddressText(request.remoteAddress());
    const QByteArray origin = request.value("origin");
    if (!origin.isEmpty() && QString::fromLatin1(origin).toLower() != ownOrigin(request.value("host"))) {
        log(QStringLiteral("http: refused a login from %1: it comes from %2, not the page")
                .arg(from, QString::fromLatin1(origin.left(100))));
        return HttpReply::problem(403, QStringLiteral("log in on matrixd's own page"));
    }
    const auto body = objectIn(request.body());
    if (!body || !body->value(QStringLiteral("password")).isString())
        return HttpReply::problem(400, QStringLiteral("the body is {\"password\": \"...\"}"));
    if (!auth_.isRequired())
        return {204, {}, {}, {}};
    const SessionAuth::Result result =
        auth_.logIn(request.remoteAddress(), body->value(QStringLiteral("password")).toString());
    switch (result.verdict) {
    case SessionAuth::Verdict::Allowed:
        break;
    case SessionAuth::Verdict::Waiting:
        log(QStringLiteral("http: refused a login from %1: %2 s to wait after a wrong password")
                .arg(from)
                .arg(result.wait.count()));
        return HttpReply::problem(429, QStringLiteral("too soon after a wrong password: wait %1 s")
                                           .arg(result.wait.count()))
            .with("Retry-After", QByteArray::number(qint64(result.wait.count())));
    default:
        log(QStringLiteral("http: refused a login from %1: wrong password (the next try waits %2 s)")
                .arg(from)
                .arg(result.wait.count()));
        return HttpReply::problem(401, QStringLiteral("wrong password; try again in %1 s")
                                           .arg(result.wait.count()));
    }
    HttpReply done{204, {}, {}, {}};
    return done.with("Set-Cookie", auth_.sessionCookie(result.token, config_.http->isHttps()));
}

std::optional<HttpReply> ApiServer::upgradeRefusal(const QHttpServerRequest& request)
{
    const QString from = peerAddressText(request.remoteAddress());
    const QString path = request.url().path();
    std::optional<HttpReply> refused;
    if (path != u"/api/v1/events")
        refused = HttpReply::problem(404, QStringLiteral("no WebSocket at %1").arg(path.left(100)));
    else if (!(refused = hostRefusal(request.value("host"))))
        refused = refusal(request, false);
    const QByteArray origin = request.value("origin");
    if (!refused && !origin.isEmpty() &&
        QString::fromLatin1(origin).toLower() != ownOrigin(request.value("host")))
        refused = HttpReply::problem(403, QStringLiteral("the events are for matrixd's own page, "
                                                         "not %1")
                                              .arg(QString::fromLatin1(origin.left(100))));
    if (refused)
        log(QStringLiteral("http: refused the events to %1: %2 (%3)")
                .arg(from, QJsonDocument::fromJson(refused->body)
                               .object()
                               .value(QStringLiteral("detail"))
                               .toString())
                .arg(refused->status));
    return refused;
}

void ApiServer::log(const QString& text) const
{
    if (log_)
        log_(text);
}
