#include "seriallink.h"

#include "switcher/wire.h"

#include "link/messageboxes.h"
#include "serial/serialcontrol.h"
#include "switcher/commandframe.h"

SerialLink::SerialLink(SerialControl& serial, MessageBoxes& boxes, QObject* parent)
    : QObject(parent), serial_(serial), boxes_(boxes)
{
    // The port closed itself because its device is gone; nothing to tell the operator.
    connect(&serial_, &SerialControl::deviceLost, this,
            [this] { setDisplay(LinkDisplay::NotConnected); });
}

void SerialLink::startUp()
{
    setDisplay(LinkDisplay::StartUp);
    // Failures here are not the operator's concern: the open below reports what matters.
    serial_.setSettings(wire::kLineSettings);
    serial_.setInputLength(kInputLengthAll);
    serial_.setReceiveThreshold(kReceiveThresholdOneByte);
    if (serial_.isOpen())
        return;
    bool ok = serial_.setPortNumber(portNumber_);
    ok = serial_.open() && ok;
    if (!ok) {
        showFailure(boxes_);
        setDisplay(LinkDisplay::NotConnected);
        return;
    }
    setDisplay(LinkDisplay::Connected);
}

void SerialLink::toggleConnection()
{
    if (serial_.isOpen()) {
        closeAndShowNotConnected();
        return;
    }
    bool ok = serial_.setPortNumber(portNumber_);
    ok = serial_.open() && ok;
    // The write is tried even after a failed open; it fails too and the box shows once.
    ok = serial_.write(statusQueryFrame()) && ok;
    if (!ok) {
        // A port left open would belie the display, which stays Not connected.
        if (serial_.isOpen())
            serial_.close();
        showFailure(boxes_);
        return;
    }
    setDisplay(LinkDisplay::Connected);
}

void SerialLink::closeOnPortChange()
{
    if (serial_.isOpen())
        closeAndShowNotConnected();
}

void SerialLink::closeAndShowNotConnected()
{
    serial_.close(); // a failed close still shows Not connected
    setDisplay(LinkDisplay::NotConnected);
}

void SerialLink::setDisplay(LinkDisplay display)
{
    display_ = display;
    emit displayChanged(display);
}
