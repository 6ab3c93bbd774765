#include "frameparser.h"

#include <utility>

namespace {

enum class Verdict { Frame, NotAFrame, NeedMore };

Verdict judge(const QByteArray& buffer, qsizetype& length)
{
    const auto first = static_cast<std::uint8_t>(buffer.at(0));
    if (first != frame::kShortLength && first != frame::kLongLength)
        return Verdict::NotAFrame;
    length = first;
    if (buffer.size() < 2)
        return Verdict::NeedMore;
    if (static_cast<std::uint8_t>(buffer.at(1)) != frame::kStartByte)
        return Verdict::NotAFrame;
    if (buffer.size() < length)
        return Verdict::NeedMore;
    if (static_cast<std::uint8_t>(buffer.at(length - 1)) != frame::kEndByte)
        return Verdict::NotAFrame;
    return Verdict::Frame;
}

} // namespace

QList<CommandFrame> FrameParser::feed(const QByteArray& bytes)
{
    buffer_ += bytes;
    QList<CommandFrame> frames;
    while (!buffer_.isEmpty()) {
        qsizetype length = 0;
        const Verdict verdict = judge(buffer_, length);
        if (verdict == Verdict::NeedMore)
            break;
        if (verdict == Verdict::Frame) {
            frames.append(buffer_.left(length));
            buffer_.remove(0, length);
        } else {
            // One byte only: a real frame may start inside what looked like a broken one.
            skipped_ += buffer_.at(0);
            buffer_.remove(0, 1);
        }
    }
    return frames;
}

QByteArray FrameParser::takeSkipped()
{
    return std::exchange(skipped_, {});
}
