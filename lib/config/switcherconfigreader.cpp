#include "switcherconfigreader.h"

#include "config/inireader.h"
#include "config/namerules.h"
#include "config/regularfile.h"
#include "config/valueparsers.h"
#include "serial/portnames.h"
#include "switcher/names.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <set>

namespace {

const QString kSwitcherSection = QStringLiteral("switcher");
const QString kInputsSection = QStringLiteral("inputs");
const QString kOutputsSection = QStringLiteral("outputs");
const QString kMqttSection = QStringLiteral("mqtt");
const QString kVideohubSection = QStringLiteral("videohub");
const QString kHttpSection = QStringLiteral("http");
const QString kPresetPrefix = QStringLiteral("preset ");

constexpr int kMaxTimeoutMs = 60'000;

class SwitcherConfigReader {
public:
    explicit SwitcherConfigReader(QString fileName) : fileName_(std::move(fileName)) {}

    std::variant<SwitcherConfig, ConfigError> read(const QByteArray& text)
    {
        if (!fileName_.isEmpty()) {
            config_.file = fileName_;
            // matrixd@NAME reads NAME.conf: NAME is the switcher's id unless the file says else.
            const QString base = QFileInfo(fileName_).completeBaseName().toLower();
            static const QRegularExpression idChars(QStringLiteral("[^a-z0-9_-]"));
            QString id = base;
            id.replace(idChars, QStringLiteral("_"));
            if (!id.isEmpty())
                config_.id = id;
        }
        IniReader ini(text);
        while (error_.isEmpty()) {
            const auto entry = ini.next();
            if (!entry) {
                line_ = ini.line();
                fail(ini.error());
                break;
            }
            line_ = entry->line;
            if (entry->isHeader)
                openSection(entry->section);
            else
                readKey(entry->key, entry->value);
        }
        if (error_.isEmpty())
            resolveNames();
        if (config_.mqtt && !mqttPortGiven_ && !config_.mqtt->caFile.isEmpty())
            config_.mqtt->port = kDefaultMqttTlsPort;
        if (!error_.isEmpty())
            return ConfigError{error_};
        return config_;
    }

private:
    void fail(const QString& what)
    {
        if (error_.isEmpty() && !what.isEmpty())
            error_ = QStringLiteral("%1:%2: %3").arg(fileName_).arg(line_).arg(what);
    }

    void readKey(const QString& key, const QString& value)
    {
        // `share` may be given once per virtual port; every other key once.
        if (key != u"share" && !keysSeen_.insert(key.toLower()).second)
            return fail(QStringLiteral("%1 is given twice in [%2]").arg(key, section_));
        if (section_ == kSwitcherSection)
            readSwitcherKey(key, value);
        else if (section_ == kInputsSection)
            readInputName(key, value);
        else if (section_ == kOutputsSection)
            readOutputName(key, value);
        else if (section_ == kMqttSection)
            readMqttKey(key, value);
        else if (section_ == kVideohubSection)
            fail(readVideohubKey(*config_.videohub, key, value, line_));
        else if (section_ == kHttpSection)
            fail(readHttpKey(*config_.http, key, value, line_));
        else
            readPresetKey(key, value);
    }

    void openSection(const QString& name)
    {
        keysSeen_.clear();
        const QString lower = name.toLower();
        if (!sectionsSeen_.insert(lower).second)
            return fail(QStringLiteral("section [%1] is given twice").arg(name));
        if (lower == kSwitcherSection)
            config_.switcherLine = line_;
        if (lower == kSwitcherSection || lower == kInputsSection || lower == kOutputsSection) {
            section_ = lower;
            return;
        }
        if (lower == kMqttSection) {
            section_ = lower;
            config_.mqtt = MqttSettings{};
            config_.mqtt->sectionLine = line_;
            mqttPortGiven_ = false;
            return;
        }
        if (lower == kVideohubSection) {
            section_ = lower;
            config_.videohub = VideohubSettings{};
            config_.videohub->sectionLine = line_;
            return;
        }
        if (lower == kHttpSection) {
            section_ = lower;
            config_.http = HttpSettings{};
            config_.http->sectionLine = line_;
            return;
        }
        if (lower.startsWith(kPresetPrefix)) {
            const QString presetName = name.mid(kPresetPrefix.size()).trimmed();
            if (const QString problem = nameProblem(presetName); !problem.isEmpty())
                return fail(problem);
            section_ = kPresetPrefix;
            config_.presets.append(Preset{presetName, {}});
            presetLines_.append(line_);
            return;
        }
        fail(QStringLiteral("unknown section [%1]; known: [switcher], [inputs], [outputs], "
                            "[preset NAME], [mqtt], [videohub], [http]")
                 .arg(name));
    }

