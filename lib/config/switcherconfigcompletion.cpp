#include "switcherconfigcompletion.h"

#include <QFile>

std::optional<ConfigError> completeSwitcherConfig(SwitcherConfig& config)
{
    const QString where = config.file.isEmpty() ? QString() : config.file + QStringLiteral(": ");
    if (config.port.isEmpty())
        return ConfigError{where + QStringLiteral("no port: give [switcher] port or --port")};
    if (config.videohub) {
        const VideohubSettings& videohub = *config.videohub;
        const int line = videohub.listenLine > 0 ? videohub.listenLine : videohub.sectionLine;
        if (const QString problem = videohubSettingsProblem(videohub); !problem.isEmpty())
            return ConfigError{(config.file.isEmpty() || line == 0
                                    ? where
                                    : QStringLiteral("%1:%2: ").arg(config.file).arg(line)) +
                               problem};
    }
    if (config.http) {
        if (auto error = completeHttpSettings(*config.http, config.file))
            return ConfigError{*error};
    }
    if (!config.mqtt)
        return std::nullopt;
    MqttSettings& mqtt = *config.mqtt;
    if (mqtt.host.isEmpty())
        return ConfigError{where + QStringLiteral("[mqtt] needs a host")};
    if (mqtt.certFile.isEmpty() != mqtt.keyFile.isEmpty())
        return ConfigError{where + QStringLiteral("[mqtt] certfile and keyfile go together")};
    if (!mqtt.certFile.isEmpty() && mqtt.caFile.isEmpty())
        return ConfigError{where + QStringLiteral("[mqtt] certfile needs cafile")};
    if (mqtt.clientId.isEmpty())
        mqtt.clientId = QStringLiteral("matrixd-") + config.id;
    if (mqtt.topic.isEmpty())
        mqtt.topic = QStringLiteral("matrix/") + config.id;
    if (!mqtt.passwordFile.isEmpty()) {
        QFile file(mqtt.passwordFile);
        if (!file.open(QIODevice::ReadOnly))
            return ConfigError{where + QStringLiteral("cannot read password_file %1: %2")
                                           .arg(mqtt.passwordFile, file.errorString())};
        mqtt.password = QString::fromUtf8(file.readLine(4096)).trimmed();
    }
    return std::nullopt;
}
