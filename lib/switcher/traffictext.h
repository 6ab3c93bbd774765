#pragma once

#include "switcher/commandframe.h"
#include "switcher/escaping.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>

// The wording of a traffic trace, the simulator's and the service's alike: one line each,
// without the time stamp.

// One write to the line, started `gapBefore` after the previous write ended.
struct ReplyChunk {
    QByteArray bytes;
    std::chrono::milliseconds gapBefore{0};

    friend bool operator==(const ReplyChunk&, const ReplyChunk&) = default;
};

// What the panel's decoder makes of the bytes arriving as one reply text.
QString panelReading(const QByteArray& chunk);

// "<- 05 55 19 59 77  button B input 3"
QString frameLine(const CommandFrame& frame, const QString& meaning);
// "?? 41 42  no frame, skipped"
QString skippedLine(const QByteArray& bytes);
// "-> 73 32 32  "s22"  panel: HDMI Out2 -> HDMI In 3", with the writes of a split reply.
QString replyLine(const QList<ReplyChunk>& chunks);
