#include "switcherconfigcompletion.h"

#include "config/configplace.h"
#include "config/regularfile.h"

std::optional<ConfigError> completeSwitcherConfig(SwitcherConfig& config)
{
    const auto at = [&config](int line) { return configPlace(config.file, line); };
    if (config.port.isEmpty())
        return ConfigError{at(config.switcherLine) +
                           QStringLiteral("no port: give [switcher] port or --port")};
    if (config.videohub) {
        const VideohubSettings& videohub = *config.videohub;
        const int line = videohub.listenLine > 0 ? videohub.listenLine : videohub.sectionLine;
        if (const QString problem = videohubSettingsProblem(videohub); !problem.isEmpty())
            return ConfigError{at(line) + problem};
    }
    if (config.http) {
        if (auto error = completeHttpSettings(*config.http, config.file))
            return ConfigError{*error};
    }
    if (!config.mqtt)
        return std::nullopt;
    MqttSettings& mqtt = *config.mqtt;
    if (mqtt.host.isEmpty())
        return ConfigError{at(mqtt.sectionLine) + QStringLiteral("[mqtt] needs a host")};
    if (mqtt.certFile.isEmpty() != mqtt.keyFile.isEmpty())
        return ConfigError{at(mqtt.sectionLine) +
                           QStringLiteral("[mqtt] certfile and keyfile go together")};
    if (!mqtt.certFile.isEmpty() && mqtt.caFile.isEmpty())
        return ConfigError{at(mqtt.sectionLine) + QStringLiteral("[mqtt] certfile needs cafile")};
    // The broker library opens these later, blocking: a FIFO would hang the start. A missing
    // file stays the broker connection's own fault, logged and retried.
    for (const auto& [key, path] : {std::pair{QStringLiteral("cafile"), mqtt.caFile},
                                    std::pair{QStringLiteral("certfile"), mqtt.certFile},
                                    std::pair{QStringLiteral("keyfile"), mqtt.keyFile}}) {
        if (path.isEmpty())
            continue;
        if (const QString why = nonRegularFileProblem(path); !why.isEmpty())
            return ConfigError{at(mqtt.sectionLine) +
                               QStringLiteral("cannot read %1 %2: %3").arg(key, path, why)};
    }
    if (mqtt.clientId.isEmpty())
        mqtt.clientId = QStringLiteral("matrixd-") + config.id;
    if (mqtt.topic.isEmpty())
        mqtt.topic = QStringLiteral("matrix/") + config.id;
    if (!mqtt.passwordFile.isEmpty()) {
        QString why;
        const auto password = readPasswordFile(mqtt.passwordFile, why);
        if (!password)
            return ConfigError{
                at(mqtt.passwordFileLine ? mqtt.passwordFileLine : mqtt.sectionLine) +
                QStringLiteral("cannot read password_file %1: %2").arg(mqtt.passwordFile, why)};
        mqtt.password = *password;
    }
    return std::nullopt;
}
