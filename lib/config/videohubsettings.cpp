#include "videohubsettings.h"

#include "switcher/names.h"

#include <QRegularExpression>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <array>

namespace {

// The C library's parser, strict dotted quads and every IPv6 form; the address in the form
// inet_ntop writes, or nothing.
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

QString joinAllowList(const QList<AllowedNetwork>& allow)
{
    QStringList texts;
    for (const AllowedNetwork& network : allow)
        texts << network.text();
    return texts.join(QStringLiteral(", "));
}

} // namespace

QString AllowedNetwork::text() const
{
    return bits == (isIpv6 ? 128 : 32) ? address : QStringLiteral("%1/%2").arg(address).arg(bits);
}

QString ListenAddress::text() const
{
    return isIpv6 ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                  : QStringLiteral("%1:%2").arg(host).arg(port);
}

bool ListenAddress::isLoopback() const
{
    return isIpv6 ? host == u"::1" : host.startsWith(QStringLiteral("127."));
}

std::optional<ListenAddress> parseListenAddress(const QString& text)
{
    // A bare IPv6 address has colons of its own, so it takes no port.
    if (const auto bare = canonicalAddress(text, true))
        return ListenAddress{*bare, kDefaultVideohubPort, true};
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
    if (!port.isEmpty()) {
        const auto number = wholeNumberIn(port, 1, 65535);
        if (!number)
            return std::nullopt;
        listen.port = *number;
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

std::optional<AllowedNetwork> parseAllowedNetwork(const QString& text)
{
    const qsizetype slash = text.indexOf(u'/');
    const QString address = slash < 0 ? text : text.left(slash);
    AllowedNetwork network;
    network.isIpv6 = address.contains(u':');
    const auto canonical = canonicalAddress(address, network.isIpv6);
    if (!canonical)
        return std::nullopt;
    network.address = *canonical;
    const int most = network.isIpv6 ? 128 : 32;
    network.bits = most;
    if (slash >= 0) {
        const auto bits = wholeNumberIn(text.mid(slash + 1), 0, most);
        if (!bits)
            return std::nullopt;
        network.bits = *bits;
    }
    return network;
}

QString readVideohubKey(VideohubSettings& settings, const QString& key, const QString& value,
                        int line)
{
    if (key == u"listen") {
        const auto listen = parseListenAddress(value);
        if (!listen)
            return QStringLiteral("listen is HOST:PORT with HOST an IP address or localhost, "
                                  "[IPV6]:PORT, or the host alone for port %1, not \"%2\"")
                .arg(kDefaultVideohubPort)
                .arg(value);
        settings.listen = *listen;
        settings.listenLine = line;
    } else if (key == u"allow") {
        settings.allow.clear();
        for (const QString& entry : value.split(u',')) {
            const auto network = parseAllowedNetwork(entry.trimmed());
            if (!network)
                return QStringLiteral("allow is a list of ADDRESS or NETWORK/BITS separated by "
                                      "commas; \"%1\" is neither")
                    .arg(entry.trimmed());
            settings.allow.append(*network);
        }
    } else if (key == u"max_clients") {
        const auto most = wholeNumberIn(value, 1, kMostVideohubClients);
        if (!most)
            return QStringLiteral("max_clients is 1 to %1, not \"%2\"")
                .arg(kMostVideohubClients)
                .arg(value);
        settings.maxClients = *most;
    } else {
        return QStringLiteral("unknown key %1 in [videohub]").arg(key);
    }
    return {};
}

QString videohubSettingsProblem(const VideohubSettings& settings)
{
    if (settings.listen.isLoopback() || !settings.allow.isEmpty())
        return {};
    return QStringLiteral("[videohub] listens on %1, beyond this machine, and the protocol has no "
                          "password: give allow = the addresses or networks of its clients")
        .arg(settings.listen.text());
}

QString describeVideohubSettings(const VideohubSettings& settings)
{
    QString text = QStringLiteral("[videohub]\nlisten = %1\n").arg(settings.listen.text());
    if (!settings.allow.isEmpty())
        text += QStringLiteral("allow = %1\n").arg(joinAllowList(settings.allow));
    text += QStringLiteral("max_clients = %1\n").arg(settings.maxClients);
    return text;
}
