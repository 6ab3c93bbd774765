#include "switcherconfig.h"

QString SwitcherConfig::inputLabel(int input) const
{
    const QString& name = inputNames.at(std::size_t(input - 1));
    return name.isEmpty() ? QStringLiteral("Input %1").arg(input) : name;
}

QString SwitcherConfig::outputLabel(int output) const
{
    const QString& name = outputNames.at(std::size_t(output - 1));
    return name.isEmpty() ? QStringLiteral("Output %1").arg(outputLetter(output)) : name;
}

std::optional<int> SwitcherConfig::inputNamed(const QString& text) const
{
    const QString wanted = text.trimmed();
    if (const auto number = wholeNumberIn(wanted, 1, kInputCount))
        return number;
    for (int input = 1; input <= kInputCount; ++input) {
        if (wanted.compare(inputLabel(input), Qt::CaseInsensitive) == 0)
            return input;
    }
    return std::nullopt;
}

std::optional<int> SwitcherConfig::outputNamed(const QString& text) const
{
    const QString wanted = text.trimmed();
    if (const auto output = outputForLetterOrNumber(wanted))
        return output;
    for (int output = 1; output <= kOutputCount; ++output) {
        if (wanted.compare(outputLabel(output), Qt::CaseInsensitive) == 0)
            return output;
    }
    return std::nullopt;
}

const Preset* SwitcherConfig::presetNamed(const QString& text) const
{
    for (const Preset& preset : presets) {
        if (preset.name.compare(text.trimmed(), Qt::CaseInsensitive) == 0)
            return &preset;
    }
    return nullptr;
}
