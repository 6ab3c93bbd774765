#pragma once

#include <QString>

#include <chrono>
#include <optional>

// Values that the file and the command line both take, read one way.

inline constexpr int kMaxPollSeconds = 86'400;

// Seconds, whole or with up to three decimals ("5", "0.25"), as `poll` and --poll take them.
std::optional<std::chrono::milliseconds> parsePollSeconds(const QString& text);
QString pollSecondsText(std::chrono::milliseconds poll);
