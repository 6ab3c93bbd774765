#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include "switcher/wire.h"

#include <chrono>

class SerialControl;

// Turns the port's receive notifications into reply texts: one text per settle window, holding
// every byte that arrived in it. Nothing is carried from one text to the next.
class ReplyIntake : public QObject {
    Q_OBJECT
public:
    // When the bytes leave the port: all at once when the window closes (the panel), or as
    // they arrive, for a reader that passes them on at once (the service).
    enum class Reading { AtWindowEnd, AsTheyArrive };

    explicit ReplyIntake(SerialControl& serial, std::chrono::milliseconds settle = wire::kSettleWait,
                         QObject* parent = nullptr, Reading reading = Reading::AtWindowEnd);

    // A window is open: bytes have arrived and their text is still to come.
    bool isCollecting() const { return settle_.isActive(); }
    // Forgets a window still open, as when the line goes away under it.
    void discard();

signals:
    // Reading::AsTheyArrive only: bytes as they came off the port.
    void bytesArrived(const QByteArray& bytes);
    // Every window's bytes, then their text.
    void chunkTaken(const QByteArray& chunk);
    void replyText(const QString& text);

private:
    void onReceived();
    void takeChunk();

    SerialControl& serial_;
    Reading reading_;
    QByteArray chunk_;
    QTimer settle_;
};
