#include "portfile.h"

#include "portnames.h"

#include <QFile>

#include <algorithm>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool endsField(char c)
{
    return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n';
}

} // namespace

std::uint8_t parsePortFile(const QByteArray& content)
{
    qsizetype i = 0;
    while (i < content.size() && isBlank(content[i]))
        ++i;
    const qsizetype start = i;
    while (i < content.size() && !endsField(content[i]))
        ++i;
    if (i == start)
        return 0;
    // Leading zeros are part of a plain decimal field; past 255 it is too big however it goes on.
    int value = 0;
    for (const char c : QByteArrayView(content).sliced(start, i - start)) {
        if (c < '0' || c > '9')
            return 0;
        value = std::min(value * 10 + (c - '0'), 256);
    }
    return value <= 255 ? static_cast<std::uint8_t>(value) : 0;
}

QByteArray formatPortFile(int index)
{
    return " " + QByteArray::number(index) + " \r\n";
}

int restoredIndex(const QByteArray& content)
{
    const int index = parsePortFile(content);
    return index < kPortEntryCount ? index : 0;
}

QStringList portEntries()
{
    QStringList entries;
    for (int n = kFirstPortNumber; n <= kLastPortNumber; ++n)
        entries << portLabel(n);
    return entries;
}

std::optional<int> readRememberedIndex(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Only the first field counts: read past leading blanks and leading zeros, then a few bytes,
    // never the whole of a huge file.
    QByteArray head;
    bool zeros = false;
    while (head.size() < 8) {
        QByteArray chunk = file.read(4096);
        if (chunk.isEmpty())
            break;
        if (head.isEmpty()) {
            qsizetype i = 0;
            while (i < chunk.size() && !zeros && isBlank(chunk[i]))
                ++i;
            for (; i < chunk.size() && chunk[i] == '0'; ++i)
                zeros = true;
            chunk.remove(0, i);
        }
        head += chunk;
    }
    return restoredIndex(zeros ? '0' + head : head);
}
