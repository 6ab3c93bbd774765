#pragma once

#include "switcher/replydecoder.h"

#include <QStringList>

// Reply effects as one line, for failure messages: "entry(HDMI Out1 -> HDMI In 1), lamp(1,1)".
inline QString describe(const ReplyEffects& effects)
{
    using K = ReplyEffect::Kind;
    QStringList parts;
    for (const auto& e : effects) {
        if (e.kind == K::Lamp)
            parts << QStringLiteral("lamp(%1,%2)").arg(e.output).arg(e.input);
        else if (e.kind == K::EdidSelection)
            parts << QStringLiteral("edid(%1)").arg(e.mode);
        else if (e.kind == K::LineBreak)
            parts << QStringLiteral("break");
        else
            parts << (e.kind == K::LogEntry ? QStringLiteral("entry(%1)").arg(e.text)
                                            : "text(" + e.text.toLatin1().toHex(' ') + ')');
    }
    return parts.join(QStringLiteral(", "));
}
