#pragma once

#include "httplimits.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <chrono>
#include <map>

// Who may use the API when a password is set: a client that sends it as a Bearer token, or a
// browser holding a session cookie it got by logging in with it. Passwords and tokens are
// compared in constant time; after a wrong password the same address waits, twice as long after
// each further one, up to 30 s. Nothing here logs or keeps the password in the clear.
class SessionAuth {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kFirstDelay{1};
    static constexpr std::chrono::seconds kLongestDelay{30};
    static constexpr std::chrono::hours kSessionIdle{12};
    static inline const QByteArray kCookieName = QByteArrayLiteral("matrixd_session");

    enum class Verdict { Allowed, Missing, Wrong, Waiting };
    struct Result {
        Verdict verdict = Verdict::Missing;
        bool byCookie = false;       // the session cookie let it in (the page, in a browser)
        std::chrono::seconds wait{}; // Waiting and Wrong: how long this address must wait now
        QByteArray token;            // a login's new session
    };

    // An empty password lets everyone in.
    SessionAuth(const QString& password, const HttpLimits& limits);

    bool isRequired() const { return !passwordDigest_.isEmpty(); }

    // The credentials of a request: its Authorization and Cookie headers.
    Result check(const QHostAddress& from, const QByteArray& authorization,
                 const QByteArray& cookies, Clock::time_point now = Clock::now());
    Result logIn(const QHostAddress& from, const QString& password,
                 Clock::time_point now = Clock::now());
    void logOut(const QByteArray& cookies);

    QByteArray sessionCookie(const QByteArray& token, bool secure) const;
    QByteArray expiredCookie(bool secure) const;

private:
    struct Failures {
        int count = 0;
        Clock::time_point until;
    };

    Result attempt(const QHostAddress& from, const QByteArray& password, Clock::time_point now);
    std::chrono::seconds waitFor(const QHostAddress& from, Clock::time_point now) const;
    Result fail(const QHostAddress& from, Clock::time_point now);
    bool hasSession(const QByteArray& cookies, Clock::time_point now);
    static QByteArray tokenIn(const QByteArray& cookies);
    static QByteArray digest(const QByteArray& secret);

    QByteArray passwordDigest_;
    HttpLimits limits_;
    std::map<QByteArray, Clock::time_point> sessions_; // token digest -> last use
    std::map<QString, Failures> failures_;            // address -> wrong passwords in a row
};
