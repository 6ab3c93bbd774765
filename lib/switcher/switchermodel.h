#pragma once

#include "switcher/commandframe.h"
#include "switcher/frameparser.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

// The switcher's routing and EDID mode and the answers it gives, without any I/O.
class SwitcherModel {
public:
    // The input (1..4) of output 1..4.
    using Routes = std::array<int, kOutputCount>;

    explicit SwitcherModel(const Routes& routes = {1, 1, 1, 1}, int edidMode = 0);

    struct Exchange {
        CommandFrame frame;
        QString meaning;
        QByteArray reply;
    };

    // Bytes as they come off the line; one exchange per complete frame, in order.
    QList<Exchange> receive(const QByteArray& bytes);
    // Bytes that formed no frame since the last call.
    QByteArray takeSkipped() { return parser_.takeSkipped(); }

    // Acts on one complete frame and returns the answer.
    QByteArray answer(const CommandFrame& frame);

    // Changes made on the switcher itself, and what it announces on the line about them;
    // nothing, and no change, for an output, input or mode it does not have.
    QByteArray frontPanelRoute(int output, int input);
    QByteArray frontPanelEdid(int mode);
    // Forgets the start of a frame, as a switcher does when it loses power or its line.
    void dropPartialFrame() { parser_ = FrameParser(); }

    const Routes& routes() const { return routes_; }
    int edidMode() const { return edidMode_; }

private:
    QByteArray press(const ButtonMeaning& button);

    FrameParser parser_;
    Routes routes_;
    int edidMode_;
};
