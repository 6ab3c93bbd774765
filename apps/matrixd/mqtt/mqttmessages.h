#pragma once

#include "config/switcherconfig.h"
#include "switcherstate.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// What matrixd says on MQTT and what it understands there, as pure functions of the
// configuration and the state. Every topic lies under the configured base topic, except Home
// Assistant's discovery configs under the discovery prefix.
namespace mqttmessages {

inline constexpr qsizetype kMaxCommandPayload = 256;

struct Message {
    QString topic;
    QByteArray payload; // published retained; empty clears the broker's retained message
    friend bool operator==(const Message&, const Message&) = default;
};

// config.mqtt must be set and completed (client id and topic filled in).
QString baseTopic(const SwitcherConfig& config);
QString availabilityTopic(const SwitcherConfig& config);

// "online" only while the broker is connected and the switcher answers.
QByteArray availabilityPayload(bool online);

// The retained state topics: each output's input label, the EDID caption, all routes as JSON.
// With `before`, only the topics whose payload differs from what `before` gave.
QList<Message> stateMessages(const SwitcherConfig& config, const SwitcherFacts& facts,
                             const SwitcherFacts* before = nullptr);
// {"A":1,"B":3,"C":null,"D":2}
QByteArray routesPayload(const SwitcherFacts& facts);

// Home Assistant discovery: one device with a select per output, an EDID select, a Refresh
// button, a button per preset (Refresh last of the buttons) and a connectivity sensor. Empty
// when the discovery prefix is empty.
QList<Message> discoveryMessages(const SwitcherConfig& config);
// Matches every button config of this switcher, to find presets that are no longer configured.
QString discoveryButtonPattern(const SwitcherConfig& config);
QString refreshButtonConfigTopic(const SwitcherConfig& config);
// True for a button config topic of this switcher that belongs to a preset not in `config`.
bool isStalePresetConfig(const SwitcherConfig& config, const QString& topic);

// The topics matrixd subscribes to.
QStringList commandPatterns(const SwitcherConfig& config);

struct Command {
    enum class Kind { Route, EdidMode, Preset, Refresh };
    Kind kind = Kind::Refresh;
    int output = 0; // Route: 1..4
    int input = 0;  // Route: 1..4
    int mode = 0;   // EdidMode: 0..10
    QString preset; // Preset: the configured name
    // "route B (Projector) to Blu-ray", for log lines.
    QString describe(const SwitcherConfig& config) const;
    friend bool operator==(const Command&, const Command&) = default;
};

struct Rejection {
    QString reason; // one log line
};

// A message on a command topic: the command it asks for, or why it asks for none. Nothing for a
// topic that carries no command.
std::optional<std::variant<Command, Rejection>>
parseCommand(const SwitcherConfig& config, const QString& topic, const QByteArray& payload);

// A payload fit for a log line: control characters shown as '?', cut at 64 characters.
QString quoted(const QByteArray& payload);

} // namespace mqttmessages
