#include "commandframe.h"

#include "names.h"

#include <algorithm>

namespace {

std::uint8_t byteAt(const CommandFrame& frame, qsizetype offset)
{
    return static_cast<std::uint8_t>(frame.at(offset));
}

QString hexByte(std::uint8_t byte)
{
    return QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

} // namespace

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

FrameRequest recognizeFrame(const CommandFrame& frame)
{
    FrameRequest request;
    if (frame.size() == frame::kShortLength && byteAt(frame, 2) == frame::kTypeStatus) {
        request.kind = FrameRequest::Kind::StatusQuery;
    } else if (frame.size() == frame::kLongLength && byteAt(frame, 2) == frame::kTypeEdidMode) {
        if (byteAt(frame, 3) < kEdidModeCount) {
            request.kind = FrameRequest::Kind::EdidMode;
            request.edidMode = byteAt(frame, 3);
        }
    } else if (frame.size() == frame::kLongLength && byteAt(frame, 2) == frame::kTypeButton) {
        if (const auto index = buttonIndexForCode(byteAt(frame, 3))) {
            request.kind = FrameRequest::Kind::Button;
            request.button = buttonMeaning(*index);
        }
    }
    return request;
}

QString describeFrame(const CommandFrame& frame)
{
    const FrameRequest request = recognizeFrame(frame);
    switch (request.kind) {
    case FrameRequest::Kind::StatusQuery:
        return QStringLiteral("status query");
    case FrameRequest::Kind::EdidMode:
        return QStringLiteral("EDID mode %1").arg(request.edidMode);
    case FrameRequest::Kind::Button: {
        const QString block = outputLetter(request.button.output);
        switch (request.button.role) {
        case ButtonRole::Power:
            return QStringLiteral("button POWER");
        case ButtonRole::LeftArrow:
            return QStringLiteral("button %1 left").arg(block);
        case ButtonRole::RightArrow:
            return QStringLiteral("button %1 right").arg(block);
        case ButtonRole::Input:
            return QStringLiteral("button %1 input %2").arg(block).arg(request.button.input);
        }
        break;
    }
    case FrameRequest::Kind::Unknown:
        break;
    }
    if (frame.size() < 3)
        return QStringLiteral("frame %1").arg(QString::fromLatin1(frame.toHex(' ')));
    const std::uint8_t type = byteAt(frame, 2);
    if (frame.size() == frame::kLongLength && type == frame::kTypeEdidMode)
        return QStringLiteral("EDID mode %1 (no such mode)").arg(hexByte(byteAt(frame, 3)));
    if (frame.size() == frame::kLongLength && type == frame::kTypeButton)
        return QStringLiteral("button code %1 (no such button)").arg(hexByte(byteAt(frame, 3)));
    return QStringLiteral("unknown frame type %1").arg(hexByte(type));
}
