#pragma once

#include "config/switcherconfig.h"
#include "mqttclient.h"
#include "switchercommands.h"
#include "switcherstate.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// The switcher on MQTT: publishes the state (retained) and Home Assistant's discovery configs,
// and turns messages on the command topics into commands. What is published is resent whole on
// every (re)connection, so a broker that lost everything catches up. Topics and payloads are
// made in mqttmessages.h.
class MqttBridge : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;

    // config.mqtt must be set and completed (completeSwitcherConfig()). The state and the
    // commands must outlive the bridge. Each log line is one event, without a trailing newline.
    MqttBridge(const SwitcherConfig& config, SwitcherState& state, SwitcherCommands& commands,
               Log log, QObject* parent = nullptr);
    // Publishes offline and says goodbye when connected.
    ~MqttBridge() override;

    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    // Starts connecting in the background; returns at once.
    void start();
    // Publishes offline, disconnects, stops reconnecting.
    void stop();

    const MqttClient& client() const { return client_; }

private:
    void onConnected();
    void onMessage(const QString& topic, const QByteArray& payload, bool retained);
    void publishAvailability();
    void finishSweep();
    void warnIfPasswordReadable();
    void log(const QString& text) const;

    SwitcherConfig config_;
    SwitcherState& state_;
    SwitcherCommands& commands_;
    Log log_;
    MqttClient client_;
    // After connecting, the retained button configs of presets no longer configured: emptied
    // once the broker has sent the older configs.
    bool sweeping_ = false;
    QStringList staleConfigs_;
};
