#pragma once

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
    explicit ReplyIntake(SerialControl& serial, std::chrono::milliseconds settle = wire::kSettleWait,
                         QObject* parent = nullptr);

signals:
    void replyText(const QString& text);

private:
    void takeChunk();

    SerialControl& serial_;
    QTimer settle_;
};
