#pragma once

#include "switcher/commandframe.h"
#include "switcher/replydecoder.h"

// Whether a reply text confirms a command: a status reply for the status query, a route reply
// for the button's output (the asked input for an input button), the EDID reply naming the
// mode asked for, and any text at all for a frame the switcher only acknowledges.
bool replyConfirms(const CommandFrame& frame, const ReplyEffects& effects);

// "route B <- 3", "status query", "EDID mode 6": what a command asked for, for log lines.
QString describeCommand(const CommandFrame& frame);
