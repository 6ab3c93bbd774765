#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

class SerialControl;

// A reply still arriving at 9600 baud (about 1.04 ms a byte) is collected into one chunk by
// waiting this long after the first byte.
inline constexpr std::chrono::milliseconds kSettleWait{30};

// Turns the port's receive notifications into reply texts: one text per settle window, holding
// every byte that arrived in it. Nothing is carried from one text to the next.
class ReplyIntake : public QObject {
    Q_OBJECT
public:
    explicit ReplyIntake(SerialControl& serial, std::chrono::milliseconds settle = kSettleWait,
                         QObject* parent = nullptr);

signals:
    void replyText(const QString& text);

private:
    void takeChunk();

    SerialControl& serial_;
    QTimer settle_;
};
