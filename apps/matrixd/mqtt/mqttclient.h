#pragma once

#include "config/switcherconfig.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

struct mosquitto;
struct mosquitto_message;
class QSocketNotifier;

// One connection to an MQTT broker, driven from the Qt event loop of the thread that owns it:
// libmosquitto's socket sits in socket notifiers and its housekeeping runs on a timer, so no
// thread of libmosquitto's own ever runs. It connects in the background and reconnects by
// itself, waiting 1 s after the first failure and twice as long after each next one, up to 30 s.
// The wait starts over at a connection, unless the one before was dropped soon after it was
// made: then only once a connection has held for a minute. Connections dropped soon after they
// were made, again and again, are what another client with the same id causes: said once.
class MqttClient : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;

    // `settings` gives host, port, username and password, TLS files and the client id.
    explicit MqttClient(MqttSettings settings, Log log = {}, QObject* parent = nullptr);
    ~MqttClient() override;

    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // What the broker publishes for this client when the connection breaks without a goodbye.
    // Takes effect at the next connection attempt; set it before start().
    void setWill(const QString& topic, const QByteArray& payload, bool retain);

    // Starts connecting; returns at once. Problems are logged and retried, never thrown.
    void start();
    // Says goodbye to the broker (no last will) and stops reconnecting.
    void stop();

    bool isConnected() const { return connected_; }

    // False when not connected or the message cannot be queued; nothing is kept for later.
    bool publish(const QString& topic, const QByteArray& payload, bool retain);
    bool subscribe(const QString& pattern);
    bool unsubscribe(const QString& pattern);

    // The wait before the next attempt, for logs and tests.
    std::chrono::milliseconds reconnectDelay() const { return backoff_; }

signals:
    // The broker accepted the connection (again): subscriptions are gone, state must be resent.
    void connected();
    void disconnected();
    void messageReceived(const QString& topic, const QByteArray& payload, bool retained);

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    // The connection ended (or never came): tell, and try again later.
    void closed(int rc, int savedErrno);
    // After driving libmosquitto: notice a socket it closed, watch the one it has.
    void afterLoop(int rc);
    // libmosquitto 2.0 keeps retrying a TLS handshake on a socket the far end closed, without
    // end: give up on that socket; the next attempt closes it.
    void abandon();
    static bool hungUp(int socket);

    bool configure();
    void attempt();
    void scheduleRetry();
    // Watches whatever socket libmosquitto has now, and for writing while it has output.
    void syncNotifiers();
    void dropNotifiers();
    void problem(const QString& text);
    QString where() const;

    MqttSettings settings_;
    Log log_;
    mosquitto* mosq_ = nullptr;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    int watchedSocket_ = -1;
    int abandonedSocket_ = -1;
    bool resync_ = false; // the socket closed: a new one may reuse its number
    QTimer miscTimer_;
    QTimer retryTimer_;
    QTimer heldTimer_; // runs from a connection until it counts as held
    std::chrono::milliseconds backoff_;
    QString lastProblem_; // repeated failures are logged once until a connection succeeds
    QString refusal_;     // the broker's reason, between its CONNACK and the disconnect
    std::optional<std::pair<int, int>> disconnect_; // libmosquitto's code and errno, to handle
    QString libraryError_; // libmosquitto's last error line (OpenSSL's reason) for this attempt
    QString willTopic_;
    QByteArray willPayload_;
    bool willRetain_ = false;
    bool everStarted_ = false;
    bool running_ = false;
    bool connected_ = false;
    int shortDrops_ = 0;       // connections in a row dropped before they held
    bool idTakenOver_ = false; // said so; quiet about reconnections until one holds
};
