#include "serialcontrol.h"

#include <QStringList>

bool parseLineSettings(const QString& text, LineSettings& out)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return false;
    bool ok = false;
    LineSettings parsed;
    parsed.baud = fields[0].trimmed().toInt(&ok);
    if (!ok || parsed.baud <= 0)
        return false;
    const QString parity = fields[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity))
        return false;
    parsed.parity = parity.at(0).toLatin1();
    parsed.dataBits = fields[2].trimmed().toInt(&ok);
    if (!ok || parsed.dataBits < 5 || parsed.dataBits > 8)
        return false;
    parsed.stopBits = fields[3].trimmed().toInt(&ok);
    if (!ok || parsed.stopBits < 1 || parsed.stopBits > 2)
        return false;
    out = parsed;
    return true;
}
