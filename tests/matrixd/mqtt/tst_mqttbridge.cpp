// The MQTT bridge against a real mosquitto broker, with a recording stand-in for the line.

#include "config/switcherconfigcompletion.h"
#include "config/switcherconfigreader.h"
#include "mqttbridge.h"
#include "support/brokerprocess.h"
#include "support/mqttrecorder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Confirms every command at once and applies it to the state, as the line would on its reply.
class RecordingCommands : public SwitcherCommands {
public:
    explicit RecordingCommands(SwitcherState& state) : state_(state) {}
    QStringList calls;
    QString failure; // when set, every command fails with it

    void route(int output, int input, Done done) override
    {
        finish(QStringLiteral("route %1 %2").arg(output).arg(input),
               {ReplyEffect::lamp(output, input)}, done);
    }
    void selectEdidMode(int mode, Done done) override
    {
        finish(QStringLiteral("edid %1").arg(mode), {ReplyEffect::edidSelection(mode)}, done);
    }
    void refresh(Done done) override { finish(QStringLiteral("refresh"), {}, done); }
    void applyPreset(const QString& name, Done done) override
    {
        finish(QStringLiteral("preset ") + name, {}, done);
    }

private:
    void finish(const QString& call, const ReplyEffects& effects, const Done& done)
    {
        calls << call;
        if (!failure.isEmpty())
            return done({false, failure});
        state_.apply(effects);
        done({true, {}});
    }
    SwitcherState& state_;
};

SwitcherConfig makeConfig(const QString& id, int port, const QString& mqttExtra = {})
{
    const QString text = QStringLiteral("[switcher]\nid = %1\nname = Hall matrix\nport = COM1\n"
                                        "[inputs]\n1 = Blu-ray\n[outputs]\nB = Projector\n"
                                        "[preset Movie night]\nA = 1\nB = 3\n"
                                        "[mqtt]\nhost = 127.0.0.1\nport = %2\n%3")
                             .arg(id)
                             .arg(port)
                             .arg(mqttExtra);
    auto parsed = parseSwitcherConfig(text.toUtf8(), {});
    SwitcherConfig config = std::get<SwitcherConfig>(parsed);
    if (const auto error = completeSwitcherConfig(config))
        qFatal("%s", qPrintable(error->text));
    return config;
}

// One switcher on the broker: its state, the recording line and the bridge, with its log.
struct Rig {
    explicit Rig(SwitcherConfig c, bool answering = true) : config(std::move(c))
    {
        state.setAnswering(answering);
    }
    QString topic(const char* under) const { return config.mqtt->topic + QLatin1String(under); }
    qsizetype logged(const QString& text) const { return log.filter(text).size(); }

    SwitcherConfig config;
    SwitcherState state;
    RecordingCommands commands{state};
    QStringList log;
    MqttBridge bridge{config, state, commands, [this](const QString& line) {
                          log << line;
                          qInfo("%s", qPrintable(line));
                      }};
};

QJsonObject jsonOf(const MqttRecorder& recorder, const QString& topic)
{
    return QJsonDocument::fromJson(recorder.payload(topic)).object();
}

} // namespace

class TestMqttBridge : public QObject {
    Q_OBJECT
private:
    BrokerProcess broker_;

private slots:
    void initTestCase() { QVERIFY2(broker_.start(), qPrintable(broker_.log())); }

