#include "sharelock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A holder that goes away between our open and our flock unlinks the file we opened; a few
// rounds are plenty, since each one means some other process made progress.
constexpr int kAttempts = 8;

QString holderOf(int fd)
{
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    bool ok = false;
    const qint64 pid = n > 0 ? QByteArray(text, int(n)).trimmed().toLongLong(&ok) : 0;
    return ok && pid > 0 ? QString::number(pid) : QString();
}

bool sameFile(int fd, const QByteArray& path)
{
    struct stat held = {};
    struct stat named = {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

ShareLock::~ShareLock()
{
    release();
}

QString ShareLock::lockPathFor(const QString& linkPath)
{
    return linkPath + QStringLiteral(".lock");
}

bool ShareLock::acquire(const QString& linkPath, QString& error)
{
    release();
    const QString lockPath = lockPathFor(linkPath);
    const QByteArray path = lockPath.toLocal8Bit();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            error = QStringLiteral("cannot lock %1: %2").arg(lockPath, qt_error_string(errno));
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int why = errno;
            const QString holder = why == EWOULDBLOCK ? holderOf(fd) : QString();
            ::close(fd);
            if (why != EWOULDBLOCK)
                error = QStringLiteral("cannot lock %1: %2").arg(lockPath, qt_error_string(why));
            else if (holder == QString::number(::getpid()))
                error = QStringLiteral("%1 is given twice").arg(linkPath);
            else if (holder.isEmpty())
                error = QStringLiteral("%1 is shared by another matrixd").arg(linkPath);
            else
                error = QStringLiteral("%1 is shared by another matrixd (pid %2)")
                            .arg(linkPath, holder);
            return false;
        }
        // The previous holder unlinks its file before it lets go: a lock on that file is
        // nobody's claim, and the next process would take a new one at the path.
        if (!sameFile(fd, path)) {
            ::close(fd);
            continue;
        }
        // Somebody's own file of that name is not ours to overwrite or remove.
        if (char first = 0; ::pread(fd, &first, 1, 0) == 1 && holderOf(fd).isEmpty()) {
            ::close(fd);
            error = QStringLiteral("%1 exists and is not a share's lock; not replacing it")
                        .arg(lockPath);
            return false;
        }
        const QByteArray pid = QByteArray::number(::getpid()) + '\n';
        if (::ftruncate(fd, 0) != 0 ||
            ::pwrite(fd, pid.constData(), std::size_t(pid.size()), 0) != ssize_t(pid.size())) {
            error = QStringLiteral("cannot write %1: %2").arg(lockPath, qt_error_string(errno));
            ::unlink(path.constData());
            ::close(fd);
            return false;
        }
        fd_ = fd;
        lockPath_ = lockPath;
        return true;
    }
    error = QStringLiteral("cannot lock %1: it keeps being replaced").arg(lockPath);
    return false;
}

void ShareLock::release()
{
    if (fd_ < 0)
        return;
    // Unlinked while still locked, so nobody can take this file's lock for a claim.
    ::unlink(lockPath_.toLocal8Bit().constData());
    ::close(fd_);
    fd_ = -1;
    lockPath_.clear();
}
