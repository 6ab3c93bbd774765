#include "switchermodel.h"

#include "switcher/replies.h"

namespace {

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
    const FrameRequest request = recognizeFrame(frame);
    switch (request.kind) {
    case FrameRequest::Kind::StatusQuery:
        return reply::status(knownRouting(routes_));
    case FrameRequest::Kind::EdidMode:
        edidMode_ = request.edidMode;
        return reply::edid(edidMode_);
    case FrameRequest::Kind::Button:
        return press(request.button);
    case FrameRequest::Kind::Unknown:
        break;
    }
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

QByteArray SwitcherModel::press(const ButtonMeaning& meaning)
{
    if (meaning.role == ButtonRole::Power)
        return reply::ack();
    int& input = routes_[static_cast<std::size_t>(meaning.output - 1)];
    if (meaning.role == ButtonRole::Input)
        input = meaning.input;
    else
        input = wrapInput(input + (meaning.role == ButtonRole::RightArrow ? 1 : -1));
    return reply::route(meaning.output, input);
}
