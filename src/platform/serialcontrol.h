#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The one serial port of the panel, as the link and the reply path use it. Every operation
// reports failure by its result; nothing throws.
class SerialControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Port number 1..10 (COM1..COM10); takes effect at the next open.
    virtual bool setPortNumber(int portNumber) = 0;
    // Line settings as "baud,parity,data,stop", e.g. "9600,N,8,1"; take effect at the next open.
    virtual bool setSettings(const QString& settings) = 0;
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

// Parses "9600,N,8,1". Returns false on anything else the line can not take.
struct LineSettings {
    int baud = 0;
    char parity = 'N';
    int dataBits = 0;
    int stopBits = 0;
};
bool parseLineSettings(const QString& text, LineSettings& out);
