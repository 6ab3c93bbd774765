#pragma once

#include <QByteArray>
#include <QString>

#include "routing.h"

// The switcher's reply texts, as the decoder reads them and the simulator writes them.
namespace reply {
inline constexpr char kRouteMark = 's';
inline const QString kLineBreak = QStringLiteral("\r\n");
inline const QString kEdidMark = QStringLiteral("EE");
inline const QString kAck = QStringLiteral("Ack");
inline const QString kEdm = QStringLiteral("edm");
// A single character cannot carry mode 10; the character after '9' does.
inline constexpr char kEdidModeTenDigit = ':';

// "s" output-digit input-digit; input is 1..4 and travels as 0..3.
QByteArray route(int output, int input);
// CR LF and one "s" output-digit input-digit group per output, in output order; an output not
// known has no digit ("?"), which a reader skips.
QByteArray status(const Routing& routing);
QByteArray edid(int mode);
QByteArray ack();
} // namespace reply
