#include "videohubblock.h"

#include "videohubprotocol.h"

QByteArray VideohubBlock::encoded() const
{
    QByteArray bytes = header.toUtf8() + videohub::kLineEnd;
    for (const QString& item : items)
        bytes += item.toUtf8() + videohub::kLineEnd;
    return bytes + videohub::kLineEnd;
}

VideohubBlock VideohubBlock::ack()
{
    return {videohub::kAck, {}};
}

VideohubBlock VideohubBlock::nak()
{
    return {videohub::kNak, {}};
}
