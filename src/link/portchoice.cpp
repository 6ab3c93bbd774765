#include "portchoice.h"

#include "platform/portnames.h"
#include "seriallink.h"

#include <QFile>

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
    const QByteArray field = content.mid(start, i - start);
    if (field.isEmpty() || field.size() > 3)
        return 0;
    int value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
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

PortChoice::PortChoice(SerialLink& link, QString fileName)
    : link_(link), fileName_(std::move(fileName))
{
}

int PortChoice::rememberedIndex() const
{
    QFile file(fileName_);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // Only the first field counts: read past leading blanks, then a few bytes, never the whole
    // of a huge file.
    QByteArray head;
    while (head.size() < 8) {
        QByteArray chunk = file.read(4096);
        if (chunk.isEmpty())
            break;
        if (head.isEmpty()) {
            qsizetype i = 0;
            while (i < chunk.size() && isBlank(chunk[i]))
                ++i;
            chunk.remove(0, i);
        }
        head += chunk;
    }
    return restoredIndex(head);
}

void PortChoice::pick(int index)
{
    link_.closeOnPortChange();
    link_.setPortNumber(index + 1);
    remember(index);
}

void PortChoice::remember(int index) const
{
    // A directory that can not take the file leaves the choice for this run only.
    QFile file(fileName_);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(formatPortFile(index));
}
