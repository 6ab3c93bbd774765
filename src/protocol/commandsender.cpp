#include "commandsender.h"

#include "platform/messageboxes.h"
#include "platform/serialcontrol.h"

void SendCommandFrame(SerialControl& serial, MessageBoxes& boxes, const CommandFrame& frame)
{
    if (!serial.write(frame))
        showFailure(boxes);
}
