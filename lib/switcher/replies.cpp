#include "replies.h"

namespace reply {

static char digit(int value)
{
    return static_cast<char>('0' + value);
}

QByteArray route(int output, int input)
{
    return QByteArray(1, kRouteMark) + digit(output) + digit(input - 1);
}

QByteArray status(const Routing& routing)
{
    QByteArray text = kLineBreak.toLatin1();
    for (int output = 1; output <= kOutputCount; ++output) {
        const auto& input = routing.at(static_cast<std::size_t>(output - 1));
        text += input ? route(output, *input) : QByteArray(1, kRouteMark) + digit(output) + '?';
    }
    return text;
}

QByteArray edid(int mode)
{
    return kEdidMark.toLatin1() + (mode == 10 ? kEdidModeTenDigit : digit(mode));
}

QByteArray ack()
{
    return kAck.toLatin1();
}

} // namespace reply
