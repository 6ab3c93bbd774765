#pragma once

#include "serialcontrol.h"

#include <QTimer>

// The serial control over the Win32 communications API. COM<n> opens the device \\.\COM<n>.
// Arrivals are found by polling: a read returns at once with what is there, and a read or status
// call that fails means the device is gone. Overlapped reads and WaitCommEvent would save the
// poll on Windows, but wine's serial ports (pseudo-terminals in the tests) support neither, and
// the path the tests run must be the one shipped.
class WinSerialControl : public SerialControl {
    Q_OBJECT
public:
    explicit WinSerialControl(QObject* parent = nullptr);
    ~WinSerialControl() override;

    bool setPortNumber(int portNumber) override;
    // Opens this device name (COM3, \\.\COM3) instead of the one COM<n> maps to; empty restores
    // the mapping.
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
    // Moves what the device holds into input_; false when the device is gone.
    bool drain();
    void poll();
    void loseDevice();

    void* handle_; // a HANDLE; windows.h stays out of the header
    QTimer poll_;
    QByteArray input_;
    int portNumber_ = 0;
    QString devicePath_;
    wire::LineSettings settings_ = wire::kLineSettings;
    int inputLength_ = 0;
};
