#include "listenaddress.h"

#include "switcher/names.h"

#include <QRegularExpression>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <array>

std::optional<QString> canonicalAddress(const QString& text, bool ipv6)
{
    static const QRegularExpression addressChars(QStringLiteral("^[0-9A-Fa-f.:]{1,45}$"));
    if (!addressChars.match(text).hasMatch())
        return std::nullopt;
    const QByteArray bytes = text.toLatin1();
    std::array<unsigned char, 16> binary{};
    const int family = ipv6 ? AF_INET6 : AF_INET;
    if (::inet_pton(family, bytes.constData(), binary.data()) != 1)
        return std::nullopt;
    std::array<char, 64> written{};
    if (!::inet_ntop(family, binary.data(), written.data(), written.size()))
        return std::nullopt;
    return QString::fromLatin1(written.data());
}

QString ListenAddress::text() const
{
    return isIpv6 ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                  : QStringLiteral("%1:%2").arg(host).arg(port);
}

QHostAddress ListenAddress::hostAddress() const
{
    return isEveryAddress() ? QHostAddress(QHostAddress::Any) : QHostAddress(host);
}

bool ListenAddress::isLoopback() const
{
    return isIpv6 ? host == u"::1" : host.startsWith(QStringLiteral("127."));
}

std::optional<ListenAddress> parseListenAddress(const QString& text, int defaultPort)
{
    // A bare IPv6 address has colons of its own, so it takes no port.
    if (const auto bare = canonicalAddress(text, true))
        return ListenAddress{*bare, defaultPort, true};
    QString host = text;
    QString port;
    bool ipv6 = false;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            return std::nullopt;
        port = rest.mid(1);
        if (!rest.isEmpty() && port.isEmpty())
            return std::nullopt;
        ipv6 = true;
    } else if (const qsizetype colon = text.indexOf(u':'); colon >= 0) {
        host = text.left(colon);
        port = text.mid(colon + 1);
        if (port.isEmpty())
            return std::nullopt;
    }
    ListenAddress listen;
    listen.port = defaultPort;
    if (!port.isEmpty()) {
        const auto number = wholeNumberIn(port, 1, 65535);
        if (!number)
            return std::nullopt;
        listen.port = *number;
    }
    if (!ipv6 && host == u"*") {
        listen.host = host;
        return listen;
    }
    if (!ipv6 && host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        host = QStringLiteral("127.0.0.1");
    const auto address = canonicalAddress(host, ipv6);
    if (!address)
        return std::nullopt;
    listen.host = *address;
    listen.isIpv6 = ipv6;
    return listen;
}
