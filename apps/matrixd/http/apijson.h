#pragma once

#include "config/switcherconfig.h"
#include "switcherstate.h"

#include <QJsonObject>
#include <QJsonValue>

#include <optional>

// The JSON of the HTTP API: what GET state and every event say, and how the values of a PUT
// are read. Written once here for the answers, the events and the page alike.
namespace apijson {

// answering, name, outputs (letter, name, input or null), inputs, edid (mode and caption, or
// null), edidModes, presets.
QJsonObject state(const SwitcherConfig& config, const SwitcherState& state);
// The event a WebSocket client gets at once and after every change.
QJsonObject stateEvent(const SwitcherConfig& config, const SwitcherState& state);
QJsonObject health(bool answering);

// An input given as 1..4 or by its name (any case); nothing for anything else.
std::optional<int> inputOf(const SwitcherConfig& config, const QJsonValue& value);
// An EDID mode given as 0..10 or by its caption.
std::optional<int> edidModeOf(const QJsonValue& value);

} // namespace apijson
