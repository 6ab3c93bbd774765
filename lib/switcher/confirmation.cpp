#include "confirmation.h"

#include "config/switcherconfig.h"

#include <algorithm>

namespace {

using Kind = ReplyEffect::Kind;

bool has(const ReplyEffects& effects, Kind kind)
{
    return std::any_of(effects.begin(), effects.end(),
                       [kind](const ReplyEffect& e) { return e.kind == kind; });
}

std::optional<ButtonMeaning> buttonOf(const CommandFrame& frame)
{
    if (frame.size() != 5 || std::uint8_t(frame.at(2)) != frame::kTypeButton)
        return std::nullopt;
    const auto index = buttonIndexForCode(std::uint8_t(frame.at(3)));
    if (!index)
        return std::nullopt;
    return buttonMeaning(*index);
}

std::optional<int> edidModeOf(const CommandFrame& frame)
{
    if (frame.size() != 5 || std::uint8_t(frame.at(2)) != frame::kTypeEdidMode)
        return std::nullopt;
    return std::uint8_t(frame.at(3));
}

bool isStatusQuery(const CommandFrame& frame)
{
    return frame == statusQueryFrame();
}

} // namespace

bool replyConfirms(const CommandFrame& frame, const ReplyEffects& effects)
{
    if (isStatusQuery(frame))
        return has(effects, Kind::LineBreak);
    if (const auto mode = edidModeOf(frame)) {
        return std::any_of(effects.begin(), effects.end(), [&](const ReplyEffect& e) {
            return e.kind == Kind::EdidSelection && e.mode == *mode;
        });
    }
    if (const auto button = buttonOf(frame); button && button->role != ButtonRole::Power) {
        // Only a route reply answers a button; a status reply carries no line break of its own.
        if (has(effects, Kind::LineBreak))
            return false;
        return std::any_of(effects.begin(), effects.end(), [&](const ReplyEffect& e) {
            return e.kind == Kind::Lamp && e.output == button->output &&
                   (button->role != ButtonRole::Input || e.input == button->input);
        });
    }
    // POWER and frames the switcher does not know: any answer ("Ack") is the confirmation.
    return true;
}

QString describeCommand(const CommandFrame& frame)
{
    if (isStatusQuery(frame))
        return QStringLiteral("status query");
    if (const auto mode = edidModeOf(frame))
        return QStringLiteral("EDID mode %1").arg(*mode);
    if (const auto button = buttonOf(frame)) {
        switch (button->role) {
        case ButtonRole::Input:
            return QStringLiteral("route %1 <- %2").arg(outputLetter(button->output)).arg(button->input);
        case ButtonRole::LeftArrow:
            return QStringLiteral("step %1 left").arg(outputLetter(button->output));
        case ButtonRole::RightArrow:
            return QStringLiteral("step %1 right").arg(outputLetter(button->output));
        case ButtonRole::Power:
            return QStringLiteral("power");
        }
    }
    return QStringLiteral("frame %1").arg(QString::fromLatin1(frame.toHex(' ')));
}
