#include "routing.h"

#include "names.h"

#include <algorithm>

using Kind = ReplyEffect::Kind;

Routing knownRouting(const std::array<int, kOutputCount>& inputOfOutput)
{
    Routing routing;
    std::copy(inputOfOutput.begin(), inputOfOutput.end(), routing.begin());
    return routing;
}

bool isStatusReply(const ReplyEffects& effects)
{
    return std::any_of(effects.begin(), effects.end(),
                       [](const ReplyEffect& e) { return e.kind == Kind::LineBreak; });
}

Routing routingOf(const ReplyEffects& effects)
{
    Routing routing;
    for (const ReplyEffect& e : effects) {
        if (e.kind == Kind::Lamp)
            routing.at(static_cast<std::size_t>(e.output - 1)) = e.input;
    }
    return routing;
}

std::optional<int> edidModeOf(const ReplyEffects& effects)
{
    for (const ReplyEffect& e : effects) {
        if (e.kind == Kind::EdidSelection)
            return e.mode;
    }
    return std::nullopt;
}

QJsonObject routingJson(const Routing& routing)
{
    QJsonObject object;
    for (int output = 1; output <= kOutputCount; ++output) {
        const auto& input = routing.at(static_cast<std::size_t>(output - 1));
        object.insert(outputLetter(output), input ? QJsonValue(*input) : QJsonValue());
    }
    return object;
}
