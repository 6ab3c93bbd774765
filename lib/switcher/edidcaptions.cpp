#include "edidcaptions.h"

#include "commandframe.h"

#include <array>

namespace {

const std::array<QString, kEdidModeCount> kCaptions = {
    QStringLiteral("EDID MIX"),    QStringLiteral("copy from A"), QStringLiteral("copy from B"),
    QStringLiteral("copy from C"), QStringLiteral("copy from D"), QStringLiteral("2D-2.0CH"),
    QStringLiteral("2D-5.1CH"),    QStringLiteral("2D-7.1CH"),    QStringLiteral("3D-2.0CH"),
    QStringLiteral("3D-5.1CH"),    QStringLiteral("3D-7.1CH"),
};

} // namespace

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
