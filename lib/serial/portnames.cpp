#include "portnames.h"

#include "switcher/names.h"

#include <QRegularExpression>

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

QString PortName::label() const
{
    return devicePath.isEmpty() ? portLabel(number) : devicePath;
}

std::optional<PortName> parsePortName(const QString& text)
{
    if (text.contains(u'/'))
        return PortName{0, text};
    static const QRegularExpression com(QStringLiteral("^COM([0-9]{1,2})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto match = com.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto number = wholeNumberIn(match.capturedView(1), kFirstPortNumber, kLastPortNumber);
    if (!number)
        return std::nullopt;
    return PortName{*number, {}};
}
