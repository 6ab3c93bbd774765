#include "replytext.h"

QString bytes2BSTR(const QByteArray& chunk)
{
    QString text;
    text.reserve(chunk.size());
    for (const char byte : chunk) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x80)
            return {};
        text.append(QChar(value));
    }
    return text;
}
