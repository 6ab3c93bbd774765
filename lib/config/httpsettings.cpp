#include "httpsettings.h"

#include "config/configplace.h"
#include "config/regularfile.h"
#include "switcher/names.h"


namespace {

constexpr int kMaxClientsLimit = 4096;

} // namespace

QString readHttpKey(HttpSettings& http, const QString& key, const QString& value, int line)
{
    if (key == u"listen") {
        const auto listen = parseListenAddress(value, kDefaultHttpPort);
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
        http.passwordFileLine = line;
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
    const auto at = [&file](int line) { return configPlace(file, line); };
    if (http.certificate.isEmpty() != http.key.isEmpty())
        return at(http.sectionLine) + QStringLiteral("[http] certificate and key go together");
    for (const auto& [key, path] : {std::pair{QStringLiteral("certificate"), http.certificate},
                                    std::pair{QStringLiteral("key"), http.key}}) {
        if (path.isEmpty())
            continue;
        if (const QString why = regularFileProblem(path, kMaxPemFileBytes); !why.isEmpty())
            return at(http.sectionLine) +
                   QStringLiteral("cannot read %1 %2: %3").arg(key, path, why);
    }
    if (http.passwordFile.isEmpty()) {
        if (!http.listen.isLoopback())
            return at(http.listenLine ? http.listenLine : http.sectionLine) +
                   QStringLiteral("[http] listen %1 reaches the network: give password_file, or "
                                  "listen on 127.0.0.1")
                       .arg(http.listen.text());
        return std::nullopt;
    }
    QString why;
    const auto password = readPasswordFile(http.passwordFile, why);
    const int line = http.passwordFileLine ? http.passwordFileLine : http.sectionLine;
    if (!password)
        return at(line) +
               QStringLiteral("cannot read password_file %1: %2").arg(http.passwordFile, why);
    if (password->isEmpty())
        return at(line) +
               QStringLiteral("password_file %1 holds no password").arg(http.passwordFile);
    http.password = *password;
    return std::nullopt;
}

QString describeHttpSettings(const HttpSettings& http)
{
    QString text = QStringLiteral("[http]\nlisten = %1\n").arg(http.listen.text());
    if (!http.passwordFile.isEmpty())
        text += QStringLiteral("password_file = %1\n# (the password it holds is not shown)\n")
                    .arg(http.passwordFile);
    if (http.isHttps())
        text += QStringLiteral("certificate = %1\nkey = %2\n").arg(http.certificate, http.key);
    text += QStringLiteral("max_clients = %1\n").arg(http.maxClients);
    return text;
}
