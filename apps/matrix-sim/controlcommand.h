#pragma once

#include <QString>

#include <chrono>
#include <optional>

// A line on the simulator's standard input that changes the switcher while it runs: what a
// person at the switcher, or the mains, or the USB cable would do to it.
struct ControlCommand {
    enum class Kind { Front, Edid, Power, Unplug, Replug };
    Kind kind = Kind::Front;
    int output = 0;                     // Front: 1..4
    int value = 0;                      // Front: the input 1..4; Edid: the mode 0..10
    bool silent = false;                // Front, Edid: change without announcing it
    std::chrono::milliseconds offFor{}; // Power

    friend bool operator==(const ControlCommand&, const ControlCommand&) = default;
};

// "front A 3 [silent]", "edid 5 [silent]", "power 3000", "unplug", "replug"; words in any case,
// the output as A-D or 1-4. Nothing for any other line.
std::optional<ControlCommand> parseControlLine(const QString& line);
