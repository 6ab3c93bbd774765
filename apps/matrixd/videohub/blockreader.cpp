#include "blockreader.h"

#include "videohubprotocol.h"

#include <QStringDecoder>

namespace {

// Text is printable characters and tabs; line ends are handled apart.
bool isControl(char byte)
{
    const auto code = static_cast<unsigned char>(byte);
    return (code < 0x20 && byte != videohub::kTab && byte != videohub::kLineEnd &&
            byte != videohub::kCarriageReturn) ||
           code == 0x7F;
}

} // namespace

BlockReader::Read BlockReader::feed(QByteArrayView bytes)
{
    Read read;
    qsizetype from = 0;
    while (fault_ == Fault::None && from < bytes.size()) {
        const qsizetype end = bytes.indexOf(videohub::kLineEnd, from);
        const QByteArrayView piece = bytes.sliced(from, (end < 0 ? bytes.size() : end) - from);
        for (const char byte : piece) {
            if (isControl(byte)) {
                fault_ = Fault::NotText;
                break;
            }
        }
        if (fault_ != Fault::None)
            break;
        // One CR more than the longest line may still be the start of its CR LF.
        if (partial_.size() + piece.size() > videohub::kMaxLineBytes + 1) {
            fault_ = Fault::LineTooLong;
            break;
        }
        if (end < 0) {
            partial_ += piece;
            break;
        }
        if (partial_.isEmpty()) {
            takeLine(piece, read);
        } else {
            partial_ += piece;
            takeLine(partial_, read);
            partial_.clear();
        }
        from = end + 1;
    }
    read.fault = fault_;
    if (fault_ != Fault::None) {
        partial_.clear();
        block_.reset();
    }
    return read;
}

void BlockReader::takeLine(QByteArrayView line, Read& read)
{
    if (line.endsWith(videohub::kCarriageReturn))
        line.chop(1);
    if (line.contains(videohub::kCarriageReturn)) {
        fault_ = Fault::NotText;
        return;
    }
    if (line.size() > videohub::kMaxLineBytes) {
        fault_ = Fault::LineTooLong;
        return;
    }
    if (line.isEmpty()) {
        if (block_)
            read.blocks.append(*std::exchange(block_, std::nullopt));
        return;
    }
    // A byte order mark stays a character: a line that holds one is not empty.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(line);
    if (utf8.hasError()) {
        fault_ = Fault::NotText;
        return;
    }
    if (!block_) {
        block_ = VideohubBlock{std::move(text), {}};
        return;
    }
    if (block_->items.size() >= videohub::kMaxItems) {
        fault_ = Fault::TooManyItems;
        return;
    }
    block_->items.append(std::move(text));
}

QString BlockReader::describe(Fault fault)
{
    switch (fault) {
    case Fault::None:
        break;
    case Fault::LineTooLong:
        return QStringLiteral("a line longer than %1 bytes").arg(videohub::kMaxLineBytes);
    case Fault::TooManyItems:
        return QStringLiteral("a block of more than %1 items").arg(videohub::kMaxItems);
    case Fault::NotText:
        return QStringLiteral("bytes that are not text");
    }
    return {};
}
