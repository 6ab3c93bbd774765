#include "replydecoder.h"

#include "replies.h"

#include <array>
#include <optional>

namespace {

const std::array<QString, 11> kEdidMessages = {
    QStringLiteral("EDID MIX"),
    QStringLiteral("EDID COPY FROM OUTPUT1"),
    QStringLiteral("EDID COPY FROM OUTPUT2"),
    QStringLiteral("EDID COPY FROM OUTPUT3"),
    QStringLiteral("EDID COPY FROM OUTPUT4"),
    QStringLiteral("EDID 2D-2.0CH"),
    QStringLiteral("EDID 2D-5.1CH"),
    QStringLiteral("EDID 2D-7.1CH"),
    QStringLiteral("EDID 3D-2.0CH"),
    QStringLiteral("EDID 3D-5.1CH"),
    QStringLiteral("EDID 3D-7.1CH"),
};

// Character at 1-based position, or nothing past the end.
std::optional<QChar> at(const QString& text, int position)
{
    if (position < 1 || position > text.size())
        return std::nullopt;
    return text.at(position - 1);
}

bool is(const QString& text, int position, QChar expected)
{
    const auto c = at(text, position);
    return c && *c == expected;
}

std::optional<int> digitAt(const QString& text, int position)
{
    const auto c = at(text, position);
    if (!c || c->unicode() < '0' || c->unicode() > '9')
        return std::nullopt;
    return c->unicode() - '0';
}

bool isInputDigit(int d)
{
    return d >= 0 && d <= 3;
}

void addRoute(ReplyEffects& effects, int output, int inputDigit)
{
    effects.append(ReplyEffect::logEntry(routeMessage(output, inputDigit + 1)));
    effects.append(ReplyEffect::lamp(output, inputDigit + 1));
}

std::optional<ReplyEffects> routeReply(const QString& text)
{
    const auto o = digitAt(text, 2);
    const auto d = digitAt(text, 3);
    if (!is(text, 1, QChar(reply::kRouteMark)) || !o || !d)
        return std::nullopt;
    ReplyEffects effects;
    if (*o >= 1 && *o <= 4 && isInputDigit(*d))
        addRoute(effects, *o, *d);
    return effects;
}

std::optional<ReplyEffects> statusReply(const QString& text)
{
    if (!text.startsWith(reply::kLineBreak))
        return std::nullopt;
    for (int output = 1; output <= 4; ++output) {
        if (!is(text, 3 * output, QChar(reply::kRouteMark)))
            return std::nullopt;
    }
    ReplyEffects effects;
    for (int output = 1; output <= 4; ++output) {
        // A missing or non-digit position skips its output, like an input digit out of range.
        const auto d = digitAt(text, 3 * output + 2);
        if (d && isInputDigit(*d))
            addRoute(effects, output, *d);
    }
    effects.append(ReplyEffect::lineBreak());
    return effects;
}

std::optional<ReplyEffects> edidReply(const QString& text)
{
    if (!text.startsWith(reply::kEdidMark))
        return std::nullopt;
    std::optional<int> mode = digitAt(text, 3);
    if (!mode && is(text, 3, QChar(reply::kEdidModeTenDigit)))
        mode = 10;
    if (!mode)
        return std::nullopt;
    return ReplyEffects{ReplyEffect::logEntry(edidMessage(*mode)),
                        ReplyEffect::edidSelection(*mode)};
}

bool isSilentReply(const QString& text)
{
    return text.startsWith(reply::kAck) || text.startsWith(reply::kEdm);
}

} // namespace

QString routeMessage(int output, int input)
{
    return QStringLiteral("HDMI Out%1 -> HDMI In %2").arg(output).arg(input);
}

QString edidMessage(int mode)
{
    return kEdidMessages.at(static_cast<std::size_t>(mode));
}

ReplyEffects decodeReply(const QString& text)
{
    if (auto effects = routeReply(text))
        return *effects;
    if (auto effects = statusReply(text))
        return *effects;
    if (auto effects = edidReply(text))
        return *effects;
    if (isSilentReply(text))
        return {};
    return {ReplyEffect::freeText(text)};
}
