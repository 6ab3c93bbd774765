#include "httpreply.h"

#include <QJsonDocument>

namespace {

// Nothing but matrixd itself: no inline script or style, no framing, no other origin.
const QByteArray kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; manifest-src 'self'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";

QList<QPair<QByteArray, QByteArray>> allHeaders(const HttpReply& reply)
{
    QList<QPair<QByteArray, QByteArray>> headers;
    auto add = [&headers](const QByteArray& name, const QByteArray& value) {
        headers.append(qMakePair(name, value));
    };
    if (!reply.contentType.isEmpty())
        add("Content-Type", reply.contentType);
    add("Content-Length", QByteArray::number(reply.body.size()));
    add("Content-Security-Policy", kContentSecurityPolicy);
    add("X-Content-Type-Options", "nosniff");
    add("Referrer-Policy", "no-referrer");
    add("Cache-Control", reply.cacheable ? "no-cache" : "no-store");
    if (reply.closeAfter)
        add("Connection", "close");
    headers.append(reply.headers);
    return headers;
}

} // namespace

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 421: return "Misdirected Request";
    case 426: return "Upgrade Required";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Error";
    }
}

HttpReply HttpReply::json(int status, const QJsonObject& object)
{
    return {status, "application/json", QJsonDocument(object).toJson(QJsonDocument::Compact), {}};
}

HttpReply HttpReply::problem(int status, const QString& detail)
{
    const QJsonObject object{{QStringLiteral("type"), QStringLiteral("about:blank")},
                             {QStringLiteral("title"), QString::fromLatin1(reasonPhrase(status))},
                             {QStringLiteral("status"), status},
                             {QStringLiteral("detail"), detail}};
    return {status, "application/problem+json",
            QJsonDocument(object).toJson(QJsonDocument::Compact), {}};
}

HttpReply HttpReply::file(const QByteArray& contentType, const QByteArray& body)
{
    HttpReply reply{200, contentType, body, {}};
    reply.cacheable = true;
    return reply;
}

HttpReply& HttpReply::with(const QByteArray& name, const QByteArray& value)
{
    headers.append(qMakePair(name, value));
    return *this;
}

QByteArray HttpReply::serialized() const
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto& [name, value] : allHeaders(*this))
        bytes += name + ": " + value + "\r\n";
    return bytes + "\r\n" + body;
}
