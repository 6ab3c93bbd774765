#include "regularfile.h"

#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString sizeText(qint64 bytes)
{
    if (bytes % (qint64{1} << 20) == 0)
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    if (bytes % 1024 == 0)
        return QStringLiteral("%1 KiB").arg(bytes >> 10);
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString tooLarge(qint64 maxBytes)
{
    return QStringLiteral("more than %1, too large").arg(sizeText(maxBytes));
}

} // namespace

#ifdef Q_OS_WIN

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString& why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return std::nullopt;
    }
    if (!QFileInfo(path).isFile()) {
        why = QStringLiteral("not a regular file");
        return std::nullopt;
    }
    QByteArray bytes = file.read(maxBytes + 1);
    if (bytes.size() > maxBytes) {
        why = tooLarge(maxBytes);
        return std::nullopt;
    }
    return bytes;
}

#else

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString& why)
{
    const auto failed = [&why](int error) {
        why = QString::fromLocal8Bit(std::strerror(error));
        return std::nullopt;
    };
    // Without O_NONBLOCK the open itself waits for a FIFO's writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failed(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return failed(error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        why = QStringLiteral("not a regular file");
        return std::nullopt;
    }
    if (info.st_size > maxBytes) {
        ::close(fd);
        why = tooLarge(maxBytes);
        return std::nullopt;
    }
    // One byte beyond the bound tells a file that grew since the fstat.
    QByteArray bytes(maxBytes + 1, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, std::size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return failed(error);
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    if (got > maxBytes) {
        why = tooLarge(maxBytes);
        return std::nullopt;
    }
    bytes.truncate(got);
    return bytes;
}

#endif

QString regularFileProblem(const QString& path, qint64 maxBytes)
{
    QString why;
    return readRegularFile(path, maxBytes, why) ? QString() : why;
}

QString nonRegularFileProblem(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isFile() ? QStringLiteral("not a regular file") : QString();
}

std::optional<QString> readPasswordFile(const QString& path, QString& why)
{
    const auto bytes = readRegularFile(path, kMaxPasswordFileBytes, why);
    if (!bytes)
        return std::nullopt;
    // A file without a final newline is one line too (left(-1) would be empty).
    const qsizetype end = bytes->indexOf('\n');
    return QString::fromUtf8(end < 0 ? *bytes : bytes->first(end)).trimmed();
}
