#include "escaping.h"

QString hexBytes(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString escapedText(QStringView text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\t')
            out += QStringLiteral("\\t");
        else if (u == u'"' || u == u'\\')
            out += QString(u'\\') + c;
        else if (u < 0x20 || u >= 0x7F)
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QChar(u'0'));
        else
            out += c;
    }
    return out + u'"';
}

QString escapedText(const QByteArray& bytes)
{
    return escapedText(QString::fromLatin1(bytes));
}
