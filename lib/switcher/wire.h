#pragma once

#include <QByteArrayView>
#include <QString>

#include <chrono>

// The switcher's line, as every program drives it.
namespace wire {

// Baud, parity, data and stop bits of a serial line.
struct LineSettings {
    int baud = 9600;
    char parity = 'N'; // N, E, O, M or S
    int dataBits = 8;
    int stopBits = 1;

    // "9600,N,8,1"
    QString text() const
    {
        return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QLatin1Char(parity)).arg(dataBits).arg(stopBits);
    }
    // Settings a serial port can take at all.
    bool isValid() const
    {
        return baud > 0 && QByteArrayView("NEOMS").contains(parity) && dataBits >= 5 &&
               dataBits <= 8 && (stopBits == 1 || stopBits == 2);
    }
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// The switcher's own: 9600 8N1.
inline constexpr LineSettings kLineSettings{};
// Ten bits a byte at 9600 baud: about 1.04 ms.
inline constexpr std::chrono::microseconds kByteTime{1042};
// A reply still arriving is collected into one text by waiting this long after its first byte.
inline constexpr std::chrono::milliseconds kSettleWait{30};
// How long a command waits for the reply that confirms it, unless configured otherwise.
inline constexpr std::chrono::milliseconds kDefaultCommandTimeout{500};
// How often the service asks for the status while idle, unless configured otherwise.
inline constexpr std::chrono::milliseconds kDefaultPoll{5000};

} // namespace wire
