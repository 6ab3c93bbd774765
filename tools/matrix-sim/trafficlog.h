#pragma once

#include "protocol/commandframe.h"
#include "replyshaper.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One line of the simulator's traffic log each, without the time stamp.

// "05 55 19 59 77"
QString hexBytes(const QByteArray& bytes);
// The bytes as a quoted text with CR, LF and bytes outside printable ASCII escaped.
QString escapedText(const QByteArray& bytes);
// What the panel's decoder makes of the bytes arriving as one reply text.
QString panelReading(const QByteArray& chunk);

// "<- 05 55 19 59 77  button B input 3"
QString frameLine(const CommandFrame& frame, const QString& meaning);
// "?? 41 42  no frame, skipped"
QString skippedLine(const QByteArray& bytes);
// "-> 73 32 32  "s22"  panel: HDMI Out2 -> HDMI In 3", with the writes of a split reply.
QString replyLine(const QList<ReplyChunk>& chunks);
