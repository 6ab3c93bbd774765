#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Files a user names (the configuration, a password file) are read only when they are regular
// files, opened without blocking and read whole up to a bound: a FIFO or a device named by
// mistake must not hang the start, and a file is never silently cut.

inline constexpr qint64 kMaxConfigFileBytes = qint64{1} << 20;
inline constexpr qint64 kMaxPasswordFileBytes = 4096;

// The whole file, or nothing with `why` saying what is wrong ("not a regular file", "more than
// 1 MiB, too large", or the system's reason).
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString& why);

// The first line of a password file, trimmed.
std::optional<QString> readPasswordFile(const QString& path, QString& why);
