#pragma once

#include <QString>

#include <functional>

// What a client of the service may ask of the switcher. Each command goes on the line in turn
// and is confirmed by the switcher's reply; `done` reports the outcome to whoever asked, once.
// Nothing is retried. A command still waiting for the line gives way to a newer one for the
// same output, so that a burst ends in the state last asked for.
class SwitcherCommands {
public:
    struct Outcome {
        bool confirmed = false;
        QString problem; // when not confirmed: "no reply within 500 ms", "switcher offline", ...
        // Not sent: a newer command for the same output (or EDID mode) took its place.
        bool replaced = false;
    };
    using Done = std::function<void(const Outcome&)>;

    virtual ~SwitcherCommands() = default;

    // Output 1..4 takes input 1..4.
    virtual void route(int output, int input, Done done) = 0;
    // EDID mode 0..10.
    virtual void selectEdidMode(int mode, Done done) = 0;
    // A status query now.
    virtual void refresh(Done done) = 0;
    // The routes of a configured preset, one confirmed command after another; stops at the
    // first that fails and says which.
    virtual void applyPreset(const QString& name, Done done) = 0;
};
