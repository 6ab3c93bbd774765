#include "mqttclient.h"

#include <QSocketNotifier>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <poll.h>

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kFirstRetry = 1s;
constexpr std::chrono::milliseconds kLongestRetry = 30s;
constexpr std::chrono::milliseconds kHousekeeping = 1s;
// A connection dropped sooner than this is no recovery: the next one does not start the wait
// over. Longer than the longest wait, so that two clients with one id, each taking it from the
// other at every connection, settle at that wait instead of fighting every second.
constexpr std::chrono::milliseconds kHeld = 2 * kLongestRetry;
// The broker gives an id to its newest connection and just closes the older one (MQTT 3.1.1,
// and mosquitto 2.0.11 even on MQTT 5): this many short connections in a row point to that.
constexpr int kShortDropsForTakeover = 2;
// Also bounds a connection attempt that never completes: libmosquitto gives up on it then.
constexpr int kKeepAliveSeconds = 30;

// Published state is resent whole on every connection, so QoS 0 loses nothing that matters,
// and it never lets libmosquitto resend an old message after a newer one.
constexpr int kPublishQos = 0;
constexpr int kSubscribeQos = 1;
constexpr int kWillQos = 1;

// Repeats of a failure are not logged, so its one line says what happens next.
const QString kRetrying = QStringLiteral("; retrying, at growing intervals up to 30 s");

// "The connection was lost", for the middle of a log line.
QString reason(int rc, int savedErrno)
{
    QString text = rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(savedErrno))
                                        : QString::fromUtf8(mosquitto_strerror(rc));
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

// "Connection Refused: not authorised." -> "not authorised"
QString refusalReason(int rc)
{
    QString text = QString::fromUtf8(mosquitto_connack_string(rc));
    const qsizetype colon = text.indexOf(u':');
    if (colon >= 0)
        text = text.mid(colon + 1);
    text = text.trimmed();
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

} // namespace

MqttClient::MqttClient(MqttSettings settings, Log log, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), log_(std::move(log)), backoff_(kFirstRetry)
{
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });

    mosq_ = mosquitto_new(settings_.clientId.toUtf8().constData(), true, this);
    if (mosq_) {
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        // State goes out as several small messages at once: Nagle's algorithm would hold the
        // later ones until the broker's delayed acknowledgement, about 40 ms.
        mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_connect_callback_set(mosq_, &MqttClient::onConnect);
        mosquitto_disconnect_callback_set(mosq_, &MqttClient::onDisconnect);
        mosquitto_message_callback_set(mosq_, &MqttClient::onMessage);
        mosquitto_log_callback_set(mosq_, &MqttClient::onLog);
    }

    miscTimer_.setInterval(kHousekeeping);
    connect(&miscTimer_, &QTimer::timeout, this, [this] {
        const int socket = mosquitto_socket(mosq_);
        if (socket >= 0 && socket != abandonedSocket_)
            afterLoop(mosquitto_loop_misc(mosq_));
    });
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &MqttClient::attempt);
    heldTimer_.setSingleShot(true);
    heldTimer_.setInterval(kHeld);
    connect(&heldTimer_, &QTimer::timeout, this, [this] {
        shortDrops_ = 0;
        if (idTakenOver_ && log_)
            log_(QStringLiteral("connected to the broker at %1 and kept client id \"%2\" for %3 s")
                     .arg(where(), settings_.clientId)
                     .arg(std::chrono::duration_cast<std::chrono::seconds>(kHeld).count()));
        idTakenOver_ = false;
    });
}

MqttClient::~MqttClient()
{
    blockSignals(true); // whoever listens may be half destroyed
    stop();
    if (mosq_)
        mosquitto_destroy(mosq_);
}

void MqttClient::setWill(const QString& topic, const QByteArray& payload, bool retain)
{
    willTopic_ = topic;
    willPayload_ = payload;
    willRetain_ = retain;
}

void MqttClient::start()
{
    if (running_)
        return;
    if (!mosq_) {
        problem(QStringLiteral("cannot create an MQTT client (out of memory?)"));
        return;
    }
    running_ = true;
    miscTimer_.start();
    attempt();
}

void MqttClient::stop()
{
    running_ = false;
    retryTimer_.stop();
    miscTimer_.stop();
    heldTimer_.stop();
    if (mosq_ && mosquitto_socket(mosq_) >= 0)
        afterLoop(mosquitto_disconnect(mosq_));
    if (connected_) {
        connected_ = false;
        emit disconnected();
    }
}

