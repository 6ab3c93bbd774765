#pragma once

// The panel's end of a real line without its window: the panel's serial control and reply intake
// on a COM number or a device path, with the texts they delivered and when bytes arrived.

#include "switcher/wire.h"
#include "serial/qtserialcontrol.h"
#include "serial/replyintake.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

class PanelEnd {
public:
    explicit PanelEnd(int port) : PanelEnd() { serial.setPortNumber(port); }
    explicit PanelEnd(const QString& devicePath) : PanelEnd() { serial.setDevicePath(devicePath); }

    bool open() { return serial.open(); }
    bool send(const QByteArray& frame) { return serial.write(frame); }
    // Writes and waits until `total` texts have come in all.
    bool ask(const QByteArray& frame, qsizetype total) { return send(frame) && waitForTexts(total); }

    // Runs a real event loop (QTest::qWait sleeps in 10 ms steps, which would blur arrival
    // times and the settle wait) until `done` holds after a reply text, or the timeout.
    bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000)
    {
        if (done())
            return true;
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        QObject::connect(&intake, &ReplyIntake::replyText, &loop, [&] {
            if (done())
                loop.quit();
        });
        loop.exec();
        return done();
    }

    bool waitForTexts(qsizetype count, int timeoutMs = 5000)
    {
        return waitFor([&] { return texts.size() >= count; }, timeoutMs);
    }

    QtSerialControl serial;
    ReplyIntake intake{serial};
    QStringList texts;
    QElapsedTimer clock;
    QList<qint64> notifiedAtUs; // each `received` signal, from `clock`

private:
    PanelEnd()
    {
        serial.setSettings(wire::kLineSettings);
        QObject::connect(&serial, &SerialControl::received, &serial,
                         [this] { notifiedAtUs << clock.nsecsElapsed() / 1000; });
        QObject::connect(&intake, &ReplyIntake::replyText, &intake,
                         [this](const QString& text) { texts << text; });
        clock.start();
    }
};
