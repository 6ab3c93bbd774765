#include "pseudoterminal.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

PseudoTerminal::~PseudoTerminal()
{
    unlink();
    closeSlave();
    closeMaster();
}

bool PseudoTerminal::open()
{
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        return false;
    // Raw before anyone writes: a later tcsetattr with flush would drop input.
    ::tcsetattr(master_, TCSANOW, &raw);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    slavePath_ = QString::fromLocal8Bit(name);
    return true;
}

bool PseudoTerminal::linkAs(const QString& linkPath)
{
    unlink();
    QFile::remove(linkPath);
    if (::symlink(slavePath_.toLocal8Bit().constData(), linkPath.toLocal8Bit().constData()) != 0)
        return false;
    linkPath_ = linkPath;
    return true;
}

bool PseudoTerminal::mayLinkAt(const QString& linkPath, QString& error)
{
    const QFileInfo existing(linkPath);
    if (!existing.exists() && !existing.isSymLink())
        return true;
    if (existing.isSymLink() && existing.symLinkTarget().startsWith(QStringLiteral("/dev/pts/")))
        return true;
    error = QStringLiteral("%1 exists and is not a pseudo-terminal link; not replacing it")
                .arg(linkPath);
    return false;
}

bool PseudoTerminal::openLinkedAt(const QString& linkPath, QString& error,
                                  const std::function<QString()>& prepare)
{
    if (!mayLinkAt(linkPath, error))
        return false;
    if (!open()) {
        error = QStringLiteral("cannot open a pseudo-terminal: %1").arg(qt_error_string(errno));
        return false;
    }
    if (prepare)
        error = prepare();
    if (error.isEmpty() && !linkAs(linkPath))
        error = QStringLiteral("cannot link %1: %2").arg(linkPath, qt_error_string(errno));
    if (error.isEmpty())
        return true;
    closeMaster();
    closeSlave();
    return false;
}

void PseudoTerminal::unlink()
{
    // Another process may have put its own link there since: leave that one alone.
    if (!linkPath_.isEmpty() && QFileInfo(linkPath_).symLinkTarget() == slavePath_)
        ::unlink(linkPath_.toLocal8Bit().constData());
    linkPath_.clear();
}

void PseudoTerminal::closeSlave()
{
    if (slave_ >= 0)
        ::close(slave_);
    slave_ = -1;
}

void PseudoTerminal::closeMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

bool PseudoTerminal::write(const QByteArray& bytes, std::chrono::microseconds perByte)
{
    return writePaced(bytes, perByte, WhenFull::Wait) == bytes.size();
}

qsizetype PseudoTerminal::writePaced(const QByteArray& bytes, std::chrono::microseconds perByte,
                                     WhenFull whenFull)
{
    const qsizetype step = perByte.count() > 0 ? 1 : bytes.size();
    // Paced against a fixed clock, so a late wake-up does not stretch the rest of the reply.
    const auto start = std::chrono::steady_clock::now();
    for (qsizetype done = 0; done < bytes.size();) {
        const qsizetype want = std::min(step, bytes.size() - done);
        const ssize_t n = ::write(master_, bytes.constData() + done, static_cast<size_t>(want));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (whenFull == WhenFull::Stop)
                return done;
            pollfd pfd{master_, POLLOUT, 0};
            ::poll(&pfd, 1, 10);
            continue;
        }
        if (n < 0)
            return -1;
        done += n;
        if (perByte.count() > 0 && done < bytes.size())
            std::this_thread::sleep_until(start + perByte * done);
    }
    return bytes.size();
}

QByteArray PseudoTerminal::readAvailable(int* failure)
{
    QByteArray bytes;
    for (;;) {
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && failure)
            *failure = errno;
        return bytes;
    }
}

QByteArray PseudoTerminal::read(std::chrono::milliseconds timeout, qsizetype atLeast)
{
    QByteArray got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < atLeast) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{master_, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            break; // the panel's side has gone
        }
        got.append(buffer, n);
    }
    return got;
}