    // A subscriber that comes later finds device, entities and state retained; a preset that
    // left the file loses its button, another switcher's buttons stay.
    void discoveryAndStateAreRetained()
    {
        MqttRecorder early(broker_.port());
        QVERIFY(early.waitConnected());
        early.publish(QStringLiteral("homeassistant/button/hall/preset_old/config"), "{}", true);
        early.publish(QStringLiteral("homeassistant/button/other/preset_x/config"), "{}", true);
        Rig rig(makeConfig(QStringLiteral("hall"), broker_.port()));
        rig.state.apply({ReplyEffect::lamp(1, 1), ReplyEffect::lamp(2, 3)});
        rig.bridge.start();
        QVERIFY(early.waitFor(QStringLiteral("homeassistant/button/hall/preset_old/config"), ""));

        MqttRecorder late(broker_.port(), QStringLiteral("#"), QStringLiteral("late"));
        QVERIFY(late.waitFor(rig.topic("/availability"), "online"));
        QVERIFY(late.waitFor(rig.topic("/routes"), R"({"A":1,"B":3,"C":null,"D":null})"));
        QCOMPARE(late.payload(rig.topic("/output/B")), "Input 3");
        QCOMPARE(late.payload(rig.topic("/output/A")), "Blu-ray");
        QVERIFY(!late.last(rig.topic("/output/C"))); // unknown: nothing retained
        QVERIFY(!late.last(rig.topic("/edid")));
        QVERIFY(!late.last(QStringLiteral("homeassistant/button/hall/preset_old/config")));
        QVERIFY(late.last(QStringLiteral("homeassistant/button/other/preset_x/config")));

        QStringList configs;
        for (const RecordedMessage& message : late.messages()) {
            QVERIFY2(message.retained, qPrintable(message.topic));
            if (message.topic.startsWith(QStringLiteral("homeassistant/")) &&
                message.topic.contains(u"/hall/"))
                configs << message.topic;
        }
        QCOMPARE(configs.size(), 8); // 4 outputs, EDID, preset, Refresh, answering

        const QString base = rig.config.mqtt->topic;
        const QJsonObject device{{"identifiers", QJsonArray{"matrixd_hall"}},
                                 {"name", "Hall matrix"},
                                 {"model", "4x4 HDMI matrix switcher"}};
        const QList<std::tuple<const char*, const char*, QJsonValue>> fields = {
            {"select/hall/output_b", "name", "Projector"},
            {"select/hall/output_b", "unique_id", "matrixd_hall_output_b"},
            {"select/hall/output_b", "command_topic", base + "/output/B/set"},
            {"select/hall/output_b", "state_topic", base + "/output/B"},
            {"select/hall/output_b", "availability_topic", base + "/availability"},
            {"select/hall/output_b", "options",
             QJsonArray{"Blu-ray", "Input 2", "Input 3", "Input 4"}},
            {"select/hall/output_b", "device", device},
            {"select/hall/edid", "command_topic", base + "/edid/set"},
            {"button/hall/preset_movie_night", "command_topic", base + "/preset/set"},
            {"button/hall/preset_movie_night", "payload_press", "Movie night"},
            {"button/hall/refresh", "command_topic", base + "/refresh"},
            {"binary_sensor/hall/answering", "device_class", "connectivity"},
            {"binary_sensor/hall/answering", "state_topic", base + "/availability"},
            {"binary_sensor/hall/answering", "payload_off", "offline"}};
        for (const auto& [topic, key, value] : fields) {
            const QString config = QStringLiteral("homeassistant/%1/config").arg(topic);
            QVERIFY2(jsonOf(late, config)[QLatin1String(key)] == value,
                     qPrintable(config + u' ' + QLatin1String(key)));
        }
        const QJsonArray captions =
            jsonOf(late, QStringLiteral("homeassistant/select/hall/edid/config"))[u"options"]
                .toArray();
        QCOMPARE(captions.size(), 11);
        QCOMPARE(captions[10].toString(), QStringLiteral("3D-7.1CH"));
    }

    void commandsReachTheLineWhileTheSwitcherAnswers()
    {
        MqttRecorder recorder(broker_.port());
        QVERIFY(recorder.waitConnected());
        Rig rig(makeConfig(QStringLiteral("cmd"), broker_.port()));
        // Left retained by some client: it must not run again on every reconnection.
        recorder.publish(rig.topic("/output/C/set"), "4", true);
        rig.bridge.start();
        QVERIFY(recorder.waitFor(rig.topic("/availability"), "online"));

        const QList<std::pair<QString, QByteArray>> good = {
            {QStringLiteral("/output/B/set"), " blu-RAY "}, {QStringLiteral("/output/B/set"), "3"},
            {QStringLiteral("/edid/set"), "Copy from C"},   {QStringLiteral("/edid/set"), "10"},
            {QStringLiteral("/preset/set"), "movie NIGHT"}, {QStringLiteral("/refresh"), ""}};
        for (const auto& [topic, payload] : good)
            recorder.publish(rig.config.mqtt->topic + topic, payload);
        QTRY_COMPARE(rig.commands.calls, QStringList({"route 2 1", "route 2 3", "edid 3", "edid 10",
                                                      "preset Movie night", "refresh"}));
        QVERIFY(recorder.waitFor(rig.topic("/output/B"), "Input 3"));
        QVERIFY(recorder.waitFor(rig.topic("/routes"), R"({"A":null,"B":3,"C":null,"D":null})"));
        QVERIFY(recorder.waitFor(rig.topic("/edid"), "3D-7.1CH"));
        QCOMPARE(rig.logged(QStringLiteral("retained command")), 1);

        // Each bad message is one log line and no command; the good one after it shows that
        // all of them were read.
        const qsizetype linesBefore = rig.log.size();
        const QList<std::pair<QString, QByteArray>> bad = {
            {QStringLiteral("/output/B/set"), "Input 9"},
            {QStringLiteral("/output/B/set"), "5"},
            {QStringLiteral("/output/B/set"), ""},
            {QStringLiteral("/output/E/set"), "1"},
            {QStringLiteral("/edid/set"), "11"},
            {QStringLiteral("/edid/set"), "EDID"},
            {QStringLiteral("/preset/set"), "nope"},
            {QStringLiteral("/refresh"), QByteArray(257, 'x')},
            {QStringLiteral("/output/A/set"), QByteArray(300, '1')}};
        for (const auto& [topic, payload] : bad)
            recorder.publish(rig.config.mqtt->topic + topic, payload);
        recorder.publish(rig.topic("/refresh"), "now");
        QTRY_COMPARE(rig.commands.calls.size(), 7);
        QCOMPARE(rig.commands.calls.last(), QStringLiteral("refresh"));
        QCOMPARE(rig.log.size() - linesBefore, bad.size());

        rig.commands.failure = QStringLiteral("no reply within 500 ms");
        recorder.publish(rig.topic("/output/A/set"), "2");
        QTRY_COMPARE(rig.logged(QStringLiteral(
                         "route A (Output A) to Input 2 failed: no reply within 500 ms")),
                     1);
        recorder.publish(rig.topic("/output/C/set"), "", true);

        // Not answering: offline, and commands refused rather than kept for later.
        rig.commands.calls.clear();
        rig.state.setAnswering(false);
        QVERIFY(recorder.waitFor(rig.topic("/availability"), "offline"));
        recorder.publish(rig.topic("/output/A/set"), "2");
        QTRY_COMPARE(rig.logged(QStringLiteral(
                         "refused route A (Output A) to Input 2: the switcher is not answering")),
                     1);
        QVERIFY(rig.commands.calls.isEmpty());
        rig.state.setAnswering(true);
        QVERIFY(recorder.waitFor(rig.topic("/availability"), "online"));
    }

