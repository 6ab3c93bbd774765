#include "fakeserialcontrol.h"

#include "switcher/wire.h"

#include "serial/portnames.h"

FakeSerialControl::FakeSerialControl(QObject* parent) : SerialControl(parent)
{
    for (int n = kFirstPortNumber; n <= kLastPortNumber; ++n)
        existingPorts.insert(n);
}

bool FakeSerialControl::setPortNumber(int number)
{
    if (open_ || number < 1)
        return false;
    portNumber = number;
    return true;
}

bool FakeSerialControl::setSettings(const wire::LineSettings& lineSettings)
{
    settings = lineSettings.text();
    return !failSettings;
}

bool FakeSerialControl::setInputLength(int length)
{
    inputLength = length;
    return !failSettings;
}

bool FakeSerialControl::setReceiveThreshold(int threshold)
{
    receiveThreshold = threshold;
    return !failSettings;
}

bool FakeSerialControl::open()
{
    ++openCalls;
    if (open_ || !existingPorts.contains(portNumber) || portsHeldElsewhere.contains(portNumber))
        return false;
    open_ = true;
    openedPortNumber = portNumber;
    input_.clear();
    return true;
}

bool FakeSerialControl::close()
{
    ++closeCalls;
    if (failCloses)
        return false;
    open_ = false;
    return true;
}

bool FakeSerialControl::write(const QByteArray& bytes)
{
    ++writeCalls;
    if (!open_ || failWrites)
        return false;
    writes.append(bytes);
    return true;
}

QByteArray FakeSerialControl::readAll()
{
    return std::exchange(input_, {});
}

void FakeSerialControl::feed(const QByteArray& bytes)
{
    input_ += bytes;
    if (open_)
        emit received();
}

void FakeSerialControl::hangUp()
{
    if (!open_)
        return;
    open_ = false;
    emit deviceLost();
}

QByteArray FakeSerialControl::allWritten() const
{
    QByteArray all;
    for (const auto& w : writes)
        all += w;
    return all;
}
