#include "virtualport.h"


#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <termios.h>
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
    // Who may drive the switcher: devpts may leave a fresh device writable by the tty group.
    const auto restrictAccess = [this, &group]() -> QString {
        const QByteArray device = pty_.slavePath().toLocal8Bit();
        gid_t gid = ::getegid();
        if (!group.isEmpty()) {
            const struct group* entry = ::getgrnam(group.toLocal8Bit().constData());
            if (!entry)
                return QStringLiteral("no group %1").arg(group);
            gid = entry->gr_gid;
        }
        if (::chown(device.constData(), ::geteuid(), gid) != 0 && !group.isEmpty())
            return QStringLiteral("cannot give %1 to group %2: %3")
                .arg(pty_.slavePath(), group, qt_error_string(errno));
        if (::chmod(device.constData(), group.isEmpty() ? 0600 : 0660) != 0)
            return QStringLiteral("cannot restrict %1: %2")
                .arg(pty_.slavePath(), qt_error_string(errno));
        return {};
    };
    if (!lock_.acquire(linkPath_, error))
        return false;
    if (!pty_.openLinkedAt(linkPath_, error, restrictAccess)) {
        lock_.release();
        return false;
    }
    readable_ = std::make_unique<QSocketNotifier>(pty_.masterFd(), QSocketNotifier::Read);
    connect(readable_.get(), &QSocketNotifier::activated, this, &VirtualPort::readClient);
    openWatch_ = std::make_unique<ClientOpenWatch>(pty_);
    // What a client wrote came before its close, and before the next one's open: it is read
    // first, as that client's, even when this process wakes late to all of it at once. (Bytes
    // that a next client wrote by then count as the old one's: its answer is lost, never
    // someone else's given to it.)
    connect(openWatch_.get(), &ClientOpenWatch::opened, this, [this] {
        readClient();
        if (clientOpens_++ == 0) {
            dropUnread();
            emit clientOpened();
        }
    });
    connect(openWatch_.get(), &ClientOpenWatch::closed, this, [this] {
        readClient();
        if (clientOpens_ > 0 && --clientOpens_ == 0) {
            // A half-sent frame of the client that left must not join the next one's.
            parser_ = FrameParser{};
            dropUnread();
            emit clientClosed();
        }
    });
    return true;
}

void VirtualPort::close()
{
    readable_.reset();
    openWatch_.reset();
    pty_.unlink();
    lock_.release();
    pty_.closeMaster();
    pty_.closeSlave();
    clientOpens_ = 0;
}

void VirtualPort::dropUnread()
{
    // This process's own hold on the client side keeps what nobody read; a new client reads
    // only what is said after it opened.
    if (pty_.slaveFd() >= 0)
        ::tcflush(pty_.slaveFd(), TCIFLUSH);
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
    const QByteArray bytes = pty_.readAvailable();
    if (bytes.isEmpty())
        return;
    const QList<QByteArray> frames = parser_.feed(bytes);
    if (const QByteArray skippedBytes = parser_.takeSkipped(); !skippedBytes.isEmpty())
        emit skipped(skippedBytes);
    for (const QByteArray& frame : frames)
        emit frameReceived(frame);
}
