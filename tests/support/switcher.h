#pragma once

// The switcher's codes, replies and the panel's log messages, written out here and not taken from
// the code under test, so that a wrong table entry there shows.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>

namespace switcher {

// The code byte of each block button by Command1 index: per block left, right, inputs 1..4.
inline constexpr std::array<char, 24> kCodes = {
    0x57, 0x41, 0x09, 0x1D, 0x1F, 0x0D, // A
    0x1B, 0x11, 0x17, 0x12, 0x59, 0x08, // B
    0x55, 0x48, 0x5E, 0x06, 0x05, 0x03, // C
    0x07, 0x40, 0x18, 0x44, 0x0F, 0x51, // D
};
inline constexpr char kPowerCode = '\xFF'; // Command1_24

inline const QByteArray kStatusQuery = QByteArray::fromHex("04552077");

inline const QStringList kEdidMessages =
    QStringLiteral("EDID MIX|EDID COPY FROM OUTPUT1|EDID COPY FROM OUTPUT2|EDID COPY FROM OUTPUT3|"
                   "EDID COPY FROM OUTPUT4|EDID 2D-2.0CH|EDID 2D-5.1CH|EDID 2D-7.1CH|"
                   "EDID 3D-2.0CH|EDID 3D-5.1CH|EDID 3D-7.1CH")
        .split(u'|');

inline const QStringList kEdidCaptions = {
    "EDID MIX", "copy from A", "copy from B", "copy from C", "copy from D", "2D-2.0CH",
    "2D-5.1CH", "2D-7.1CH",    "3D-2.0CH",    "3D-5.1CH",    "3D-7.1CH"};

inline int inputIndex(int output, int input)
{
    return (output - 1) * 6 + 1 + input;
}

inline int arrowIndex(int output, bool right)
{
    return (output - 1) * 6 + (right ? 1 : 0);
}

inline QByteArray buttonFrame(int index)
{
    const char code = index == 24 ? kPowerCode : kCodes.at(std::size_t(index));
    return QByteArray("\x05\x55\x19", 3) + code + '\x77';
}

inline QByteArray edidFrame(int mode)
{
    return QByteArray("\x05\x55\x18", 3) + char(mode) + '\x77';
}

inline QByteArray routeReply(int output, int input)
{
    return 's' + QByteArray::number(output) + QByteArray::number(input - 1);
}

inline QByteArray edidReply(int mode)
{
    return "EE" + (mode == 10 ? QByteArray(":") : QByteArray::number(mode));
}

// routes: the input of outputs 1..4, e.g. "2413".
inline QByteArray statusReply(const QString& routes)
{
    QByteArray reply("\r\n");
    for (int output = 1; output <= 4; ++output)
        reply += routeReply(output, routes.at(output - 1).digitValue());
    return reply;
}

inline QString routeMessage(int output, int input)
{
    return QStringLiteral("HDMI Out%1 -> HDMI In %2").arg(output).arg(input);
}

// Log entries: CR LF, then the message.
inline QString routeEntry(int output, int input)
{
    return QStringLiteral("\r\n") + routeMessage(output, input);
}

inline QString edidEntry(int mode)
{
    return QStringLiteral("\r\n") + kEdidMessages.at(mode);
}

// Four entries and the closing line break.
inline QString statusEntries(const QString& routes)
{
    QString text;
    for (int output = 1; output <= 4; ++output)
        text += routeEntry(output, routes.at(output - 1).digitValue());
    return text + QStringLiteral("\r\n");
}

} // namespace switcher
