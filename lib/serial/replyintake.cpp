#include "replyintake.h"

#include "serial/serialcontrol.h"
#include "switcher/replytext.h"

ReplyIntake::ReplyIntake(SerialControl& serial, std::chrono::milliseconds settle, QObject* parent)
    : QObject(parent), serial_(serial)
{
    settle_.setSingleShot(true);
    settle_.setTimerType(Qt::PreciseTimer);
    settle_.setInterval(settle);
    // The event loop keeps moving bytes into the port's buffer during the wait, which a blocking
    // sleep would not; notifications inside the window are part of the same chunk.
    connect(&serial_, &SerialControl::received, this, [this] {
        if (!settle_.isActive())
            settle_.start();
    });
    connect(&settle_, &QTimer::timeout, this, &ReplyIntake::takeChunk);
}

void ReplyIntake::takeChunk()
{
    emit replyText(bytes2BSTR(serial_.readAll()));
}
