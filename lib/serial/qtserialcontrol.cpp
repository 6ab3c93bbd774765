#include "qtserialcontrol.h"

#include "switcher/wire.h"

#include "portnames.h"

namespace {

QSerialPort::Parity toQtParity(char parity)
{
    switch (parity) {
    case 'E':
        return QSerialPort::EvenParity;
    case 'O':
        return QSerialPort::OddParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

} // namespace

QtSerialControl::QtSerialControl(QObject* parent) : SerialControl(parent)
{
    connect(&port_, &QSerialPort::readyRead, this, &SerialControl::received);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
}

bool QtSerialControl::setPortNumber(int portNumber)
{
    if (port_.isOpen() || portNumber < 1)
        return false;
    portNumber_ = portNumber;
    return true;
}

bool QtSerialControl::setDevicePath(const QString& path)
{
    if (port_.isOpen())
        return false;
    devicePath_ = path;
    return true;
}

bool QtSerialControl::setSettings(const wire::LineSettings& settings)
{
    if (!settings.isValid())
        return false;
    settings_ = settings;
    return true;
}

bool QtSerialControl::setInputLength(int length)
{
    if (length < 0)
        return false;
    inputLength_ = length;
    return true;
}

bool QtSerialControl::setReceiveThreshold(int threshold)
{
    // QSerialPort notifies on every arrival, which is what a threshold of 1 asks for.
    return threshold >= 0;
}

bool QtSerialControl::isOpen() const
{
    return port_.isOpen();
}

bool QtSerialControl::open()
{
    if (port_.isOpen() || (portNumber_ < 1 && devicePath_.isEmpty()))
        return false;
    port_.setPortName(devicePath_.isEmpty() ? portDevicePath(portNumber_) : devicePath_);
    port_.setBaudRate(settings_.baud);
    port_.setParity(toQtParity(settings_.parity));
    port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits));
    port_.setStopBits(settings_.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite))
        return false;
    // Qt 6.4 hands over bytes that reached the device before the open.
    port_.clear(QSerialPort::Input);
    return true;
}

bool QtSerialControl::close()
{
    if (!port_.isOpen())
        return true;
    port_.close();
    return !port_.isOpen();
}

bool QtSerialControl::write(const QByteArray& bytes)
{
    // QSerialPort::write on a closed port returns -1 without setting an error.
    if (!port_.isOpen())
        return false;
    if (port_.write(bytes) != bytes.size())
        return false;
    port_.flush();
    return true;
}

QByteArray QtSerialControl::readAll()
{
    if (!port_.isOpen())
        return {};
    return inputLength_ == 0 ? port_.readAll() : port_.read(inputLength_);
}

void QtSerialControl::onError(QSerialPort::SerialPortError error)
{
    // A vanished device shows as a storm of ReadError (stale text) or as ResourceError.
    if (!port_.isOpen())
        return;
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    port_.close();
    emit deviceLost();
}
