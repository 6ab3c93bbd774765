#pragma once

#include <QCommandLineParser>
#include <QString>

// The parser's help with its usage line naming `program`, not the path it was started by.
QString helpNamingProgram(const QCommandLineParser& parser, const QString& program);
