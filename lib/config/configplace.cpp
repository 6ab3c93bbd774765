#include "configplace.h"

QString configPlace(const QString& file, int line)
{
    if (file.isEmpty())
        return {};
    if (line <= 0)
        return file + QStringLiteral(": ");
    return QStringLiteral("%1:%2: ").arg(file).arg(line);
}
