#include "virtualport.h"


#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

VirtualPort::VirtualPort(QString linkPath, QObject* parent)
    : QObject(parent), linkPath_(std::move(linkPath))
{
}

VirtualPort::~VirtualPort()
{
    close();
}

bool VirtualPort::open(const QString& group, QString& error)
{
    if (!PseudoTerminal::mayLinkAt(linkPath_, error))
        return false;
    if (!pty_.open()) {
        error = QStringLiteral("cannot open a pseudo-terminal: %1").arg(qt_error_string(errno));
        return false;
    }
    // Who may drive the switcher: devpts may leave a fresh device writable by the tty group.
    const QByteArray device = pty_.slavePath().toLocal8Bit();
    gid_t gid = ::getegid();
    if (!group.isEmpty()) {
        const struct group* entry = ::getgrnam(group.toLocal8Bit().constData());
        if (!entry) {
            error = QStringLiteral("no group %1").arg(group);
            pty_.closeMaster();
            return false;
        }
        gid = entry->gr_gid;
    }
    if (::chown(device.constData(), ::geteuid(), gid) != 0 && !group.isEmpty()) {
        error = QStringLiteral("cannot give %1 to group %2: %3")
                    .arg(pty_.slavePath(), group, qt_error_string(errno));
        pty_.closeMaster();
        return false;
    }
    ::chmod(device.constData(), group.isEmpty() ? 0600 : 0660);
    if (!pty_.linkAs(linkPath_)) {
        error = QStringLiteral("cannot link %1: %2").arg(linkPath_, qt_error_string(errno));
        pty_.closeMaster();
        return false;
    }
    readable_ = std::make_unique<QSocketNotifier>(pty_.masterFd(), QSocketNotifier::Read);
    connect(readable_.get(), &QSocketNotifier::activated, this, &VirtualPort::readClient);

    // Our own hold on the client side would keep a client's exclusive-use flag after it closed,
    // and it tells when clients come and go: watch the device's opens and closes.
    openWatch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (openWatch_ >= 0 &&
        ::inotify_add_watch(openWatch_, device.constData(), IN_OPEN | IN_CLOSE) >= 0) {
        openWatchNotifier_ = std::make_unique<QSocketNotifier>(openWatch_, QSocketNotifier::Read);
        connect(openWatchNotifier_.get(), &QSocketNotifier::activated, this,
                &VirtualPort::watchOpens);
    }
    return true;
}

void VirtualPort::close()
{
    readable_.reset();
    openWatchNotifier_.reset();
    if (openWatch_ >= 0)
        ::close(openWatch_);
    openWatch_ = -1;
    pty_.unlink();
    pty_.closeMaster();
    pty_.closeSlave();
    clientOpens_ = 0;
}

void VirtualPort::write(const QByteArray& bytes)
{
    if (!pty_.isOpen() || bytes.isEmpty())
        return;
    // Never blocks: the master is non-blocking, and what does not fit is gone.
    [[maybe_unused]] const ssize_t n = ::write(pty_.masterFd(), bytes.constData(),
                                               std::size_t(bytes.size()));
}

void VirtualPort::readClient()
{
    QByteArray bytes;
    for (;;) {
        char buffer[4096];
        const ssize_t n = ::read(pty_.masterFd(), buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (bytes.isEmpty())
        return;
    const QList<QByteArray> frames = parser_.feed(bytes);
    if (const QByteArray skippedBytes = parser_.takeSkipped(); !skippedBytes.isEmpty())
        emit skipped(skippedBytes);
    for (const QByteArray& frame : frames)
        emit frameReceived(frame);
}

void VirtualPort::watchOpens()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(openWatch_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            inotify_event event{};
            std::memcpy(&event, buffer + at, sizeof event);
            at += static_cast<ssize_t>(sizeof event + event.len);
            if (event.mask & IN_OPEN) {
                if (clientOpens_++ == 0)
                    emit clientOpened();
            } else if (event.mask & IN_CLOSE) {
                ::ioctl(pty_.slaveFd(), TIOCNXCL);
                if (clientOpens_ > 0 && --clientOpens_ == 0) {
                    // A half-sent frame of the client that left must not join the next one's.
                    parser_ = FrameParser{};
                    emit clientClosed();
                }
            }
        }
    }
}
