#include "httpsurface.h"

#include "apiserver.h"
#include "config/regularfile.h"
#include "eventshub.h"
#include "httplistener.h"
#include "sessionauth.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QWebSocket>

#include <sys/stat.h>

namespace {

QByteArray pemOf(const QString& path, QString& error)
{
    QString why;
    auto pem = readRegularFile(path, kMaxPemFileBytes, why);
    if (!pem) {
        error = QStringLiteral("cannot read %1: %2").arg(path, why);
        return {};
    }
    return *pem;
}

} // namespace

HttpSurface::HttpSurface(const SwitcherConfig& config, SwitcherState& state,
                         SwitcherCommands& commands, Log log, QObject* parent)
    : QObject(parent), config_(config), log_(std::move(log))
{
    limits_.maxClients = config_.http->maxClients;
    auth_ = std::make_unique<SessionAuth>(config_.http->password, limits_);
    server_ = std::make_unique<ApiServer>(config_, state, commands, *auth_, log_);
    events_ = std::make_unique<EventsHub>(
        config_, state, limits_,
        [this](const QWebSocket& client) {
            return listener_ ? listener_->connectionFrom(client.peerAddress(), client.peerPort())
                             : nullptr;
        },
        [this](const QString& text) { this->log(text); });
    connect(server_.get(), &QAbstractHttpServer::newWebSocketConnection, this,
            &HttpSurface::takeWebSockets);
}

HttpSurface::~HttpSurface()
{
    stop();
}

bool HttpSurface::start(QString& error)
{
    const HttpSettings& http = *config_.http;
    std::optional<QSslConfiguration> tls;
    if (http.isHttps()) {
        const QByteArray certificatePem = pemOf(http.certificate, error);
        const QByteArray keyPem = error.isEmpty() ? pemOf(http.key, error) : QByteArray();
        if (!error.isEmpty())
            return false;
        const QList<QSslCertificate> chain = QSslCertificate::fromData(certificatePem, QSsl::Pem);
        QSslKey key(keyPem, QSsl::Rsa, QSsl::Pem);
        if (key.isNull())
            key = QSslKey(keyPem, QSsl::Ec, QSsl::Pem);
        if (chain.isEmpty() || key.isNull()) {
            error = chain.isEmpty() ? QStringLiteral("%1 holds no PEM certificate").arg(http.certificate)
                                    : QStringLiteral("%1 holds no PEM private key (RSA or EC, "
                                                     "not encrypted)")
                                          .arg(http.key);
            return false;
        }
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificateChain(chain);
        configuration.setPrivateKey(key);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls = configuration;
    }
    warnIfPasswordReadable();
    auto listener = std::make_unique<HttpListener>(limits_, tls,
                                                   [this](const QString& text) { log(text); });
    if (!listener->listen(http.listen.hostAddress(), quint16(http.listen.port))) {
        error = QStringLiteral("cannot serve HTTP on %1: %2")
                    .arg(http.listen.text(), listener->errorString());
        return false;
    }
    listener_ = listener.release();
    server_->bind(listener_);
    const QString host = http.listen.isIpv6 ? u'[' + http.listen.host + u']' : http.listen.host;
    log(QStringLiteral("serving on %1://%2:%3/%4")
            .arg(http.isHttps() ? QStringLiteral("https") : QStringLiteral("http"), host)
            .arg(listener_->serverPort())
            .arg(auth_->isRequired() ? QStringLiteral(" (password required)") : QString()));
    return true;
}

void HttpSurface::stop()
{
    if (events_)
        events_->closeAll();
    if (listener_)
        listener_->close();
}

quint16 HttpSurface::port() const
{
    return listener_ ? listener_->serverPort() : 0;
}

void HttpSurface::takeWebSockets()
{
    // Let in by the server already: path, origin and password were checked before the upgrade.
    while (server_->hasPendingWebSocketConnections()) {
        if (std::unique_ptr<QWebSocket> client = server_->nextPendingWebSocketConnection())
            events_->add(std::move(client));
    }
}

void HttpSurface::warnIfPasswordReadable() const
{
    const QString& file = config_.http->passwordFile;
    struct stat info {};
    if (file.isEmpty() || ::stat(file.toLocal8Bit().constData(), &info) != 0)
        return;
    // Group access is how the service's own user may be let in; anyone at all is too many.
    if ((info.st_mode & S_IROTH) != 0)
        log(QStringLiteral("%1 holds the web password and others may read it (chmod 600 it)")
                .arg(file));
}

void HttpSurface::log(const QString& text) const
{
    if (log_)
        log_(QStringLiteral("http: ") + text);
}
