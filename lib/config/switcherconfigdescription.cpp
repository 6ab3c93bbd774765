#include "switcherconfigdescription.h"

#include "config/valueparsers.h"

QString describeSwitcherConfig(const SwitcherConfig& config)
{
    QString text;
    auto line = [&text](const QString& key, const QString& value) {
        text += QStringLiteral("%1 = %2\n").arg(key, value);
    };
    if (!config.file.isEmpty())
        text += QStringLiteral("# from %1\n").arg(config.file);
    text += QStringLiteral("[switcher]\n");
    line(QStringLiteral("id"), config.id);
    line(QStringLiteral("name"), config.name);
    line(QStringLiteral("port"), config.port);
    line(QStringLiteral("poll"), pollSecondsText(config.poll));
    line(QStringLiteral("timeout"), QString::number(config.timeout.count()));
    for (const QString& share : config.shares)
        line(QStringLiteral("share"), share);
    if (!config.shareGroup.isEmpty())
        line(QStringLiteral("share_group"), config.shareGroup);
    text += QStringLiteral("[inputs]\n");
    for (int input = 1; input <= kInputCount; ++input)
        line(QString::number(input), config.inputLabel(input));
    text += QStringLiteral("[outputs]\n");
    for (int output = 1; output <= kOutputCount; ++output)
        line(outputLetter(output), config.outputLabel(output));
    for (const Preset& preset : config.presets) {
        text += QStringLiteral("[preset %1]\n").arg(preset.name);
        for (int output = 1; output <= kOutputCount; ++output) {
            if (const auto input = preset.inputOfOutput.at(std::size_t(output - 1)))
                line(outputLetter(output), QString::number(*input));
        }
    }
    if (config.mqtt) {
        const MqttSettings& mqtt = *config.mqtt;
        text += QStringLiteral("[mqtt]\n");
        line(QStringLiteral("host"), mqtt.host);
        line(QStringLiteral("port"), QString::number(mqtt.port));
        if (!mqtt.username.isEmpty())
            line(QStringLiteral("username"), mqtt.username);
        if (!mqtt.passwordFile.isEmpty())
            line(QStringLiteral("password_file"), mqtt.passwordFile);
        else if (!mqtt.password.isEmpty())
            line(QStringLiteral("password"), QStringLiteral("(set)"));
        for (const auto& [key, value] : {std::pair{QStringLiteral("cafile"), mqtt.caFile},
                                         std::pair{QStringLiteral("certfile"), mqtt.certFile},
                                         std::pair{QStringLiteral("keyfile"), mqtt.keyFile}}) {
            if (!value.isEmpty())
                line(key, value);
        }
        line(QStringLiteral("client_id"), mqtt.clientId);
        line(QStringLiteral("topic"), mqtt.topic);
        line(QStringLiteral("discovery"), mqtt.discoveryPrefix);
    }
    if (config.videohub)
        text += describeVideohubSettings(*config.videohub);
    if (config.http)
        text += describeHttpSettings(*config.http);
    return text;
}
