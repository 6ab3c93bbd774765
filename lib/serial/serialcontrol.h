#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "switcher/wire.h"

// The one serial port of the panel, as the link and the reply path use it. Every operation
// reports failure by its result; nothing throws.
class SerialControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Port number 1..10 (COM1..COM10); takes effect at the next open.
    virtual bool setPortNumber(int portNumber) = 0;
    // Take effect at the next open; false for settings the line cannot take.
    virtual bool setSettings(const wire::LineSettings& settings) = 0;
    // 0: a read takes every waiting byte.
    virtual bool setInputLength(int length) = 0;
    // 1: the receive notification comes as soon as one byte waits.
    virtual bool setReceiveThreshold(int threshold) = 0;

    virtual bool isOpen() const = 0;
    // Input that reached the port before a successful open is discarded.
    virtual bool open() = 0;
    virtual bool close() = 0;
    // All bytes, in order and unchanged, in one call. Fails on a closed port.
    virtual bool write(const QByteArray& bytes) = 0;
    // Every waiting byte; empty when nothing waits or the port is closed.
    virtual QByteArray readAll() = 0;

signals:
    // Bytes are waiting (at least the receive threshold).
    void received();
    // The open port's device went away; the port has been closed already.
    void deviceLost();
};
