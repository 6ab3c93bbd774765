#pragma once

#include "link/portchoice.h"
#include "link/seriallink.h"
#include "switcher/commandframe.h"
#include "link/edidechoes.h"
#include "serial/replyintake.h"

#include <QWidget>

#include <array>

class BlockButton;
class Lamp;
class MessageBoxes;
class MessageLog;
class QButtonGroup;
class QComboBox;
class QPushButton;
class QRadioButton;
class SerialControl;

// The panel's one window. Controls carry the names they were designed with; arrays are
// name_index (Command1_10, Shape17_0, Option1_6).
class Form1 : public QWidget {
    Q_OBJECT
public:
    Form1(SerialControl& serial, MessageBoxes& boxes, QWidget* parent = nullptr);

    // The start-up sequence: fill and restore the port list, then open the port. Call before
    // show(), so a failure box comes before the window.
    void load();

    // Light lamp `input` (1..4) of an output and darken its other three; other values change
    // nothing.
    void out1(quint8 input) { outN(1, input); }
    void out2(quint8 input) { outN(2, input); }
    void out3(quint8 input) { outN(3, input); }
    void out4(quint8 input) { outN(4, input); }
    void outN(int output, quint8 input);

private:
    void buildMatrixPanel();
    void buildMessageFrame();
    void buildEdidFrame();
    void buildConnectionControls();
    void setKeyboardOrder();

    void showLinkDisplay(LinkDisplay display);
    void applyReply(const QString& text);
    void selectEdidMode(int mode);
    void send(const CommandFrame& frame);

    SerialControl& serial_;
    MessageBoxes& boxes_;
    SerialLink link_;
    PortChoice choice_;
    ReplyIntake intake_; // a child, so that tests find it
    EdidEchoes edidEchoes_;

    std::array<BlockButton*, kPowerButtonIndex> command1_{};
    QPushButton* power_ = nullptr;
    std::array<std::array<Lamp*, kInputCount>, kOutputCount> routingLamps_{};
    std::array<QRadioButton*, kEdidModeCount> option1_{};
    QButtonGroup* optionGroup_ = nullptr;
    QPushButton* command2_ = nullptr;
    QPushButton* command6_ = nullptr;
    QPushButton* command7_ = nullptr;
    QComboBox* combo1_ = nullptr;
    Lamp* shape15_ = nullptr;
    Lamp* shape16_ = nullptr;
    MessageLog* log_ = nullptr;
};
