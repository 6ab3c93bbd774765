#include "commandframe.h"

#include <algorithm>

ButtonMeaning buttonMeaning(int index)
{
    if (index < 0 || index >= kPowerButtonIndex)
        return {};
    const int output = index / kButtonsPerBlock + 1;
    const int slot = index % kButtonsPerBlock;
    if (slot == 0)
        return {ButtonRole::LeftArrow, output, 0};
    if (slot == 1)
        return {ButtonRole::RightArrow, output, 0};
    return {ButtonRole::Input, output, slot - 1};
}

int inputButtonIndex(int output, int input)
{
    return (output - 1) * kButtonsPerBlock + 1 + input;
}

int arrowButtonIndex(int output, ButtonRole arrow)
{
    return (output - 1) * kButtonsPerBlock + (arrow == ButtonRole::RightArrow ? 1 : 0);
}

std::optional<int> buttonIndexForCode(std::uint8_t code)
{
    const auto* found = std::find(kButtonCodes.begin(), kButtonCodes.end(), code);
    if (found == kButtonCodes.end())
        return std::nullopt;
    return static_cast<int>(found - kButtonCodes.begin());
}

static CommandFrame longFrame(std::uint8_t type, std::uint8_t argument)
{
    const char bytes[] = {char(frame::kLongLength), char(frame::kStartByte), char(type),
                          char(argument), char(frame::kEndByte)};
    return CommandFrame(bytes, sizeof bytes);
}

CommandFrame buttonCommandFrame(int index)
{
    return longFrame(frame::kTypeButton, kButtonCodes.at(static_cast<std::size_t>(index)));
}

CommandFrame edidModeFrame(int mode)
{
    return longFrame(frame::kTypeEdidMode, static_cast<std::uint8_t>(mode));
}

CommandFrame statusQueryFrame()
{
    const char bytes[] = {char(frame::kShortLength), char(frame::kStartByte),
                          char(frame::kTypeStatus), char(frame::kEndByte)};
    return CommandFrame(bytes, sizeof bytes);
}
