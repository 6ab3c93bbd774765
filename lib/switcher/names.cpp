#include "names.h"

#include "commandframe.h"

#include <array>

namespace {

const std::array<QString, kEdidModeCount> kCaptions = {
    QStringLiteral("EDID MIX"),    QStringLiteral("copy from A"), QStringLiteral("copy from B"),
    QStringLiteral("copy from C"), QStringLiteral("copy from D"), QStringLiteral("2D-2.0CH"),
    QStringLiteral("2D-5.1CH"),    QStringLiteral("2D-7.1CH"),    QStringLiteral("3D-2.0CH"),
    QStringLiteral("3D-5.1CH"),    QStringLiteral("3D-7.1CH"),
};

constexpr char16_t kFirstLetter = u'A';
// More digits than any count or port number here, fewer than an int overflows at.
constexpr qsizetype kMostDigits = 9;

} // namespace

std::optional<int> wholeNumberIn(QStringView text, int low, int high)
{
    if (text.isEmpty() || text.size() > kMostDigits)
        return std::nullopt;
    int value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

QString outputLetter(int output)
{
    return QString(QChar(char16_t(kFirstLetter + output - 1)));
}

std::optional<int> outputForLetter(QStringView text)
{
    if (text.size() != 1)
        return std::nullopt;
    const char16_t letter = text.at(0).toUpper().unicode();
    if (letter < kFirstLetter || letter >= kFirstLetter + kOutputCount)
        return std::nullopt;
    return letter - kFirstLetter + 1;
}

std::optional<int> outputForLetterOrNumber(QStringView text)
{
    if (const auto output = outputForLetter(text))
        return output;
    return wholeNumberIn(text, 1, kOutputCount);
}

QString edidCaption(int mode)
{
    return kCaptions.at(static_cast<std::size_t>(mode));
}

std::optional<int> edidModeForCaption(QStringView caption)
{
    const QStringView wanted = caption.trimmed();
    for (std::size_t mode = 0; mode < kCaptions.size(); ++mode) {
        if (wanted.compare(kCaptions[mode], Qt::CaseInsensitive) == 0)
            return static_cast<int>(mode);
    }
    return std::nullopt;
}

std::optional<int> edidModeNamed(QStringView text)
{
    if (const auto mode = wholeNumberIn(text.trimmed(), 0, kEdidModeCount - 1))
        return mode;
    return edidModeForCaption(text);
}
