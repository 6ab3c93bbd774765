#pragma once

#include "commandframe.h"
#include "replydecoder.h"

#include <QJsonObject>

#include <array>
#include <optional>

// The input (1..4) each output (1..4) shows; nothing where it is not known.
using Routing = std::array<std::optional<int>, kOutputCount>;

// Every output known: a switcher's own routes.
Routing knownRouting(const std::array<int, kOutputCount>& inputOfOutput);

// Only a status reply brings a line break of its own.
bool isStatusReply(const ReplyEffects& effects);
// The routes a decoded reply names (a route reply names one, a status reply all it carries).
Routing routingOf(const ReplyEffects& effects);
// The EDID mode a decoded reply names.
std::optional<int> edidModeOf(const ReplyEffects& effects);

// {"A":1,"B":3,"C":null,"D":4}
QJsonObject routingJson(const Routing& routing);
