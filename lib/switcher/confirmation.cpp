#include "confirmation.h"

#include "routing.h"

bool replyConfirms(const CommandFrame& frame, const ReplyEffects& effects)
{
    const FrameRequest request = recognizeFrame(frame);
    switch (request.kind) {
    case FrameRequest::Kind::StatusQuery:
        return isStatusReply(effects);
    case FrameRequest::Kind::EdidMode:
        return edidModeOf(effects) == request.edidMode;
    case FrameRequest::Kind::Button: {
        const ButtonMeaning& button = request.button;
        if (button.role == ButtonRole::Power)
            return true;
        // A status reply names every output; only a route reply answers a button.
        if (isStatusReply(effects))
            return false;
        const auto input = routingOf(effects).at(std::size_t(button.output - 1));
        return input && (button.role != ButtonRole::Input || *input == button.input);
    }
    case FrameRequest::Kind::Unknown:
        break;
    }
    return true;
}
