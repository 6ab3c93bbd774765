#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP turned into a Qt signal on the event loop, so a program stops
// between events rather than in the middle of one. One per process.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    // False when the signals cannot be caught; the program then stops the default way.
    bool isWatching() const { return notifier_ != nullptr; }

signals:
    void stopRequested(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};
