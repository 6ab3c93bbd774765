#include "mqttmessages.h"

#include "switcher/routing.h"

#include "switcher/names.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <map>

namespace mqttmessages {

namespace {

const QString kPresetPrefix = QStringLiteral("preset_");

QString outputTopic(const SwitcherConfig& config, int output)
{
    return baseTopic(config) + QStringLiteral("/output/") + outputLetter(output);
}

QString edidTopic(const SwitcherConfig& config)
{
    return baseTopic(config) + QStringLiteral("/edid");
}

QString routesTopic(const SwitcherConfig& config)
{
    return baseTopic(config) + QStringLiteral("/routes");
}

QString presetSetTopic(const SwitcherConfig& config)
{
    return baseTopic(config) + QStringLiteral("/preset/set");
}

QString refreshTopic(const SwitcherConfig& config)
{
    return baseTopic(config) + QStringLiteral("/refresh");
}

QByteArray outputPayload(const SwitcherConfig& config, std::optional<int> input)
{
    return input ? config.inputLabel(*input).toUtf8() : QByteArray();
}

QByteArray edidPayload(std::optional<int> mode)
{
    return mode ? edidCaption(*mode).toUtf8() : QByteArray();
}

QString discoveryTopic(const SwitcherConfig& config, const QString& component,
                       const QString& object)
{
    return QStringLiteral("%1/%2/%3/%4/config")
        .arg(config.mqtt->discoveryPrefix, component, config.id, object);
}

// Lower-case letters, digits and single underscores: what an object id may hold.
QString slug(const QString& name)
{
    static const QRegularExpression others(QStringLiteral("[^a-z0-9]+"));
    QString text = name.toLower();
    text.replace(others, QStringLiteral("_"));
    while (text.startsWith(u'_'))
        text.remove(0, 1);
    while (text.endsWith(u'_'))
        text.chop(1);
    return text;
}

// Derived from the name alone, so a preset keeps its entity across restarts. Names that give
// the same slug ("Movie night", "movie-night") or none at all get a hash of the name added.
std::map<QString, QString> presetObjectIds(const SwitcherConfig& config)
{
    std::map<QString, int> uses;
    for (const Preset& preset : config.presets)
        ++uses[slug(preset.name)];
    std::map<QString, QString> ids;
    for (const Preset& preset : config.presets) {
        QString id = slug(preset.name);
        if (id.isEmpty() || uses[id] > 1) {
            const QByteArray hash =
                QCryptographicHash::hash(preset.name.toUtf8(), QCryptographicHash::Sha1).toHex();
            id += (id.isEmpty() ? QString() : QStringLiteral("_")) +
                  QString::fromLatin1(hash.left(8));
        }
        ids[preset.name] = kPresetPrefix + id;
    }
    return ids;
}

QJsonObject entity(const SwitcherConfig& config, const QString& object, const QString& name)
{
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{QStringLiteral("matrixd_") + config.id}},
        {QStringLiteral("name"), config.name},
        {QStringLiteral("model"), QStringLiteral("4x4 HDMI matrix switcher")},
    };
    return QJsonObject{
        {QStringLiteral("name"), name},
        {QStringLiteral("unique_id"), QStringLiteral("matrixd_%1_%2").arg(config.id, object)},
        {QStringLiteral("device"), device},
        {QStringLiteral("availability_topic"), availabilityTopic(config)},
        {QStringLiteral("payload_available"), QString::fromLatin1(availabilityPayload(true))},
        {QStringLiteral("payload_not_available"), QString::fromLatin1(availabilityPayload(false))},
    };
}

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool oneOf(const QString& text, std::initializer_list<const char*> words)
{
    for (const char* word : words) {
        if (text == QLatin1String(word))
            return true;
    }
    return false;
}

} // namespace

QString baseTopic(const SwitcherConfig& config)
{
    return config.mqtt->topic;
}

QString availabilityTopic(const SwitcherConfig& config)
{
    return baseTopic(config) + QStringLiteral("/availability");
}

QByteArray availabilityPayload(bool online)
{
    return online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline");
}

QByteArray routesPayload(const SwitcherFacts& facts)
{
    return json(routingJson(facts.inputOfOutput));
}

