#pragma once

// A client of matrixd's HTTP API as a script or a browser is one: Qt's network access manager
// (with its cookie jar), one request at a time, waited for in a real event loop; and a raw TCP
// connection for what no well-behaved client sends.

#include <algorithm>

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

struct HttpAnswer {
    int status = 0; // 0: no answer
    QByteArray body;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QString detail() const { return json().value(QStringLiteral("detail")).toString(); }
    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
};

class HttpClient {
public:
    explicit HttpClient(QString base) : base_(std::move(base)) {}

    HttpAnswer send(const QByteArray& method, const QString& path, const QByteArray& body = {},
                    const QList<QPair<QByteArray, QByteArray>>& headers = {})
    {
        return sendTogether(method, {{path, body}}, headers).first();
    }

    // Several requests in flight at once, each on a connection of its own; the answers in the
    // order given.
    QList<HttpAnswer> sendTogether(const QByteArray& method,
                                   const QList<QPair<QString, QByteArray>>& pathsAndBodies,
                                   const QList<QPair<QByteArray, QByteArray>>& headers = {})
    {
        QList<QNetworkReply*> replies;
        for (const auto& [path, body] : pathsAndBodies) {
            QNetworkRequest request(QUrl(base_ + path));
            if (!body.isEmpty())
                request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
            for (const auto& [name, value] : headers)
                request.setRawHeader(name, value);
            replies << manager.sendCustomRequest(request, method, body);
            if (ignoreTlsErrors)
                replies.last()->ignoreSslErrors();
        }
        const auto allFinished = [&replies] {
            return std::all_of(replies.begin(), replies.end(),
                               [](const QNetworkReply* r) { return r->isFinished(); });
        };
        QEventLoop loop;
        QTimer::singleShot(15'000, &loop, &QEventLoop::quit);
        for (QNetworkReply* reply : replies)
            QObject::connect(reply, &QNetworkReply::finished, &loop, [&] {
                if (allFinished())
                    loop.quit();
            });
        if (!allFinished())
            loop.exec();
        QList<HttpAnswer> answers;
        for (QNetworkReply* reply : replies)
            answers << take(reply);
        return answers;
    }

    HttpAnswer get(const QString& path) { return send("GET", path); }

    QNetworkAccessManager manager;
    bool ignoreTlsErrors = false;

private:
    static HttpAnswer take(QNetworkReply* reply)
    {
        HttpAnswer answer;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.body = reply->readAll();
        for (const auto& [name, value] : reply->rawHeaderPairs())
            answer.headers.insert(name.toLower(), value);
        reply->deleteLater();
        return answer;
    }

    QString base_;
};

// A connection that sends exactly the bytes given and collects what comes back.
class RawConnection {
public:
    bool open(int port)
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        return socket.waitForConnected(5000);
    }
    bool send(const QByteArray& bytes) { return socket.write(bytes) == bytes.size() && socket.flush(); }
    // Runs the event loop until the peer closes or `done` holds for what arrived.
    bool waitFor(const std::function<bool(const QByteArray&)>& done, int timeoutMs = 15'000)
    {
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        auto check = [&] {
            received += socket.readAll();
            if (done(received) || socket.state() == QAbstractSocket::UnconnectedState)
                loop.quit();
        };
        QObject::connect(&socket, &QTcpSocket::readyRead, &loop, check);
        QObject::connect(&socket, &QTcpSocket::disconnected, &loop, check);
        check();
        if (!done(received) && socket.state() != QAbstractSocket::UnconnectedState)
            loop.exec();
        received += socket.readAll();
        return done(received);
    }
    bool waitForClose(int timeoutMs = 15'000)
    {
        waitFor([](const QByteArray&) { return false; }, timeoutMs);
        return socket.state() == QAbstractSocket::UnconnectedState;
    }
    // The status code of the first answer, 0 while none.
    int status() const
    {
        return received.startsWith("HTTP/1.1 ") ? received.mid(9, 3).toInt() : 0;
    }

    QTcpSocket socket;
    QByteArray received;
};
