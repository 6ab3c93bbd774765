#pragma once

#include <QByteArray>
#include <QList>

#include "switcher/traffictext.h"

#include <chrono>
#include <optional>

// Faults the simulator can put into its answers.
struct Faults {
    bool silent = false;
    bool noise = false;
    bool highBit = false;
    std::optional<std::chrono::milliseconds> splitGap;
    std::chrono::milliseconds delay{0};
};

// Put before each reply with --noise: printable, below 0x80, and no prefix of any reply the
// panel decodes, so it turns the reply into free text and never into a lamp.
inline const QByteArray kNoiseBytes = QByteArrayLiteral("#?%");
// Put into each reply with --high-bit: the panel drops a whole chunk holding such a byte.
inline constexpr char kHighBitByte = char(0xFF);

// The writes that carry one reply with the given faults; none when silent. The first chunk's
// gap is the answer delay; a split reply's second chunk follows after the split gap.
QList<ReplyChunk> shapeReply(const QByteArray& reply, const Faults& faults);
