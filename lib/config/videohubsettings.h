#pragma once

#include "config/listenaddress.h"

#include <QList>
#include <QString>

#include <optional>

// The [videohub] section: where matrixd listens for router control clients, who may connect
// and how many at once. The protocol has no password, so the listen address and the allow list
// are the only guard.

inline constexpr int kDefaultVideohubPort = 9990;
inline constexpr int kDefaultVideohubClients = 32;
inline constexpr int kMostVideohubClients = 1000;

// An address, or a network in NETWORK/BITS form; either IPv4 or IPv6.
struct AllowedNetwork {
    QString address; // as inet_ntop writes it
    int bits = 32;   // 32 or 128 for a single address
    bool isIpv6 = false;

    // "192.168.1.0/24", or the address alone when it names one host.
    QString text() const;
    friend bool operator==(const AllowedNetwork&, const AllowedNetwork&) = default;
};

struct VideohubSettings {
    ListenAddress listen{QStringLiteral("127.0.0.1"), kDefaultVideohubPort};
    QList<AllowedNetwork> allow; // empty: whoever reaches the listen address
    int maxClients = kDefaultVideohubClients;
    int sectionLine = 0; // where the section starts, and where `listen` is, for errors
    int listenLine = 0;
};

// ADDRESS or NETWORK/BITS.
std::optional<AllowedNetwork> parseAllowedNetwork(const QString& text);

// Reads one key of the section; empty when it is good, else what is wrong with it.
QString readVideohubKey(VideohubSettings& settings, const QString& key, const QString& value,
                        int line);
// What no single key shows: a listen address beyond loopback without an allow list. Empty when
// there is nothing wrong.
QString videohubSettingsProblem(const VideohubSettings& settings);
// The section as --check prints it, every key with its value.
QString describeVideohubSettings(const VideohubSettings& settings);
