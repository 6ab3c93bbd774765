#pragma once

#include <QByteArray>
#include <QString>

// One character per byte of the chunk; a single byte of 0x80 or above rejects the whole chunk
// (empty text). NUL bytes are kept. Chunks of any length are converted whole.
QString bytes2BSTR(const QByteArray& chunk);
