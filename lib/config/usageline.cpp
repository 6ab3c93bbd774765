#include "usageline.h"

QString helpNamingProgram(const QCommandLineParser& parser, const QString& program)
{
    QString text = parser.helpText();
    const qsizetype from = text.indexOf(u' ') + 1;
    const qsizetype to = text.indexOf(QStringLiteral(" [options]"));
    if (from > 0 && to > from)
        text.replace(from, to - from, program);
    return text;
}
