#include "httpsettings.h"

#include "switcher/names.h"

#include <QHostAddress>
#include <QRegularExpression>

#ifdef Q_OS_WIN
#include <QFile>
#include <QFileInfo>
#else
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int kMaxClientsLimit = 4096;
constexpr qint64 kMaxPasswordBytes = 4096;

// The first line of a regular file, read without blocking: a FIFO or a device given by mistake
// must not hang the start.
std::optional<QString> readPasswordFile(const QString& path, QString& why)
{
#ifdef Q_OS_WIN
    // No FIFOs to hang on here; a device name is not a file.
    if (!QFileInfo(path).isFile()) {
        why = QStringLiteral("not a regular file");
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return std::nullopt;
    }
    const QByteArray bytes = file.read(kMaxPasswordBytes);
#else
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        why = QStringLiteral("not a regular file");
        return std::nullopt;
    }
    QByteArray bytes(kMaxPasswordBytes, Qt::Uninitialized);
    const ssize_t got = ::read(fd, bytes.data(), std::size_t(bytes.size()));
    ::close(fd);
    if (got < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    bytes.truncate(got);
#endif
    return QString::fromUtf8(bytes.left(bytes.indexOf('\n'))).trimmed();
}

QString listenText(const HttpListen& listen)
{
    const QString host = listen.host.contains(u':') ? u'[' + listen.host + u']' : listen.host;
    return QStringLiteral("%1:%2").arg(host).arg(listen.port);
}

} // namespace

bool HttpSettings::isLoopbackOnly() const
{
    if (listen.host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(listen.host);
    return !address.isNull() && address.isLoopback();
}

std::optional<HttpListen> parseHttpListen(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([^\\s:\\[\\]]+))(?::([0-9]{1,5}))?$"));
    const auto match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    HttpListen listen;
    listen.host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    if (!match.captured(3).isEmpty()) {
        const auto port = wholeNumberIn(match.captured(3), 1, 65535);
        if (!port)
            return std::nullopt;
        listen.port = *port;
    }
    const bool named = listen.host == u"*" ||
                       listen.host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0;
    if (!named && QHostAddress(listen.host).isNull())
        return std::nullopt;
    return listen;
}

QString readHttpKey(HttpSettings& http, const QString& key, const QString& value, int line)
{
    if (key == u"listen") {
        const auto listen = parseHttpListen(value);
        if (!listen)
            return QStringLiteral("listen is HOST[:PORT] with an IP address, localhost or *, "
                                  "not \"%1\"")
                .arg(value);
        http.listen = *listen;
        http.listenLine = line;
    } else if (key == u"password_file") {
        if (value.isEmpty())
            return QStringLiteral("password_file is a path");
        http.passwordFile = value;
    } else if (key == u"certificate" || key == u"key") {
        if (value.isEmpty())
            return QStringLiteral("%1 is the path of a PEM file").arg(key);
        (key == u"key" ? http.key : http.certificate) = value;
    } else if (key == u"max_clients") {
        const auto most = wholeNumberIn(value, 1, kMaxClientsLimit);
        if (!most)
            return QStringLiteral("max_clients is 1 to %1, not \"%2\"").arg(kMaxClientsLimit).arg(value);
        http.maxClients = *most;
    } else {
        return QStringLiteral("unknown key %1 in [http]").arg(key);
    }
    return {};
}

std::optional<QString> completeHttpSettings(HttpSettings& http, const QString& file)
{
    auto at = [&file](int line) {
        if (file.isEmpty())
            return QString();
        return line > 0 ? QStringLiteral("%1:%2: ").arg(file).arg(line) : file + QStringLiteral(": ");
    };
    if (http.certificate.isEmpty() != http.key.isEmpty())
        return at(http.sectionLine) + QStringLiteral("[http] certificate and key go together");
    if (http.passwordFile.isEmpty()) {
        if (!http.isLoopbackOnly())
            return at(http.listenLine ? http.listenLine : http.sectionLine) +
                   QStringLiteral("[http] listen %1 reaches the network: give password_file, or "
                                  "listen on 127.0.0.1")
                       .arg(listenText(http.listen));
        return std::nullopt;
    }
    QString why;
    const auto password = readPasswordFile(http.passwordFile, why);
    if (!password)
        return at(http.sectionLine) +
               QStringLiteral("cannot read password_file %1: %2").arg(http.passwordFile, why);
    if (password->isEmpty())
        return at(http.sectionLine) +
               QStringLiteral("password_file %1 holds no password").arg(http.passwordFile);
    http.password = *password;
    return std::nullopt;
}

QString describeHttpSettings(const HttpSettings& http)
{
    QString text = QStringLiteral("[http]\nlisten = %1\n").arg(listenText(http.listen));
    if (!http.passwordFile.isEmpty())
        text += QStringLiteral("password_file = %1\n# (the password it holds is not shown)\n")
                    .arg(http.passwordFile);
    if (http.isHttps())
        text += QStringLiteral("certificate = %1\nkey = %2\n").arg(http.certificate, http.key);
    text += QStringLiteral("max_clients = %1\n").arg(http.maxClients);
    return text;
}
