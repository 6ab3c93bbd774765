#pragma once

#include "videohubblock.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// Cuts what a client sends into blocks, as the bytes arrive in any pieces: lines end in LF or
// CR LF, a block ends at an empty line, empty lines between blocks are nothing. Every input is
// bounded; the first fault ends the reading for good, since nothing after it can be trusted.
class BlockReader {
public:
    enum class Fault {
        None,
        LineTooLong,  // more than videohub::kMaxLineBytes before its line end
        TooManyItems, // more than videohub::kMaxItems in one block
        NotText,      // a control character, a CR inside a line, or bytes that are not UTF-8
    };

    struct Read {
        QList<VideohubBlock> blocks; // completed by these bytes, in order
        Fault fault = Fault::None;   // after the blocks
    };

    Read feed(QByteArrayView bytes);

    Fault fault() const { return fault_; }
    // "a line longer than 1024 bytes", for a log line.
    static QString describe(Fault fault);

private:
    void takeLine(QByteArrayView line, Read& read);

    QByteArray partial_; // the line so far
    std::optional<VideohubBlock> block_;
    Fault fault_ = Fault::None;
};