QList<Message> stateMessages(const SwitcherConfig& config, const SwitcherFacts& facts,
                             const SwitcherFacts* before)
{
    QList<Message> messages;
    bool routesChanged = before == nullptr;
    for (int output = 1; output <= kOutputCount; ++output) {
        if (before && before->input(output) == facts.input(output))
            continue;
        routesChanged = true;
        messages.append({outputTopic(config, output), outputPayload(config, facts.input(output))});
    }
    if (!before || before->edidMode != facts.edidMode)
        messages.append({edidTopic(config), edidPayload(facts.edidMode)});
    if (routesChanged)
        messages.append({routesTopic(config), routesPayload(facts)});
    return messages;
}

QList<Message> discoveryMessages(const SwitcherConfig& config)
{
    if (config.mqtt->discoveryPrefix.isEmpty())
        return {};
    QList<Message> messages;

    QJsonArray inputs;
    for (int input = 1; input <= kInputCount; ++input)
        inputs.append(config.inputLabel(input));
    for (int output = 1; output <= kOutputCount; ++output) {
        const QString object = QStringLiteral("output_") + outputLetter(output).toLower();
        QJsonObject select = entity(config, object, config.outputLabel(output));
        select.insert(QStringLiteral("state_topic"), outputTopic(config, output));
        select.insert(QStringLiteral("command_topic"),
                      outputTopic(config, output) + QStringLiteral("/set"));
        select.insert(QStringLiteral("options"), inputs);
        messages.append({discoveryTopic(config, QStringLiteral("select"), object), json(select)});
    }

    QJsonArray captions;
    for (int mode = 0; mode < kEdidModeCount; ++mode)
        captions.append(edidCaption(mode));
    QJsonObject edid = entity(config, QStringLiteral("edid"), QStringLiteral("EDID"));
    edid.insert(QStringLiteral("state_topic"), edidTopic(config));
    edid.insert(QStringLiteral("command_topic"), edidTopic(config) + QStringLiteral("/set"));
    edid.insert(QStringLiteral("options"), captions);
    edid.insert(QStringLiteral("entity_category"), QStringLiteral("config"));
    messages.append(
        {discoveryTopic(config, QStringLiteral("select"), QStringLiteral("edid")), json(edid)});

    const std::map<QString, QString> presetIds = presetObjectIds(config);
    for (const Preset& preset : config.presets) {
        const QString& object = presetIds.at(preset.name);
        QJsonObject button = entity(config, object, preset.name);
        button.insert(QStringLiteral("command_topic"), presetSetTopic(config));
        button.insert(QStringLiteral("payload_press"), preset.name);
        messages.append({discoveryTopic(config, QStringLiteral("button"), object), json(button)});
    }
    // Last of the buttons: its echo tells that the broker has sent every older button config.
    QJsonObject refresh = entity(config, QStringLiteral("refresh"), QStringLiteral("Refresh"));
    refresh.insert(QStringLiteral("command_topic"), refreshTopic(config));
    refresh.insert(QStringLiteral("payload_press"), QStringLiteral("PRESS"));
    messages.append({refreshButtonConfigTopic(config), json(refresh)});

    // The switcher answering or not: its own state, so it needs no availability.
    QJsonObject answering =
        entity(config, QStringLiteral("answering"), QStringLiteral("Answering"));
    for (const char* key : {"availability_topic", "payload_available", "payload_not_available"})
        answering.remove(QLatin1String(key));
    answering.insert(QStringLiteral("state_topic"), availabilityTopic(config));
    answering.insert(QStringLiteral("payload_on"), QString::fromLatin1(availabilityPayload(true)));
    answering.insert(QStringLiteral("payload_off"),
                     QString::fromLatin1(availabilityPayload(false)));
    answering.insert(QStringLiteral("device_class"), QStringLiteral("connectivity"));
    answering.insert(QStringLiteral("entity_category"), QStringLiteral("diagnostic"));
    messages.append(
        {discoveryTopic(config, QStringLiteral("binary_sensor"), QStringLiteral("answering")),
         json(answering)});
    return messages;
}

QString discoveryButtonPattern(const SwitcherConfig& config)
{
    return discoveryTopic(config, QStringLiteral("button"), QStringLiteral("+"));
}

