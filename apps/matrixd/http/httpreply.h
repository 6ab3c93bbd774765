#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

// One answer of the web surface, whole, before it is written. Every answer carries the same
// protective headers, so none can be forgotten on some path.
struct HttpReply {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // besides the common ones
    bool cacheable = false; // the page's own files; API answers never are
    bool closeAfter = false;

    static HttpReply json(int status, const QJsonObject& object);
    // An RFC 9457 problem document: application/problem+json with title and detail.
    static HttpReply problem(int status, const QString& detail);
    static HttpReply file(const QByteArray& contentType, const QByteArray& body);

    HttpReply& with(const QByteArray& name, const QByteArray& value);

    // Status line, headers and body as sent.
    QByteArray serialized() const;
};

// "Not Found" for 404 and the others the surface uses.
QByteArray reasonPhrase(int status);
