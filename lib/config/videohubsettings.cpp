#include "videohubsettings.h"

#include "switcher/names.h"


namespace {

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
        const auto listen = parseListenAddress(value, kDefaultVideohubPort);
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
