#include "switchermodel.h"

#include "names.h"

#include "switcher/replies.h"

namespace {

std::uint8_t byteAt(const CommandFrame& frame, qsizetype offset)
{
    return static_cast<std::uint8_t>(frame.at(offset));
}

bool isLong(const CommandFrame& frame)
{
    return frame.size() == frame::kLongLength;
}

bool isStatusQuery(const CommandFrame& frame)
{
    return frame.size() == frame::kShortLength && byteAt(frame, 2) == frame::kTypeStatus;
}

bool isEdidCommand(const CommandFrame& frame)
{
    return isLong(frame) && byteAt(frame, 2) == frame::kTypeEdidMode &&
           byteAt(frame, 3) < kEdidModeCount;
}

bool isButtonCommand(const CommandFrame& frame)
{
    return isLong(frame) && byteAt(frame, 2) == frame::kTypeButton;
}

QString hexByte(std::uint8_t byte)
{
    return QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

int wrapInput(int input)
{
    return (input + kInputCount - 1) % kInputCount + 1;
}

} // namespace

SwitcherModel::SwitcherModel(const Routes& routes, int edidMode)
    : routes_(routes), edidMode_(edidMode)
{
}

QList<SwitcherModel::Exchange> SwitcherModel::receive(const QByteArray& bytes)
{
    QList<Exchange> exchanges;
    for (const CommandFrame& frame : parser_.feed(bytes))
        exchanges.append({frame, describeFrame(frame), answer(frame)});
    return exchanges;
}

QByteArray SwitcherModel::answer(const CommandFrame& frame)
{
    if (isStatusQuery(frame))
        return reply::status(routes_);
    if (isEdidCommand(frame)) {
        edidMode_ = byteAt(frame, 3);
        return reply::edid(edidMode_);
    }
    if (isButtonCommand(frame))
        return pressButton(byteAt(frame, 3));
    return reply::ack();
}

QByteArray SwitcherModel::frontPanelRoute(int output, int input)
{
    if (output < 1 || output > kOutputCount || input < 1 || input > kInputCount)
        return {};
    routes_[static_cast<std::size_t>(output - 1)] = input;
    return reply::route(output, input);
}

QByteArray SwitcherModel::frontPanelEdid(int mode)
{
    if (mode < 0 || mode >= kEdidModeCount)
        return {};
    edidMode_ = mode;
    return reply::edid(mode);
}

QByteArray SwitcherModel::pressButton(std::uint8_t code)
{
    const auto index = buttonIndexForCode(code);
    if (!index)
        return reply::ack();
    const ButtonMeaning meaning = buttonMeaning(*index);
    if (meaning.role == ButtonRole::Power)
        return reply::ack();
    int& input = routes_[static_cast<std::size_t>(meaning.output - 1)];
    if (meaning.role == ButtonRole::Input)
        input = meaning.input;
    else
        input = wrapInput(input + (meaning.role == ButtonRole::RightArrow ? 1 : -1));
    return reply::route(meaning.output, input);
}

QString describeFrame(const CommandFrame& frame)
{
    if (isStatusQuery(frame))
        return QStringLiteral("status query");
    if (isEdidCommand(frame))
        return QStringLiteral("EDID mode %1").arg(byteAt(frame, 3));
    if (isLong(frame) && byteAt(frame, 2) == frame::kTypeEdidMode)
        return QStringLiteral("EDID mode %1 (no such mode)").arg(hexByte(byteAt(frame, 3)));
    if (isButtonCommand(frame)) {
        const std::uint8_t code = byteAt(frame, 3);
        const auto index = buttonIndexForCode(code);
        if (!index)
            return QStringLiteral("button code %1 (no such button)").arg(hexByte(code));
        const ButtonMeaning meaning = buttonMeaning(*index);
        switch (meaning.role) {
        case ButtonRole::Power:
            return QStringLiteral("button POWER");
        case ButtonRole::LeftArrow:
            return QStringLiteral("button %1 left").arg(outputLetter(meaning.output));
        case ButtonRole::RightArrow:
            return QStringLiteral("button %1 right").arg(outputLetter(meaning.output));
        case ButtonRole::Input:
            return QStringLiteral("button %1 input %2")
                .arg(outputLetter(meaning.output))
                .arg(meaning.input);
        }
    }
    return QStringLiteral("unknown frame type %1").arg(hexByte(byteAt(frame, 2)));
}
