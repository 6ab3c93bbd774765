#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// "05 55 19 59 77": bytes as upper-case hex pairs, for traces and dumps.
QString hexBytes(const QByteArray& bytes);
// The text quoted on one line: CR, LF and tab as \r \n \t, quotes and backslashes escaped,
// everything else outside printable ASCII as \xHH.
QString escapedText(QStringView text);
// The same for bytes, one character per byte.
QString escapedText(const QByteArray& bytes);
