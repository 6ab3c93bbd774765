#pragma once

#include "serialcontrol.h"

#include <QSerialPort>

// The serial control over QSerialPort. COM<n> maps to a device as portDevicePath() says.
class QtSerialControl : public SerialControl {
    Q_OBJECT
public:
    explicit QtSerialControl(QObject* parent = nullptr);

    bool setPortNumber(int portNumber) override;
    // Opens this device instead of the one COM<n> maps to; empty restores the mapping.
    bool setDevicePath(const QString& path);
    bool setSettings(const wire::LineSettings& settings) override;
    bool setInputLength(int length) override;
    bool setReceiveThreshold(int threshold) override;

    bool isOpen() const override;
    bool open() override;
    bool close() override;
    bool write(const QByteArray& bytes) override;
    QByteArray readAll() override;

private:
    void onError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    int portNumber_ = 0;
    QString devicePath_;
    wire::LineSettings settings_ = wire::kLineSettings;
    int inputLength_ = 0;
};
