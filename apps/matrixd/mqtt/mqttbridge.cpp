#include "mqttbridge.h"

#include "mqttmessages.h"

#include <QPointer>

#include <sys/stat.h>

using namespace mqttmessages;

MqttBridge::MqttBridge(const SwitcherConfig& config, SwitcherState& state,
                       SwitcherCommands& commands, Log log, QObject* parent)
    : QObject(parent), config_(config), state_(state), commands_(commands), log_(std::move(log)),
      client_(*config.mqtt, [this](const QString& text) { this->log(text); })
{
    client_.setWill(availabilityTopic(config_), availabilityPayload(false), true);
    connect(&client_, &MqttClient::connected, this, &MqttBridge::onConnected);
    connect(&client_, &MqttClient::disconnected, this, [this] { sweeping_ = false; });
    connect(&client_, &MqttClient::messageReceived, this, &MqttBridge::onMessage);
    connect(&state_, &SwitcherState::answeringChanged, this, &MqttBridge::publishAvailability);
    connect(&state_, &SwitcherState::changed, this, [this](const SwitcherFacts& before) {
        for (const Message& message : stateMessages(config_, state_.facts(), &before))
            client_.publish(message.topic, message.payload, true);
    });
}

MqttBridge::~MqttBridge()
{
    stop();
}

void MqttBridge::start()
{
    warnIfPasswordReadable();
    client_.start();
}

void MqttBridge::stop()
{
    client_.publish(availabilityTopic(config_), availabilityPayload(false), true);
    client_.stop();
}

void MqttBridge::onConnected()
{
    // Subscribed before the configs go out, so the broker sends the old ones first.
    sweeping_ = !discoveryMessages(config_).isEmpty();
    staleConfigs_.clear();
    if (sweeping_)
        client_.subscribe(discoveryButtonPattern(config_));
    for (const QString& pattern : commandPatterns(config_))
        client_.subscribe(pattern);
    for (const Message& message : discoveryMessages(config_))
        client_.publish(message.topic, message.payload, true);
    publishAvailability();
    for (const Message& message : stateMessages(config_, state_.facts()))
        client_.publish(message.topic, message.payload, true);
}

void MqttBridge::publishAvailability()
{
    client_.publish(availabilityTopic(config_),
                    availabilityPayload(client_.isConnected() && state_.isAnswering()), true);
}

void MqttBridge::onMessage(const QString& topic, const QByteArray& payload, bool retained)
{
    if (sweeping_) {
        if (retained && !payload.isEmpty() && isStalePresetConfig(config_, topic))
            staleConfigs_.append(topic);
        else if (!retained && topic == refreshButtonConfigTopic(config_))
            finishSweep();
    }

    const auto parsed = parseCommand(config_, topic, payload);
    if (!parsed)
        return;
    // A retained command would run again on every reconnection.
    if (retained) {
        log(QStringLiteral("%1: ignored a retained command %2 (publish commands without retain)")
                .arg(topic, quoted(payload)));
        return;
    }
    if (const auto* rejection = std::get_if<Rejection>(&*parsed)) {
        log(rejection->reason);
        return;
    }
    const Command command = std::get<Command>(*parsed);
    const QString what = command.describe(config_);
    if (!state_.isAnswering()) {
        log(QStringLiteral("refused %1: the switcher is not answering").arg(what));
        return;
    }
    QPointer<MqttBridge> self(this);
    auto done = [self, what](const SwitcherCommands::Outcome& outcome) {
        // A newer set for the same output took its place: nothing went wrong.
        if (self && !outcome.confirmed && !outcome.replaced)
            self->log(QStringLiteral("%1 failed: %2").arg(what, outcome.problem));
    };
    switch (command.kind) {
    case Command::Kind::Route:
        commands_.route(command.output, command.input, done);
        break;
    case Command::Kind::EdidMode:
        commands_.selectEdidMode(command.mode, done);
        break;
    case Command::Kind::Preset:
        commands_.applyPreset(command.preset, done);
        break;
    case Command::Kind::Refresh:
        commands_.refresh(done);
        break;
    }
}

void MqttBridge::finishSweep()
{
    sweeping_ = false;
    client_.unsubscribe(discoveryButtonPattern(config_));
    for (const QString& topic : std::as_const(staleConfigs_)) {
        client_.publish(topic, QByteArray(), true);
        log(QStringLiteral("removed %1: its preset is no longer configured").arg(topic));
    }
    staleConfigs_.clear();
}

void MqttBridge::warnIfPasswordReadable()
{
    const MqttSettings& mqtt = *config_.mqtt;
    const QString file = !mqtt.passwordFile.isEmpty() ? mqtt.passwordFile
                         : !mqtt.password.isEmpty()   ? config_.file
                                                      : QString();
    struct stat info {};
    if (file.isEmpty() || ::stat(file.toLocal8Bit().constData(), &info) != 0)
        return;
    // Group access is how the service's own user may be let in; anyone at all is too many.
    if ((info.st_mode & S_IROTH) != 0)
        log(QStringLiteral("%1 holds the broker password and others may read it "
                           "(chmod 600 it)")
                .arg(file));
}

void MqttBridge::log(const QString& text) const
{
    if (log_)
        log_(QStringLiteral("mqtt: ") + text);
}
