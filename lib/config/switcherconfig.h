#pragma once

#include "config/httpsettings.h"
#include "switcher/commandframe.h"
#include "serial/portnames.h"
#include "switcher/names.h"
#include "switcher/wire.h"
#include "config/videohubsettings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <optional>
#include <variant>

// One switcher's configuration, read once from an INI file (or the command line) and then never
// changed: its line, its virtual ports, names of inputs and outputs, presets and the broker.
// matrixd and matrixctl read the same file (switcherconfigreader.h), settle what depends on
// several keys (switcherconfigcompletion.h) and print it back (switcherconfigdescription.h).

inline constexpr int kDefaultMqttPort = 1883;
inline constexpr int kDefaultMqttTlsPort = 8883;

struct Preset {
    QString name;
    // The input (1..4) each output (1..4) takes; nothing for outputs the preset leaves alone.
    std::array<std::optional<int>, kOutputCount> inputOfOutput{};
};

struct MqttSettings {
    QString host;
    int port = kDefaultMqttPort;
    QString username;
    QString password;     // from `password`, or read from `password_file`
    QString passwordFile; // where the password came from, for the readable-by-others warning
    QString caFile;       // TLS when set
    QString certFile;
    QString keyFile;
    QString clientId; // default matrixd-<id>
    QString topic;    // default matrix/<id>
    QString discoveryPrefix = QStringLiteral("homeassistant"); // empty: no discovery
    int sectionLine = 0; // where [mqtt] and its password_file are, for errors; 0: not in a file
    int passwordFileLine = 0;
};

struct SwitcherConfig {
    QString file;                              // empty when given on the command line
    int switcherLine = 0;                      // where [switcher] is, for errors; 0: nowhere
    QString id = QStringLiteral("matrix");     // stable: topics and unique ids derive from it
    QString name = QStringLiteral("HDMI matrix");
    QString port;                              // COM<n> or a device path
    std::chrono::milliseconds poll = wire::kDefaultPoll; // 0: never
    std::chrono::milliseconds timeout = wire::kDefaultCommandTimeout;
    QStringList shares;                        // paths where virtual ports are linked
    QList<int> shareLines;                     // each share's line in the file, for errors
    QString shareGroup;                        // empty: shares are 0600
    int shareGroupLine = 0;
    std::array<QString, kInputCount> inputNames{};   // empty: unnamed
    std::array<QString, kOutputCount> outputNames{}; // empty: unnamed
    QList<Preset> presets;
    std::optional<MqttSettings> mqtt;
    std::optional<VideohubSettings> videohub;
    std::optional<HttpSettings> http;

    // "Blu-ray", or "Input 3" when unnamed.
    QString inputLabel(int input) const;
    // "Projector", or "Output B" when unnamed.
    QString outputLabel(int output) const;
    // 1..4 for a name (any case) or the digit; nothing otherwise.
    std::optional<int> inputNamed(const QString& text) const;
    // 1..4 for a name (any case), a letter A..D or the digit; nothing otherwise.
    std::optional<int> outputNamed(const QString& text) const;
    const Preset* presetNamed(const QString& text) const;
};

struct ConfigError {
    QString text; // "FILE:LINE: what is wrong", or "what is wrong" without a file
};
