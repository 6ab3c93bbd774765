#include "ctlreply.h"

#include "switcher/names.h"
#include "switcher/confirmation.h"
#include "switcher/replydecoder.h"
#include "switcher/routing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace ctl {

namespace {

using Kind = ReplyEffect::Kind;

QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString expectation(const Request& r)
{
    switch (r.command) {
    case Command::Status:
        return QStringLiteral("a status reply");
    case Command::Route:
        return QStringLiteral("a route reply for output %1 <- %2")
            .arg(outputLetter(r.output))
            .arg(r.input);
    case Command::Step:
        return QStringLiteral("a route reply for output %1").arg(outputLetter(r.output));
    case Command::Edid:
        return QStringLiteral("an EDID reply for mode %1 (%2)")
            .arg(r.mode)
            .arg(edidCaption(r.mode));
    case Command::Watch:
    case Command::Detect:
    case Command::Preset:
        break;
    }
    return {};
}

Judgement wrong(const Request& r, const QString& text)
{
    return {false,
            {},
            QStringLiteral("wrong reply %1, expected %2").arg(escapedText(text), expectation(r))};
}

QString routeResult(const Request& r, int output, int input)
{
    if (r.json)
        return compact({{QStringLiteral("output"), outputLetter(output)},
                        {QStringLiteral("input"), input}}) +
               u'\n';
    return QStringLiteral("%1 <- %2\n").arg(outputLetter(output)).arg(input);
}

QString edidResult(const Request& r, int mode)
{
    if (r.json)
        return compact({{QStringLiteral("mode"), mode},
                        {QStringLiteral("caption"), edidCaption(mode)}}) +
               u'\n';
    return edidMessage(mode) + u'\n';
}

} // namespace

Judgement judgeReply(const Request& r, const QString& text)
{
    const ReplyEffects effects = decodeReply(text);
    const std::optional<CommandFrame> frame = requestFrame(r);
    if (!frame || !replyConfirms(*frame, effects))
        return wrong(r, text);
    switch (r.command) {
    case Command::Status:
        return {true,
                r.json ? statusJson(routingOf(effects)) + u'\n' : statusText(routingOf(effects)),
                {}};
    case Command::Route:
    case Command::Step:
        return {true, routeResult(r, r.output, *routingOf(effects).at(std::size_t(r.output - 1))),
                {}};
    case Command::Edid:
        return {true, edidResult(r, r.mode), {}};
    case Command::Watch:
    case Command::Detect:
    case Command::Preset:
        break;
    }
    return wrong(r, text);
}

QString statusText(const Routing& routing)
{
    QString out;
    for (int output = 1; output <= kOutputCount; ++output) {
        const auto& input = routing[static_cast<std::size_t>(output - 1)];
        out +=
            QStringLiteral("%1 <- %2\n")
                .arg(outputLetter(output), input ? QString::number(*input) : QStringLiteral("?"));
    }
    return out;
}

QString statusJson(const Routing& routing)
{
    return compact(routingJson(routing));
}

QString watchLines(const QString& text, const QDateTime& time, bool json)
{
    const QString stamp = time.toString(Qt::ISODateWithMs);
    const ReplyEffects effects = decodeReply(text);
    if (json) {
        QJsonArray log;
        QJsonObject routes; // only the outputs the reply names
        for (const auto& e : effects) {
            if (e.kind == Kind::LogEntry || (e.kind == Kind::FreeText && !e.text.isEmpty()))
                log.append(e.text);
            if (e.kind == Kind::Lamp)
                routes.insert(outputLetter(e.output), e.input);
        }
        QJsonObject line{{QStringLiteral("time"), stamp},
                         {QStringLiteral("text"), text},
                         {QStringLiteral("log"), log}};
        if (!routes.isEmpty())
            line.insert(QStringLiteral("routes"), routes);
        if (const auto mode = edidModeOf(effects))
            line.insert(QStringLiteral("edid"), *mode);
        return compact(line) + u'\n';
    }
    QString out;
    for (const auto& e : effects) {
        // An empty free text (a rejected chunk) leaves the log as it was.
        if (e.kind == Kind::LogEntry)
            out += stamp + u' ' + e.text + u'\n';
        else if (e.kind == Kind::FreeText && !e.text.isEmpty())
            out += stamp + u' ' + escapedText(e.text) + u'\n';
    }
    return out;
}

QString detectOutput(const QStringList& ports, bool json)
{
    if (json)
        return compact({{QStringLiteral("ports"), QJsonArray::fromStringList(ports)}}) + u'\n';
    QString out;
    for (const auto& port : ports)
        out += port + u'\n';
    return out;
}

} // namespace ctl
