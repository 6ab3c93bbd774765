#pragma once

#include <QHostAddress>
#include <QString>

#include <optional>

// Where a network surface of matrixd listens, as `listen` and --videohub/--http take it.
struct ListenAddress {
    QString host; // an address as inet_ntop writes it, or "*" for every address
    int port = 0;
    bool isIpv6 = false;

    // "127.0.0.1:9990", "[::1]:8080", "*:8080".
    QString text() const;
    bool isLoopback() const;
    bool isEveryAddress() const { return host == u"*"; }
    // What a server listens on for it.
    QHostAddress hostAddress() const;
    friend bool operator==(const ListenAddress&, const ListenAddress&) = default;
};

// HOST[:PORT]: a dotted quad, [IPv6] (or IPv6 without a port), localhost (127.0.0.1) or * (every
// address); `defaultPort` when the port is left out.
std::optional<ListenAddress> parseListenAddress(const QString& text, int defaultPort);

// The C library's parser, strict dotted quads and every IPv6 form; the address in the form
// inet_ntop writes, or nothing.
std::optional<QString> canonicalAddress(const QString& text, bool ipv6);
