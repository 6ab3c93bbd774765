#pragma once

#include <QObject>

class SerialControl;
class MessageBoxes;

// What the Connect button and the two lamps show.
enum class LinkDisplay {
    StartUp,     // "Connect", both lamps dark
    Connected,   // "Disconnect", green lit
    NotConnected // "Connect", red lit
};

inline constexpr int kInputLengthAll = 0;
inline constexpr int kReceiveThresholdOneByte = 1;

// Owns the open state of the one port. Keeps no connection flag: it asks the port.
class SerialLink : public QObject {
    Q_OBJECT
public:
    SerialLink(SerialControl& serial, MessageBoxes& boxes, QObject* parent = nullptr);

    // The port the next open uses (1..10); only the port choice sets it.
    int portNumber() const { return portNumber_; }
    void setPortNumber(int portNumber) { portNumber_ = portNumber; }

    LinkDisplay display() const { return display_; }

    // Runs once before the window is first shown, after the port choice has been restored.
    void startUp();
    // A press of the Connect/Disconnect button.
    void toggleConnection();
    // A new port was picked: close an open link, never open one.
    void closeOnPortChange();

signals:
    void displayChanged(LinkDisplay display);

private:
    void setDisplay(LinkDisplay display);
    void closeAndShowNotConnected();

    SerialControl& serial_;
    MessageBoxes& boxes_;
    int portNumber_ = 0;
    LinkDisplay display_ = LinkDisplay::StartUp;
};
