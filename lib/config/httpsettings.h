#pragma once

#include <QString>

#include <optional>

// matrixd's web page and HTTP API as configured in [http] or by --http. Off unless given; a
// listener anyone on the network may reach needs a password.

inline constexpr int kDefaultHttpPort = 8080;
inline constexpr int kDefaultHttpMaxClients = 64;

struct HttpListen {
    QString host; // an address, "localhost", or "*" for every address
    int port = kDefaultHttpPort;
};

struct HttpSettings {
    HttpListen listen{QStringLiteral("127.0.0.1"), kDefaultHttpPort};
    QString passwordFile;
    QString password; // read from passwordFile by completeHttpSettings()
    QString certificate; // PEM; HTTPS when set, with key
    QString key;
    int maxClients = kDefaultHttpMaxClients;
    int sectionLine = 0; // where [http], its listen and password_file keys are, for errors; 0 when
    int listenLine = 0;  // not in a file
    int passwordFileLine = 0;

    bool isLoopbackOnly() const;
    bool isHttps() const { return !certificate.isEmpty(); }
};

// HOST[:PORT] with IPv6 addresses in brackets: "0.0.0.0", "[::1]:8080", "*:80", "localhost".
std::optional<HttpListen> parseHttpListen(const QString& text);

// Takes one key of [http]; what is wrong with it, or empty.
QString readHttpKey(HttpSettings& http, const QString& key, const QString& value, int line);

// Checks what depends on several keys and reads the password file. `file` names the
// configuration file for the error's place, empty when there is none.
std::optional<QString> completeHttpSettings(HttpSettings& http, const QString& file);

// The section as INI text, the password never shown.
QString describeHttpSettings(const HttpSettings& http);
