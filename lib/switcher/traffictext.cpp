#include "traffictext.h"

#include "switcher/replydecoder.h"
#include "switcher/wire.h"
#include "switcher/replytext.h"

#include <QStringList>

QString panelReading(const QByteArray& chunk)
{
    const QString text = bytes2BSTR(chunk);
    if (text.isEmpty() && !chunk.isEmpty())
        return QStringLiteral("nothing (a byte of 0x80 or above empties the text)");
    QStringList parts;
    for (const ReplyEffect& effect : decodeReply(text)) {
        switch (effect.kind) {
        case ReplyEffect::Kind::LogEntry:
            parts << effect.text;
            break;
        case ReplyEffect::Kind::EdidSelection:
            parts << QStringLiteral("option %1 selected").arg(effect.mode);
            break;
        case ReplyEffect::Kind::FreeText:
            parts << QStringLiteral("free text %1").arg(escapedText(effect.text.toLatin1()));
            break;
        case ReplyEffect::Kind::Lamp: // the log entry before it names the same route
        case ReplyEffect::Kind::LineBreak:
            break;
        }
    }
    return parts.isEmpty() ? QStringLiteral("nothing") : parts.join(QStringLiteral("; "));
}

QString frameLine(const CommandFrame& frame, const QString& meaning)
{
    return QStringLiteral("<- %1  %2").arg(hexBytes(frame), meaning);
}

QString skippedLine(const QByteArray& bytes)
{
    return QStringLiteral("?? %1  no frame, skipped").arg(hexBytes(bytes));
}

QString replyLine(const QList<ReplyChunk>& chunks)
{
    QByteArray whole;
    for (const ReplyChunk& chunk : chunks)
        whole += chunk.bytes;
    QString line = QStringLiteral("-> %1  %2").arg(hexBytes(whole), escapedText(whole));
    if (!chunks.isEmpty() && chunks.first().gapBefore.count() > 0)
        line += QStringLiteral("  after %1 ms").arg(chunks.first().gapBefore.count());
    if (chunks.size() < 2)
        return line + QStringLiteral("  panel: ") + panelReading(whole);
    line += QStringLiteral("  in %1 writes %2 ms apart")
                .arg(chunks.size())
                .arg(chunks.at(1).gapBefore.count());
    // Past the settle wait the panel takes each write as a text of its own.
    if (chunks.at(1).gapBefore < wire::kSettleWait)
        return line + QStringLiteral("  panel: ") + panelReading(whole);
    QStringList readings;
    for (const ReplyChunk& chunk : chunks)
        readings << panelReading(chunk.bytes);
    return line + QStringLiteral("  panel: ") + readings.join(QStringLiteral(" | "));
}
