#pragma once

#include "serial/serialcontrol.h"

#include <QList>
#include <QSet>

// A serial control for tests: records every write, fails on demand, delivers queued input.
class FakeSerialControl : public SerialControl {
    Q_OBJECT
public:
    explicit FakeSerialControl(QObject* parent = nullptr);

    bool setPortNumber(int portNumber) override;
    bool setSettings(const wire::LineSettings& settings) override;
    bool setInputLength(int length) override;
    bool setReceiveThreshold(int threshold) override;
    bool isOpen() const override { return open_; }
    bool open() override;
    bool close() override;
    bool write(const QByteArray& bytes) override;
    QByteArray readAll() override;

    // Test controls.
    QSet<int> existingPorts;     // ports that exist; default COM1..COM10
    QSet<int> portsHeldElsewhere; // exist, but another program holds them
    bool failWrites = false;
    bool failCloses = false;
    bool failSettings = false;

    void setOpenState(bool open) { open_ = open; }
    // Queue bytes as if they arrived on the line; notifies when the port is open.
    void feed(const QByteArray& bytes);
    // The device disappears under an open port.
    void hangUp();

    // Observations.
    QList<QByteArray> writes; // one element per successful write call
    int portNumber = 0;
    int openedPortNumber = 0;
    QString settings; // as "9600,N,8,1"
    int inputLength = -1;
    int receiveThreshold = -1;
    int openCalls = 0;
    int closeCalls = 0;
    int writeCalls = 0;
    QByteArray allWritten() const;

private:
    bool open_ = false;
    QByteArray input_;
};
