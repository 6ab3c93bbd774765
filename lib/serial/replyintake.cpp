#include "replyintake.h"

#include "serial/serialcontrol.h"
#include "switcher/replytext.h"

ReplyIntake::ReplyIntake(SerialControl& serial, std::chrono::milliseconds settle, QObject* parent,
                         Reading reading)
    : QObject(parent), serial_(serial), reading_(reading)
{
    settle_.setSingleShot(true);
    settle_.setTimerType(Qt::PreciseTimer);
    settle_.setInterval(settle);
    // The event loop keeps moving bytes into the port's buffer during the wait, which a blocking
    // sleep would not; notifications inside the window are part of the same chunk.
    connect(&serial_, &SerialControl::received, this, &ReplyIntake::onReceived);
    connect(&settle_, &QTimer::timeout, this, &ReplyIntake::takeChunk);
}

void ReplyIntake::discard()
{
    settle_.stop();
    chunk_.clear();
}

void ReplyIntake::onReceived()
{
    if (reading_ == Reading::AsTheyArrive) {
        const QByteArray bytes = serial_.readAll();
        if (bytes.isEmpty())
            return;
        chunk_ += bytes;
        emit bytesArrived(bytes);
    }
    if (!settle_.isActive())
        settle_.start();
}

void ReplyIntake::takeChunk()
{
    QByteArray chunk = std::exchange(chunk_, {});
    if (reading_ == Reading::AtWindowEnd)
        chunk = serial_.readAll();
    emit chunkTaken(chunk);
    emit replyText(bytes2BSTR(chunk));
}
