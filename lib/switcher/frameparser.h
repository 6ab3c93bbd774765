#pragma once

#include "commandframe.h"

#include <QByteArray>
#include <QList>

// Finds complete command frames in a byte stream, whatever the read boundaries. A frame is a
// length byte (4 or 5), the start byte, the type, an argument in five-byte frames, and the end
// byte. Bytes that cannot begin a frame are skipped one at a time, so the parser finds the next
// frame after garbage or a truncated frame.
class FrameParser {
public:
    // Appends bytes; returns every frame now complete, in stream order.
    QList<CommandFrame> feed(const QByteArray& bytes);
    // Bytes skipped since the last call, for a traffic log.
    QByteArray takeSkipped();
    // Bytes held back because they may still become a frame.
    QByteArray pending() const { return buffer_; }

private:
    QByteArray buffer_;
    QByteArray skipped_;
};
