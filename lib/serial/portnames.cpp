#include "portnames.h"

#include <QDir>
#include <QFileInfo>

QString portLabel(int portNumber)
{
    return QStringLiteral("COM%1").arg(portNumber);
}

QString portDevicePath(int portNumber)
{
#ifdef Q_OS_WIN
    return portLabel(portNumber);
#else
    const QFileInfo local(QDir::current().absoluteFilePath(portLabel(portNumber)));
    if (local.isSymLink()) {
        const QString target = local.canonicalFilePath();
        // A dangling link names a device that is gone: keep the link so the open fails.
        return target.isEmpty() ? local.absoluteFilePath() : target;
    }
    if (local.exists())
        return local.absoluteFilePath();
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}