bool MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    if (!connected_)
        return false;
    const QByteArray name = topic.toUtf8();
    const int rc = mosquitto_publish(mosq_, nullptr, name.constData(), int(payload.size()),
                                     payload.constData(), kPublishQos, retain);
    afterLoop(rc);
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const QString& pattern)
{
    if (!connected_)
        return false;
    const int rc = mosquitto_subscribe(mosq_, nullptr, pattern.toUtf8().constData(), kSubscribeQos);
    afterLoop(rc);
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::unsubscribe(const QString& pattern)
{
    if (!connected_)
        return false;
    const int rc = mosquitto_unsubscribe(mosq_, nullptr, pattern.toUtf8().constData());
    afterLoop(rc);
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::configure()
{
    int rc = MOSQ_ERR_SUCCESS;
    if (!settings_.username.isEmpty()) {
        const QByteArray password = settings_.password.toUtf8();
        rc = mosquitto_username_pw_set(mosq_, settings_.username.toUtf8().constData(),
                                       password.isEmpty() ? nullptr : password.constData());
        if (rc != MOSQ_ERR_SUCCESS) {
            problem(QStringLiteral("cannot use the username: %1").arg(reason(rc, errno)) +
                    kRetrying);
            return false;
        }
    }
    if (!settings_.caFile.isEmpty()) {
        const QByteArray ca = settings_.caFile.toLocal8Bit();
        const QByteArray cert = settings_.certFile.toLocal8Bit();
        const QByteArray key = settings_.keyFile.toLocal8Bit();
        rc = mosquitto_tls_set(mosq_, ca.constData(), nullptr,
                               cert.isEmpty() ? nullptr : cert.constData(),
                               key.isEmpty() ? nullptr : key.constData(), nullptr);
        // Never fall back to a plain connection: it would carry the password in clear.
        if (rc != MOSQ_ERR_SUCCESS) {
            problem(QStringLiteral("cannot set up TLS with cafile %1: %2")
                        .arg(settings_.caFile, reason(rc, errno)) +
                    kRetrying);
            return false;
        }
    }
    if (!willTopic_.isEmpty()) {
        rc = mosquitto_will_set(mosq_, willTopic_.toUtf8().constData(), int(willPayload_.size()),
                                willPayload_.constData(), kWillQos, willRetain_);
        if (rc != MOSQ_ERR_SUCCESS) {
            problem(QStringLiteral("cannot set the last will: %1").arg(reason(rc, errno)) +
                    kRetrying);
            return false;
        }
    }
    return true;
}

void MqttClient::attempt()
{
    if (!running_ || connected_)
        return;
    // Connecting again closes an abandoned socket.
    abandonedSocket_ = -1;
    libraryError_.clear();
    if (!configure()) {
        scheduleRetry();
        return;
    }
    afterLoop(mosquitto_connect_async(mosq_, settings_.host.toUtf8().constData(), settings_.port,
                                      kKeepAliveSeconds));
}

void MqttClient::scheduleRetry()
{
    if (!running_)
        return;
    retryTimer_.start(backoff_);
    backoff_ = std::min(backoff_ * 2, kLongestRetry);
}

void MqttClient::onConnect(mosquitto*, void* self, int rc)
{
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0) {
        // The disconnect that follows schedules the retry.
        client->refusal_ = refusalReason(rc);
        client->problem(QStringLiteral("the broker at %1 refused the connection: %2")
                            .arg(client->where(), client->refusal_) +
                        kRetrying);
        return;
    }
    client->connected_ = true;
    client->heldTimer_.start();
    if (client->shortDrops_ == 0)
        client->backoff_ = kFirstRetry;
    client->lastProblem_.clear();
    // While another client takes the id back each time, the one line said it all.
    if (client->log_ && !client->idTakenOver_)
        client->log_(QStringLiteral("connected to the broker at %1").arg(client->where()));
    emit client->connected();
}

void MqttClient::onDisconnect(mosquitto*, void* self, int rc)
{
    // Handled once the library call returns: libmosquitto may log the reason after this.
    auto* client = static_cast<MqttClient*>(self);
    client->disconnect_ = std::pair{rc, errno};
}

void MqttClient::closed(int rc, int savedErrno)
{
    const bool wasConnected = connected_;
    const bool short_ = wasConnected && heldTimer_.isActive();
    connected_ = false;
    resync_ = true;
    heldTimer_.stop();
    if (wasConnected)
        emit disconnected();
    if (!running_)
        return;
    if (short_ && ++shortDrops_ >= kShortDropsForTakeover) {
        if (!idTakenOver_ && log_)
            log_(QStringLiteral("the broker at %1 keeps dropping the connection soon after "
                                "accepting it: another client may have taken client id \"%2\"")
                     .arg(where(), settings_.clientId) +
                 kRetrying);
        idTakenOver_ = true;
    } else if (refusal_.isEmpty()) {
        QString why = rc == MOSQ_ERR_SUCCESS ? QStringLiteral("closed") : reason(rc, savedErrno);
        if (!libraryError_.isEmpty())
            why += QStringLiteral(" (%1)").arg(libraryError_);
        const QString what = wasConnected
                                 ? QStringLiteral("lost the broker at %1: %2")
                                 : QStringLiteral("cannot connect to the broker at %1: %2");
        problem(what.arg(where(), why) + kRetrying);
    }
    refusal_.clear();
    libraryError_.clear();
    scheduleRetry();
}

void MqttClient::afterLoop(int rc)
{
    const int savedErrno = errno;
    // A failed TLS handshake closes the socket without calling the disconnect callback.
    const int socket = mosquitto_socket(mosq_);
    if ((socket < 0 || socket == abandonedSocket_) &&
        (connected_ || (running_ && !retryTimer_.isActive()))) {
        const auto [why, number] = disconnect_.value_or(std::pair{rc, savedErrno});
        closed(why, number);
    }
    disconnect_.reset();
    syncNotifiers();
}

void MqttClient::onLog(mosquitto*, void* self, int level, const char* text)
{
    // Only errors, which say why TLS failed; the library never logs a password.
    if (level == MOSQ_LOG_ERR)
        static_cast<MqttClient*>(self)->libraryError_ = QString::fromUtf8(text);
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* client = static_cast<MqttClient*>(self);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    emit client->messageReceived(QString::fromUtf8(message->topic), payload, message->retain);
}

void MqttClient::abandon()
{
    abandonedSocket_ = mosquitto_socket(mosq_);
    dropNotifiers();
    if (libraryError_.isEmpty())
        libraryError_ = QStringLiteral("closed during the TLS handshake");
    closed(MOSQ_ERR_CONN_LOST, 0);
}

bool MqttClient::hungUp(int socket)
{
    pollfd watched{socket, POLLIN, 0};
    return socket >= 0 && ::poll(&watched, 1, 0) == 1 &&
           (watched.revents & (POLLHUP | POLLERR)) != 0;
}

void MqttClient::syncNotifiers()
{
    int socket = mosquitto_socket(mosq_);
    if (socket == abandonedSocket_)
        socket = -1;
    if (socket != watchedSocket_ || resync_) {
        dropNotifiers();
        resync_ = false;
        if (socket >= 0) {
            watchedSocket_ = socket;
            readNotifier_ = new QSocketNotifier(socket, QSocketNotifier::Read, this);
            connect(readNotifier_, &QSocketNotifier::activated, this, [this] {
                const int rc = mosquitto_loop_read(mosq_, 1);
                if (!connected_ && hungUp(mosquitto_socket(mosq_)))
                    return abandon();
                afterLoop(rc);
            });
            writeNotifier_ = new QSocketNotifier(socket, QSocketNotifier::Write, this);
            connect(writeNotifier_, &QSocketNotifier::activated, this,
                    [this] { afterLoop(mosquitto_loop_write(mosq_, 1)); });
        }
    }
    if (writeNotifier_)
        writeNotifier_->setEnabled(mosquitto_want_write(mosq_));
}

void MqttClient::dropNotifiers()
{
    // Possibly called from the notifier's own signal: let the event loop delete it.
    for (QSocketNotifier** notifier : {&readNotifier_, &writeNotifier_}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    watchedSocket_ = -1;
}

void MqttClient::problem(const QString& text)
{
    if (text == lastProblem_)
        return;
    lastProblem_ = text;
    if (log_)
        log_(text);
}

QString MqttClient::where() const
{
    return QStringLiteral("%1:%2").arg(settings_.host).arg(settings_.port);
}
