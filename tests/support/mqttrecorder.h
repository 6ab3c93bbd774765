#pragma once

// An MQTT client of the test's own on a broker: records every message it receives with its
// retained flag, publishes, and waits for a topic's payload. It subscribes again after each
// reconnection, so it follows a broker restart.

#include "mqttclient.h"

#include <QList>
#include <QTest>

#include <optional>

struct RecordedMessage {
    QString topic;
    QByteArray payload;
    bool retained = false;
};

class MqttRecorder {
public:
    explicit MqttRecorder(int port, QString pattern = QStringLiteral("#"),
                          const QString& clientId = QStringLiteral("test-recorder"))
        : client_(settings(port, clientId)), pattern_(std::move(pattern))
    {
        QObject::connect(&client_, &MqttClient::connected, &client_,
                         [this] { client_.subscribe(pattern_); });
        QObject::connect(&client_, &MqttClient::messageReceived, &client_,
                         [this](const QString& topic, const QByteArray& payload, bool retained) {
                             messages_.append({topic, payload, retained});
                         });
        client_.start();
    }

    bool waitConnected()
    {
        return QTest::qWaitFor([this] { return client_.isConnected(); }, 5000);
    }

    const QList<RecordedMessage>& messages() const { return messages_; }
    void clear() { messages_.clear(); }

    // The last message on `topic`, if any came.
    std::optional<RecordedMessage> last(const QString& topic) const
    {
        for (auto it = messages_.crbegin(); it != messages_.crend(); ++it) {
            if (it->topic == topic)
                return *it;
        }
        return std::nullopt;
    }

    QByteArray payload(const QString& topic) const
    {
        const auto message = last(topic);
        return message ? message->payload : QByteArray("<nothing>");
    }

    // Until the last message on `topic` carries `payload`.
    bool waitFor(const QString& topic, const QByteArray& payload, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return this->payload(topic) == payload; }, timeoutMs);
    }

    bool publish(const QString& topic, const QByteArray& payload, bool retain = false)
    {
        return client_.publish(topic, payload, retain);
    }

    MqttClient& client() { return client_; }

private:
    static MqttSettings settings(int port, const QString& clientId)
    {
        MqttSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = port;
        settings.clientId = clientId;
        return settings;
    }

    MqttClient client_;
    QString pattern_;
    QList<RecordedMessage> messages_;
};