    // The broker comes back empty; the bridge fills it again, with the same unique ids.
    void brokerRestartRepublishes()
    {
        Rig rig(makeConfig(QStringLiteral("rst"), broker_.port()));
        rig.state.apply({ReplyEffect::lamp(4, 2), ReplyEffect::edidSelection(5)});
        rig.bridge.start();
        MqttRecorder recorder(broker_.port());
        const QString outputConfig = QStringLiteral("homeassistant/select/rst/output_d/config");
        QVERIFY(recorder.waitFor(rig.topic("/availability"), "online"));
        QVERIFY(recorder.waitFor(rig.topic("/edid"), "2D-2.0CH"));
        const QByteArray discovery = recorder.payload(outputConfig);
        QVERIFY(discovery.contains("matrixd_rst_output_d"));

        broker_.stop();
        QTRY_VERIFY(!rig.bridge.client().isConnected());
        recorder.clear();
        QVERIFY2(broker_.start(), qPrintable(broker_.log()));
        QVERIFY(recorder.waitFor(rig.topic("/availability"), "online", 10000));
        QVERIFY(recorder.waitFor(rig.topic("/output/D"), "Input 2"));
        QVERIFY(recorder.waitFor(rig.topic("/edid"), "2D-2.0CH"));
        QVERIFY(recorder.waitFor(outputConfig, discovery));
        QCOMPARE(rig.logged(QStringLiteral("lost the broker at")), 1);
        QCOMPARE(rig.logged(QStringLiteral("connected to the broker at")), 2);
    }

    // Refused: one clear line, retries go on, and a broker that learns the password takes it.
    void wrongPasswordIsLoggedOnceAndRetried()
    {
        const QString password = QStringLiteral("s3cret-pa55");
        BrokerProcess secure({{QStringLiteral("matrixd"), QStringLiteral("other")}});
        QVERIFY2(secure.start(), qPrintable(secure.log()));
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("password")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(password.toUtf8() + '\n');
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        Rig rig(makeConfig(
            QStringLiteral("pw"), secure.port(),
            QStringLiteral("username = matrixd\npassword_file = %1\n").arg(file.fileName())));
        rig.bridge.start();
        QCOMPARE(rig.logged(QStringLiteral("others may read it")), 1);
        QTRY_VERIFY(secure.connectionAttempts() >= 2);
        QCOMPARE(rig.logged(QStringLiteral("refused the connection: not authorised")), 1);

        secure.stop();
        secure.setUsers({{QStringLiteral("matrixd"), password}});
        QVERIFY(secure.start());
        QTRY_VERIFY_WITH_TIMEOUT(rig.bridge.client().isConnected(), 10000);
        QVERIFY(rig.log.filter(password).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMqttBridge)
#include "tst_mqttbridge.moc"
