#include "valueparsers.h"

#include <QRegularExpression>

std::optional<std::chrono::milliseconds> parsePollSeconds(const QString& text)
{
    static const QRegularExpression seconds(QStringLiteral("^([0-9]{1,5})(?:\\.([0-9]{1,3}))?$"));
    const auto match = seconds.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int whole = match.captured(1).toInt();
    const int fraction = match.captured(2).leftJustified(3, u'0').toInt();
    if (whole > kMaxPollSeconds || (whole == kMaxPollSeconds && fraction > 0))
        return std::nullopt;
    return std::chrono::milliseconds{whole * 1000LL + fraction};
}

QString pollSecondsText(std::chrono::milliseconds poll)
{
    return QString::number(double(poll.count()) / 1000, 'g', 9);
}
