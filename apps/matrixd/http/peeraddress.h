#pragma once

#include <QHostAddress>
#include <QString>

// A client's address as a person reads it: 192.0.2.7, not ::ffff:192.0.2.7 from a listener on
// every address.
inline QString peerAddressText(const QHostAddress& address)
{
    bool ipv4 = false;
    const quint32 v4 = address.toIPv4Address(&ipv4);
    return ipv4 ? QHostAddress(v4).toString() : address.toString();
}