    void readSwitcherKey(const QString& key, const QString& value)
    {
        if (key == u"port") {
            if (!parsePortName(value))
                return fail(QStringLiteral("port is COM1 to COM10 or a device path, not \"%1\"")
                                .arg(value));
            config_.port = value;
        } else if (key == u"poll") {
            const auto poll = parsePollSeconds(value);
            if (!poll)
                return fail(QStringLiteral("poll is 0 to %1 seconds, not \"%2\"")
                                .arg(kMaxPollSeconds)
                                .arg(value));
            config_.poll = *poll;
        } else if (key == u"timeout") {
            const auto ms = wholeNumberIn(value, 1, kMaxTimeoutMs);
            if (!ms)
                return fail(QStringLiteral("timeout is 1 to %1 ms, not \"%2\"")
                                .arg(kMaxTimeoutMs)
                                .arg(value));
            config_.timeout = std::chrono::milliseconds{*ms};
        } else if (key == u"share") {
            if (value.isEmpty())
                return fail(QStringLiteral("share is a path"));
            if (config_.shares.contains(value))
                return fail(QStringLiteral("share %1 is given twice").arg(value));
            config_.shares.append(value);
            config_.shareLines.append(line_);
        } else if (key == u"share_group") {
            config_.shareGroup = value;
            config_.shareGroupLine = line_;
        } else if (key == u"id") {
            static const QRegularExpression idPattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
            if (!idPattern.match(value).hasMatch())
                return fail(QStringLiteral("id is 1 to 64 letters, digits, _ or -"));
            config_.id = value;
        } else if (key == u"name") {
            if (value.isEmpty())
                return fail(QStringLiteral("name must not be empty"));
            config_.name = value;
        } else {
            fail(QStringLiteral("unknown key %1 in [switcher]").arg(key));
        }
    }

    void readInputName(const QString& key, const QString& value)
    {
        const auto input = wholeNumberIn(key, 1, kInputCount);
        if (!input)
            return fail(QStringLiteral("inputs are named 1 to 4, not \"%1\"").arg(key));
        if (const QString problem = nameProblem(value); !problem.isEmpty())
            return fail(problem);
        // "Input 2" for input 1 would make "Input 2" name two inputs.
        for (int other = 1; other <= kInputCount; ++other) {
            if (other != *input &&
                value.compare(QStringLiteral("Input %1").arg(other), Qt::CaseInsensitive) == 0)
                return fail(QStringLiteral("\"%1\" already names input %2").arg(value).arg(other));
        }
        config_.inputNames[std::size_t(*input - 1)] = value;
        nameLines_[value.toLower()].push_back(line_);
    }

    void readOutputName(const QString& key, const QString& value)
    {
        const auto output = outputForLetterOrNumber(key);
        if (!output)
            return fail(QStringLiteral("outputs are named A to D, not \"%1\"").arg(key));
        if (const QString problem = nameProblem(value); !problem.isEmpty())
            return fail(problem);
        for (int other = 1; other <= kOutputCount; ++other) {
            const QString label = QStringLiteral("Output %1").arg(outputLetter(other));
            if (other != *output && value.compare(label, Qt::CaseInsensitive) == 0)
                return fail(QStringLiteral("\"%1\" already names output %2")
                                .arg(value, outputLetter(other)));
        }
        config_.outputNames[std::size_t(*output - 1)] = value;
        nameLines_[value.toLower()].push_back(line_);
    }

    // Preset keys are outputs (letter, digit or name) and values inputs (digit or name); names
    // may be defined after the preset, so they are looked up once the file is read.
    void readPresetKey(const QString& key, const QString& value)
    {
        pendingPresetKeys_.push_back({line_, int(config_.presets.size() - 1), key, value});
    }

