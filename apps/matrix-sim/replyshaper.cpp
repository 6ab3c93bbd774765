#include "replyshaper.h"

QList<ReplyChunk> shapeReply(const QByteArray& reply, const Faults& faults)
{
    if (faults.silent)
        return {};
    QByteArray bytes = reply;
    if (faults.highBit)
        bytes.insert(bytes.size() / 2, kHighBitByte);
    if (faults.noise)
        bytes.prepend(kNoiseBytes);
    if (!faults.splitGap || bytes.size() < 2)
        return {{bytes, faults.delay}};
    const qsizetype half = bytes.size() / 2;
    return {{bytes.left(half), faults.delay}, {bytes.mid(half), *faults.splitGap}};
}
