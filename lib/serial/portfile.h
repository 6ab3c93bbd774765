#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// The "COMPORT" file: which port the panel picked last, read by matrixctl too.
inline const QString kPortFileName = QStringLiteral("COMPORT");
inline constexpr int kPortEntryCount = 10;

// The first number of a "COMPORT" file as an unsigned 8-bit value: leading blanks and line
// breaks skipped, ended by a blank, comma or line break; leading zeros are part of it. Empty,
// non-numeric or over 255 give 0.
std::uint8_t parsePortFile(const QByteArray& content);
// " <index> " CR LF.
QByteArray formatPortFile(int index);
// The list index a file's content restores: 10 to 255 name no entry and fall back to COM1.
int restoredIndex(const QByteArray& content);
// "COM1" .. "COM10".
QStringList portEntries();
// The index the file `fileName` restores, reading only its first field however large it is;
// nothing when it cannot be read.
std::optional<int> readRememberedIndex(const QString& fileName);
