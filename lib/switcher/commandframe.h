#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The bytes of one command as they go on the wire, written in one write.
using CommandFrame = QByteArray;

namespace frame {
inline constexpr std::uint8_t kStartByte = 0x55;
inline constexpr std::uint8_t kEndByte = 0x77;
inline constexpr std::uint8_t kShortLength = 0x04;
inline constexpr std::uint8_t kLongLength = 0x05;

inline constexpr std::uint8_t kTypeButton = 0x19;
inline constexpr std::uint8_t kTypeEdidMode = 0x18;
inline constexpr std::uint8_t kTypeStatus = 0x20;
} // namespace frame

inline constexpr int kOutputCount = 4;
inline constexpr int kInputCount = 4;
inline constexpr int kButtonCount = 25;      // 4 blocks of 6, then the hidden power button
inline constexpr int kButtonsPerBlock = 6;
inline constexpr int kPowerButtonIndex = 24;
inline constexpr int kEdidModeCount = 11;

// The switcher's code byte of every Command1 index; no arithmetic rule lies behind them.
inline constexpr std::array<std::uint8_t, kButtonCount> kButtonCodes = {
    0x57, 0x41, 0x09, 0x1D, 0x1F, 0x0D, // A: left, right, 1, 2, 3, 4
    0x1B, 0x11, 0x17, 0x12, 0x59, 0x08, // B
    0x55, 0x48, 0x5E, 0x06, 0x05, 0x03, // C
    0x07, 0x40, 0x18, 0x44, 0x0F, 0x51, // D
    0xFF,                               // POWER
};

// What a Command1 index stands for in its block.
enum class ButtonRole { LeftArrow, RightArrow, Input, Power };

struct ButtonMeaning {
    ButtonRole role = ButtonRole::Power;
    int output = 0; // 1..4; 0 for power
    int input = 0;  // 1..4 for input buttons, else 0
};

ButtonMeaning buttonMeaning(int index);
// Index of the input button of output (1..4) and input (1..4).
int inputButtonIndex(int output, int input);
// Index of an arrow button of output (1..4).
int arrowButtonIndex(int output, ButtonRole arrow);
// The button whose code byte is code, if any.
std::optional<int> buttonIndexForCode(std::uint8_t code);

// What a complete frame asks the switcher for. An EDID mode or button code the switcher does not
// have asks for nothing it knows, and so does a frame of another type: it only acknowledges them.
struct FrameRequest {
    enum class Kind { StatusQuery, EdidMode, Button, Unknown };
    Kind kind = Kind::Unknown;
    int edidMode = 0;     // 0..10 for EdidMode
    ButtonMeaning button; // for Button
};
FrameRequest recognizeFrame(const CommandFrame& frame);
// In words, for traces and log lines: "button B input 3", "status query", "EDID mode 6".
QString describeFrame(const CommandFrame& frame);

CommandFrame buttonCommandFrame(int index);
CommandFrame edidModeFrame(int mode);
CommandFrame statusQueryFrame();
