#pragma once

#include "posix/clientopenwatch.h"
#include "posix/pseudoterminal.h"
#include "posix/sharelock.h"
#include "switcher/frameparser.h"

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// A virtual port: a pseudo-terminal linked at a path, which any program that speaks the
// switcher's protocol opens as if it were the switcher. The service keeps its own hold on the
// client side, so a client may open and close it as often as it likes.
class VirtualPort : public QObject {
    Q_OBJECT
public:
    explicit VirtualPort(QString linkPath, QObject* parent = nullptr);
    ~VirtualPort() override;

    // Creates the pseudo-terminal and links it; false with the reason when it cannot. Replaces
    // nothing but a stale link into /dev/pts, and never one a live matrixd holds (its lock is
    // taken first). An empty group leaves the device 0600.
    bool open(const QString& group, QString& error);
    void close();

    QString linkPath() const { return linkPath_; }
    QString devicePath() const { return pty_.slavePath(); }
    // Some program has the port open.
    bool hasClient() const { return clientOpens_ > 0; }

    // Whatever fits now; the rest is dropped, as on a line nobody reads. Bytes nobody has
    // read when a client opens or the last one closes are dropped too.
    void write(const QByteArray& bytes);

signals:
    void frameReceived(const QByteArray& frame);
    void clientOpened();
    void clientClosed();
    void skipped(const QByteArray& bytes);

private:
    void readClient();
    void dropUnread();

    QString linkPath_;
    ShareLock lock_;
    PseudoTerminal pty_;
    FrameParser parser_;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<ClientOpenWatch> openWatch_;
    int clientOpens_ = 0;
};