QString refreshButtonConfigTopic(const SwitcherConfig& config)
{
    return discoveryTopic(config, QStringLiteral("button"), QStringLiteral("refresh"));
}

bool isStalePresetConfig(const SwitcherConfig& config, const QString& topic)
{
    const QString pattern = discoveryButtonPattern(config);
    const qsizetype wildcard = pattern.indexOf(u'+');
    const QString head = pattern.left(wildcard);
    const QString tail = pattern.mid(wildcard + 1);
    if (!topic.startsWith(head) || !topic.endsWith(tail))
        return false;
    const QString object = topic.mid(head.size(), topic.size() - head.size() - tail.size());
    if (!object.startsWith(kPresetPrefix) || object.contains(u'/'))
        return false;
    for (const auto& [name, id] : presetObjectIds(config)) {
        if (id == object)
            return false;
    }
    return true;
}

QStringList commandPatterns(const SwitcherConfig& config)
{
    const QString base = baseTopic(config);
    return {base + QStringLiteral("/output/+/set"), edidTopic(config) + QStringLiteral("/set"),
            presetSetTopic(config), refreshTopic(config)};
}

QString Command::describe(const SwitcherConfig& config) const
{
    switch (kind) {
    case Kind::Route:
        return QStringLiteral("route %1 (%2) to %3")
            .arg(outputLetter(output), config.outputLabel(output), config.inputLabel(input));
    case Kind::EdidMode:
        return QStringLiteral("EDID mode %1 (%2)").arg(mode).arg(edidCaption(mode));
    case Kind::Preset:
        return QStringLiteral("preset %1").arg(preset);
    case Kind::Refresh:
        break;
    }
    return QStringLiteral("refresh");
}

QString quoted(const QByteArray& payload)
{
    constexpr qsizetype kShown = 64;
    QString text = QString::fromUtf8(payload.left(kShown));
    for (QChar& c : text) {
        if (!c.isPrint())
            c = u'?';
    }
    return u'"' + text + (payload.size() > kShown ? QStringLiteral("...\"") : QStringLiteral("\""));
}

std::optional<std::variant<Command, Rejection>>
parseCommand(const SwitcherConfig& config, const QString& topic, const QByteArray& payload)
{
    const QString prefix = baseTopic(config) + u'/';
    if (!topic.startsWith(prefix))
        return std::nullopt;
    const QStringList parts = topic.mid(prefix.size()).split(u'/');

    std::optional<int> output;
    if (parts.size() == 3 && parts[0] == u"output" && parts[2] == u"set") {
        output = outputForLetter(parts[1]);
        if (!output)
            return Rejection{QStringLiteral("%1: no output %2 (A to D)").arg(topic, parts[1])};
    } else if (!(parts.size() == 2 && oneOf(parts.join(u'/'), {"edid/set", "preset/set"})) &&
               !(parts.size() == 1 && parts[0] == u"refresh")) {
        return std::nullopt;
    }

    if (payload.size() > kMaxCommandPayload) {
        return Rejection{QStringLiteral("%1: ignored a payload of %2 bytes (at most %3)")
                             .arg(topic)
                             .arg(payload.size())
                             .arg(kMaxCommandPayload)};
    }
    const QString text = QString::fromUtf8(payload).trimmed();

    Command command;
    if (output) {
        const std::optional<int> input = config.inputNamed(text);
        if (!input)
            return Rejection{QStringLiteral("%1: no input named %2").arg(topic, quoted(payload))};
        command.kind = Command::Kind::Route;
        command.output = *output;
        command.input = *input;
    } else if (parts[0] == u"edid") {
        const std::optional<int> mode = edidModeNamed(text);
        if (!mode)
            return Rejection{
                QStringLiteral("%1: no EDID mode named %2").arg(topic, quoted(payload))};
        command.kind = Command::Kind::EdidMode;
        command.mode = *mode;
    } else if (parts[0] == u"preset") {
        const Preset* preset = config.presetNamed(text);
        if (!preset)
            return Rejection{QStringLiteral("%1: no preset named %2").arg(topic, quoted(payload))};
        command.kind = Command::Kind::Preset;
        command.preset = preset->name;
    } else {
        command.kind = Command::Kind::Refresh;
    }
    return command;
}

} // namespace mqttmessages
