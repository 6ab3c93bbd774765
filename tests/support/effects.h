#pragma once

#include "protocol/replydecoder.h"

#include <QStringList>

// Reply effects as one line, for failure messages.
inline QString describe(const ReplyEffects& effects)
{
    QStringList parts;
    for (const auto& e : effects) {
        switch (e.kind) {
        case ReplyEffect::Kind::LogEntry:
            parts << QStringLiteral("entry(%1)").arg(e.text);
            break;
        case ReplyEffect::Kind::LineBreak:
            parts << QStringLiteral("break");
            break;
        case ReplyEffect::Kind::FreeText:
            parts << QStringLiteral("text(%1)")
                         .arg(QString::fromLatin1(e.text.toLatin1().toHex(' ')));
            break;
        case ReplyEffect::Kind::Lamp:
            parts << QStringLiteral("lamp(%1,%2)").arg(e.output).arg(e.input);
            break;
        case ReplyEffect::Kind::EdidSelection:
            parts << QStringLiteral("edid(%1)").arg(e.mode);
            break;
        }
    }
    return parts.join(QStringLiteral(", "));
}
