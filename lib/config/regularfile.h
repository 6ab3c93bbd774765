#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Files a user names (the configuration, password files, TLS files) are read only when they are
// regular files, opened without blocking and read whole up to a bound: a FIFO or a device named
// by mistake must not hang the start, and a file is never silently cut.

inline constexpr qint64 kMaxConfigFileBytes = qint64{1} << 20;
inline constexpr qint64 kMaxPasswordFileBytes = 4096;
inline constexpr qint64 kMaxPemFileBytes = qint64{1} << 20; // a certificate chain or CA bundle

// The whole file, or nothing with `why` saying what is wrong ("not a regular file", "more than
// 1 MiB, too large", or the system's reason).
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString& why);

// Empty when `path` is a regular file of at most maxBytes that can be read, else why not: for
// files a library opens later, blocking (TLS certificates, keys, CA bundles).
QString regularFileProblem(const QString& path, qint64 maxBytes);

// "not a regular file" when a FIFO, a device or a folder is at `path`, else empty; nothing is
// opened. For files a library opens later, blocking, that says itself when one is missing or
// unreadable (the broker's TLS files).
QString nonRegularFileProblem(const QString& path);

// The first line of a password file, trimmed.
std::optional<QString> readPasswordFile(const QString& path, QString& why);
