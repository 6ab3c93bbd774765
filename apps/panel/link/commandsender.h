#pragma once

#include "switcher/commandframe.h"

class SerialControl;
class MessageBoxes;

// One write of the whole frame; a failed write shows the failure box. Nothing is retried,
// queued or waited for.
void SendCommandFrame(SerialControl& serial, MessageBoxes& boxes, const CommandFrame& frame);
