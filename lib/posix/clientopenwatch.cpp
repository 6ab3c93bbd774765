#include "clientopenwatch.h"

#include "pseudoterminal.h"

#include <QSocketNotifier>

#include <cstring>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

ClientOpenWatch::ClientOpenWatch(const PseudoTerminal& pty, QObject* parent)
    : QObject(parent), pty_(pty)
{
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0 || ::inotify_add_watch(inotify_, pty.slavePath().toLocal8Bit().constData(),
                                            IN_OPEN | IN_CLOSE) < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(inotify_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &ClientOpenWatch::readEvents);
}

ClientOpenWatch::~ClientOpenWatch()
{
    notifier_.reset();
    if (inotify_ >= 0)
        ::close(inotify_);
}

void ClientOpenWatch::readEvents()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            inotify_event event{};
            std::memcpy(&event, buffer + at, sizeof event);
            at += static_cast<ssize_t>(sizeof event + event.len);
            if (event.mask & IN_OPEN) {
                emit opened();
            } else if (event.mask & IN_CLOSE) {
                if (pty_.slaveFd() >= 0)
                    ::ioctl(pty_.slaveFd(), TIOCNXCL);
                emit closed();
            }
        }
    }
}
