#pragma once

#include <QObject>

#include <memory>

class PseudoTerminal;
class QSocketNotifier;

// Tells when programs open and close the client side of a pseudo-terminal that this process
// holds open itself. That hold would also keep a client's exclusive-use flag after the client
// closed, and every later open by a user other than root would fail: the flag is cleared at
// each close.
class ClientOpenWatch : public QObject {
    Q_OBJECT
public:
    // Watches the pseudo-terminal open now; it must outlive the watch.
    explicit ClientOpenWatch(const PseudoTerminal& pty, QObject* parent = nullptr);
    ~ClientOpenWatch() override;

    bool isWatching() const { return notifier_ != nullptr; }

signals:
    void opened();
    void closed();

private:
    void readEvents();

    const PseudoTerminal& pty_;
    int inotify_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};