    void readMqttKey(const QString& key, const QString& value)
    {
        MqttSettings& mqtt = *config_.mqtt;
        if (key == u"host") {
            mqtt.host = value;
        } else if (key == u"port") {
            const auto port = wholeNumberIn(value, 1, 65535);
            if (!port)
                return fail(QStringLiteral("port is 1 to 65535, not \"%1\"").arg(value));
            mqtt.port = *port;
            mqttPortGiven_ = true;
        } else if (key == u"username") {
            mqtt.username = value;
        } else if (key == u"password") {
            mqtt.password = value;
        } else if (key == u"password_file") {
            mqtt.passwordFile = value;
            mqtt.passwordFileLine = line_;
        } else if (key == u"cafile") {
            mqtt.caFile = value;
        } else if (key == u"certfile") {
            mqtt.certFile = value;
        } else if (key == u"keyfile") {
            mqtt.keyFile = value;
        } else if (key == u"client_id") {
            mqtt.clientId = value;
        } else if (key == u"topic") {
            if (value.isEmpty() || value.contains(u'+') || value.contains(u'#') ||
                value.endsWith(u'/'))
                return fail(QStringLiteral("topic is a topic name without + # or a final /"));
            mqtt.topic = value;
        } else if (key == u"discovery") {
            mqtt.discoveryPrefix = value;
        } else {
            fail(QStringLiteral("unknown key %1 in [mqtt]").arg(key));
        }
        if (key == u"password" && !mqtt.passwordFile.isEmpty())
            fail(QStringLiteral("give password or password_file, not both"));
        if (key == u"password_file" && !mqtt.password.isEmpty())
            fail(QStringLiteral("give password or password_file, not both"));
    }

    void resolveNames()
    {
        for (const auto& [name, lines] : nameLines_) {
            if (lines.size() > 1) {
                line_ = lines.at(1);
                return fail(QStringLiteral("the name \"%1\" is given twice (line %2)")
                                .arg(name)
                                .arg(lines.at(0)));
            }
        }
        for (const auto& pending : pendingPresetKeys_) {
            line_ = pending.line;
            Preset& preset = config_.presets[pending.preset];
            const auto output = config_.outputNamed(pending.key);
            if (!output)
                return fail(QStringLiteral("\"%1\" names no output").arg(pending.key));
            if (preset.inputOfOutput[std::size_t(*output - 1)])
                return fail(QStringLiteral("output %1 is given twice in preset \"%2\"")
                                .arg(outputLetter(*output), preset.name));
            const auto input = config_.inputNamed(pending.value);
            if (!input)
                return fail(QStringLiteral("\"%1\" names no input").arg(pending.value));
            preset.inputOfOutput[std::size_t(*output - 1)] = *input;
        }
        for (qsizetype i = 0; i < config_.presets.size(); ++i) {
            const Preset& preset = config_.presets.at(i);
            const bool empty = std::none_of(preset.inputOfOutput.begin(),
                                            preset.inputOfOutput.end(),
                                            [](const auto& input) { return input.has_value(); });
            if (empty) {
                line_ = presetLines_.at(i);
                return fail(QStringLiteral("preset \"%1\" routes no output").arg(preset.name));
            }
        }
    }

    struct PendingPresetKey {
        int line;
        int preset;
        QString key;
        QString value;
    };

    QString fileName_;
    SwitcherConfig config_;
    QString error_;
    QString section_;
    int line_ = 0;
    bool mqttPortGiven_ = false;
    std::set<QString> sectionsSeen_;
    std::set<QString> keysSeen_;
    std::map<QString, QList<int>> nameLines_;
    QList<PendingPresetKey> pendingPresetKeys_;
    QList<int> presetLines_;
};

} // namespace

std::variant<SwitcherConfig, ConfigError> parseSwitcherConfig(const QByteArray& text,
                                                              const QString& fileName)
{
    return SwitcherConfigReader(fileName).read(text);
}

std::variant<SwitcherConfig, ConfigError> loadSwitcherConfig(const QString& fileName)
{
    QString why;
    const auto text = readRegularFile(fileName, kMaxConfigFileBytes, why);
    if (!text)
        return ConfigError{QStringLiteral("%1: %2").arg(fileName, why)};
    return parseSwitcherConfig(*text, fileName);
}
