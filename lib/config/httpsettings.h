#pragma once

#include "config/listenaddress.h"

#include <QString>

#include <optional>

// matrixd's web page and HTTP API as configured in [http] or by --http. Off unless given; a
// listener anyone on the network may reach needs a password.

inline constexpr int kDefaultHttpPort = 8080;
inline constexpr int kDefaultHttpMaxClients = 64;

struct HttpSettings {
    ListenAddress listen{QStringLiteral("127.0.0.1"), kDefaultHttpPort};
    QString passwordFile;
    QString password; // read from passwordFile by completeHttpSettings()
    QString certificate; // PEM; HTTPS when set, with key
    QString key;
    int maxClients = kDefaultHttpMaxClients;
    int sectionLine = 0; // where [http], its listen and password_file keys are, for errors; 0 when
    int listenLine = 0;  // not in a file
    int passwordFileLine = 0;

    bool isHttps() const { return !certificate.isEmpty(); }
};

// Takes one key of [http]; what is wrong with it, or empty.
QString readHttpKey(HttpSettings& http, const QString& key, const QString& value, int line);

// Checks what depends on several keys and reads the password file. `file` names the
// configuration file for the error's place, empty when there is none.
std::optional<QString> completeHttpSettings(HttpSettings& http, const QString& file);

// The section as INI text, the password never shown.
QString describeHttpSettings(const HttpSettings& http);
