#include "sessionauth.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>
#include <array>

namespace {

constexpr int kTokenBytes = 32;

// Equal-length digests, every byte looked at whatever differs.
bool sameDigest(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

template <typename Map, typename Older>
void makeRoom(Map& map, std::size_t most, Older older)
{
    while (!map.empty() && map.size() >= most)
        map.erase(std::min_element(map.begin(), map.end(), older));
}

} // namespace

SessionAuth::SessionAuth(const QString& password, const HttpLimits& limits)
    : passwordDigest_(password.isEmpty() ? QByteArray() : digest(password.toUtf8())),
      limits_(limits)
{
}

QByteArray SessionAuth::digest(const QByteArray& secret)
{
    return QCryptographicHash::hash(secret, QCryptographicHash::Sha256);
}

std::chrono::seconds SessionAuth::waitFor(const QHostAddress& from, Clock::time_point now) const
{
    const auto it = failures_.find(from.toString());
    if (it == failures_.end() || it->second.until <= now)
        return std::chrono::seconds{0};
    return std::chrono::ceil<std::chrono::seconds>(it->second.until - now);
}

SessionAuth::Result SessionAuth::fail(const QHostAddress& from, Clock::time_point now)
{
    const QString address = from.toString();
    if (!failures_.count(address))
        makeRoom(failures_, std::size_t(limits_.failedAddresses),
                 [](const auto& a, const auto& b) { return a.second.until < b.second.until; });
    Failures& failures = failures_[address];
    failures.count = std::min(failures.count + 1, 16);
    const auto delay = std::min(kFirstDelay * (1 << (failures.count - 1)), kLongestDelay);
    failures.until = now + delay;
    return {Verdict::Wrong, false, delay, {}};
}

SessionAuth::Result SessionAuth::attempt(const QHostAddress& from, const QByteArray& password,
                                         Clock::time_point now)
{
    if (const auto wait = waitFor(from, now); wait.count() > 0)
        return {Verdict::Waiting, false, wait, {}};
    if (!sameDigest(digest(password), passwordDigest_))
        return fail(from, now);
    failures_.erase(from.toString());
    return {Verdict::Allowed, false, {}, {}};
}

SessionAuth::Result SessionAuth::check(const QHostAddress& from, const QByteArray& authorization,
                                       const QByteArray& cookies, Clock::time_point now)
{
    if (!isRequired())
        return {Verdict::Allowed, false, {}, {}};
    static const QByteArray bearer = QByteArrayLiteral("bearer ");
    if (authorization.size() > bearer.size() &&
        authorization.left(bearer.size()).toLower() == bearer)
        return attempt(from, authorization.mid(bearer.size()).trimmed(), now);
    if (hasSession(cookies, now))
        return {Verdict::Allowed, true, {}, {}};
    return {Verdict::Missing, false, {}, {}};
}

SessionAuth::Result SessionAuth::logIn(const QHostAddress& from, const QString& password,
                                       Clock::time_point now)
{
    Result result = attempt(from, password.toUtf8(), now);
    if (result.verdict != Verdict::Allowed)
        return result;
    std::array<quint32, kTokenBytes / 4> random{};
    QRandomGenerator::system()->fillRange(random.data(), random.size());
    result.token = QByteArray(reinterpret_cast<const char*>(random.data()), kTokenBytes)
                       .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    makeRoom(sessions_, std::size_t(limits_.sessions),
             [](const auto& a, const auto& b) { return a.second < b.second; });
    sessions_[digest(result.token)] = now;
    return result;
}

void SessionAuth::logOut(const QByteArray& cookies)
{
    if (const QByteArray token = tokenIn(cookies); !token.isEmpty())
        sessions_.erase(digest(token));
}

bool SessionAuth::hasSession(const QByteArray& cookies, Clock::time_point now)
{
    const QByteArray token = tokenIn(cookies);
    if (token.isEmpty())
        return false;
    // Looked up by digest: how long the lookup takes says nothing about a valid token.
    const auto it = sessions_.find(digest(token));
    if (it == sessions_.end())
        return false;
    if (now - it->second > kSessionIdle) {
        sessions_.erase(it);
        return false;
    }
    it->second = now;
    return true;
}

QByteArray SessionAuth::tokenIn(const QByteArray& cookies)
{
    for (const QByteArray& pair : cookies.split(';')) {
        const QByteArray trimmed = pair.trimmed();
        if (trimmed.startsWith(kCookieName + '='))
            return trimmed.mid(kCookieName.size() + 1);
    }
    return {};
}

QByteArray SessionAuth::sessionCookie(const QByteArray& token, bool secure) const
{
    return kCookieName + '=' + token + "; Path=/; HttpOnly; SameSite=Strict" +
           (secure ? "; Secure" : "");
}

QByteArray SessionAuth::expiredCookie(bool secure) const
{
    return kCookieName + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict" +
           (secure ? "; Secure" : "");
}
