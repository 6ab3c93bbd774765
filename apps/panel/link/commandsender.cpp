#include "commandsender.h"

#include "link/messageboxes.h"
#include "serial/serialcontrol.h"

void SendCommandFrame(SerialControl& serial, MessageBoxes& boxes, const CommandFrame& frame)
{
    if (!serial.write(frame))
        showFailure(boxes);
}
