#include "apijson.h"

#include "switcher/names.h"

#include <QJsonArray>

namespace apijson {

namespace {

QJsonValue orNull(const std::optional<int>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// A whole JSON number within [low, high]; 3.0 counts, 3.5 does not.
std::optional<int> wholeIn(const QJsonValue& value, int low, int high)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number < low || number > high || number != double(int(number)))
        return std::nullopt;
    return int(number);
}

} // namespace

QJsonObject state(const SwitcherConfig& config, const SwitcherState& state)
{
    QJsonArray outputs;
    for (int output = 1; output <= kOutputCount; ++output)
        outputs.append(QJsonObject{{QStringLiteral("output"), outputLetter(output)},
                                   {QStringLiteral("name"), config.outputLabel(output)},
                                   {QStringLiteral("input"), orNull(state.input(output))}});
    QJsonArray inputs;
    for (int input = 1; input <= kInputCount; ++input)
        inputs.append(QJsonObject{{QStringLiteral("input"), input},
                                  {QStringLiteral("name"), config.inputLabel(input)}});
    QJsonArray modes;
    for (int mode = 0; mode < kEdidModeCount; ++mode)
        modes.append(QJsonObject{{QStringLiteral("mode"), mode},
                                 {QStringLiteral("caption"), edidCaption(mode)}});
    QJsonArray presets;
    for (const Preset& preset : config.presets)
        presets.append(preset.name);
    const auto mode = state.edidMode();
    const QJsonValue edid = mode ? QJsonValue(QJsonObject{{QStringLiteral("mode"), *mode},
                                                          {QStringLiteral("caption"), edidCaption(*mode)}})
                                 : QJsonValue(QJsonValue::Null);
    return {{QStringLiteral("name"), config.name},
            {QStringLiteral("answering"), state.isAnswering()},
            {QStringLiteral("outputs"), outputs},
            {QStringLiteral("inputs"), inputs},
            {QStringLiteral("edid"), edid},
            {QStringLiteral("edidModes"), modes},
            {QStringLiteral("presets"), presets}};
}

QJsonObject stateEvent(const SwitcherConfig& config, const SwitcherState& switcher)
{
    return {{QStringLiteral("type"), QStringLiteral("state")},
            {QStringLiteral("state"), state(config, switcher)}};
}

QJsonObject health(bool answering)
{
    return {{QStringLiteral("status"), QStringLiteral("running")},
            {QStringLiteral("answering"), answering}};
}

std::optional<int> inputOf(const SwitcherConfig& config, const QJsonValue& value)
{
    if (value.isString()) {
        // A number in a string is a name's business: "3" is input 3 as the file says.
        return config.inputNamed(value.toString());
    }
    return wholeIn(value, 1, kInputCount);
}

std::optional<int> edidModeOf(const QJsonValue& value)
{
    if (value.isString())
        return edidModeForCaption(value.toString());
    return wholeIn(value, 0, kEdidModeCount - 1);
}

} // namespace apijson
