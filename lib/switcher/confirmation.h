#pragma once

#include "commandframe.h"
#include "replydecoder.h"

// Whether a reply text confirms a command, for every program that waits for one: a status reply
// for the status query; for an input button, a route reply for its output and input; for an
// arrow, a route reply for its output; the EDID reply naming the mode asked for; and any text at
// all for what the switcher only acknowledges (POWER, modes and codes it does not have).
bool replyConfirms(const CommandFrame& frame, const ReplyEffects& effects);
