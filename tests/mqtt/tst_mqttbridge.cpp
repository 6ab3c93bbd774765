// The MQTT bridge against a real mosquitto broker, with a recording stand-in for the line.

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
    QString base() const { return config.mqtt->topic; }
    qsizetype logged(const QString& text) const { return log.filter(text).size(); }

    SwitcherConfig config;
    SwitcherState state;
    RecordingCommands commands{state};
    QStringList log;
    MqttBridge bridge{config, state, commands, [this](const QString& line) { log << line; qInfo("%s", qPrintable(line)); }};
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
        QVERIFY(late.waitFor(rig.base() + QStringLiteral("/availability"), "online"));
        QVERIFY(late.waitFor(rig.base() + QStringLiteral("/routes"),
                             R"({"A":1,"B":3,"C":null,"D":null})"));
        QCOMPARE(late.payload(rig.base() + QStringLiteral("/output/B")), "Input 3");
        QCOMPARE(late.payload(rig.base() + QStringLiteral("/output/A")), "Blu-ray");
        QVERIFY(!late.last(rig.base() + QStringLiteral("/output/C"))); // unknown: nothing retained
        QVERIFY(!late.last(rig.base() + QStringLiteral("/edid")));
        QVERIFY(!late.last(QStringLiteral("homeassistant/button/hall/preset_old/config")));
        QVERIFY(late.last(QStringLiteral("homeassistant/button/other/preset_x/config")));

        QStringList configs;
        for (const RecordedMessage& message : late.messages()) {
            QVERIFY2(message.retained, qPrintable(message.topic));
            if (message.topic.startsWith(QStringLiteral("homeassistant/")) && message.topic.contains(u"/hall/"))
                configs << message.topic;
        }
        QCOMPARE(configs.size(), 8); // 4 outputs, EDID, preset, Refresh, answering

        const QJsonObject output = jsonOf(late, QStringLiteral("homeassistant/select/hall/output_b/config"));
        QCOMPARE(output[u"name"].toString(), QStringLiteral("Projector"));
        QCOMPARE(output[u"unique_id"].toString(), QStringLiteral("matrixd_hall_output_b"));
        QCOMPARE(output[u"command_topic"].toString(), rig.base() + QStringLiteral("/output/B/set"));
        QCOMPARE(output[u"state_topic"].toString(), rig.base() + QStringLiteral("/output/B"));
        QCOMPARE(output[u"availability_topic"].toString(), rig.base() + QStringLiteral("/availability"));
        QCOMPARE(output[u"options"].toArray(),
                 QJsonArray({"Blu-ray", "Input 2", "Input 3", "Input 4"}));
        QCOMPARE(output[u"device"][u"identifiers"].toArray(), QJsonArray({"matrixd_hall"}));
        QCOMPARE(output[u"device"][u"name"].toString(), QStringLiteral("Hall matrix"));
        const QJsonObject edid = jsonOf(late, QStringLiteral("homeassistant/select/hall/edid/config"));
        QCOMPARE(edid[u"options"].toArray().size(), 11);
        QCOMPARE(edid[u"options"][10].toString(), QStringLiteral("3D-7.1CH"));
        const QJsonObject preset = jsonOf(late, QStringLiteral("homeassistant/button/hall/preset_movie_night/config"));
        QCOMPARE(preset[u"command_topic"].toString(), rig.base() + QStringLiteral("/preset/set"));
        QCOMPARE(preset[u"payload_press"].toString(), QStringLiteral("Movie night"));
        const QJsonObject refresh = jsonOf(late, QStringLiteral("homeassistant/button/hall/refresh/config"));
        QCOMPARE(refresh[u"command_topic"].toString(), rig.base() + QStringLiteral("/refresh"));
        const QJsonObject answering = jsonOf(late, QStringLiteral("homeassistant/binary_sensor/hall/answering/config"));
        QCOMPARE(answering[u"device_class"].toString(), QStringLiteral("connectivity"));
        QCOMPARE(answering[u"state_topic"].toString(), rig.base() + QStringLiteral("/availability"));
        QCOMPARE(answering[u"payload_off"].toString(), QStringLiteral("offline"));
    }

    void commandsReachTheLineAndStateFollows()
    {
        MqttRecorder recorder(broker_.port());
        QVERIFY(recorder.waitConnected());
        Rig rig(makeConfig(QStringLiteral("cmd"), broker_.port()));
        const QString base = rig.base();
        // Left retained by some client: it must not run again on every reconnection.
        recorder.publish(base + QStringLiteral("/output/C/set"), "4", true);
        rig.bridge.start();
        QVERIFY(recorder.waitFor(base + QStringLiteral("/availability"), "online"));

        const QList<std::pair<QString, QByteArray>> good = {
            {QStringLiteral("/output/B/set"), " blu-RAY "}, {QStringLiteral("/output/B/set"), "3"},
            {QStringLiteral("/edid/set"), "Copy from C"},   {QStringLiteral("/edid/set"), "10"},
            {QStringLiteral("/preset/set"), "movie NIGHT"}, {QStringLiteral("/refresh"), ""}};
        for (const auto& [topic, payload] : good)
            recorder.publish(base + topic, payload);
        QTRY_COMPARE(rig.commands.calls, QStringList({"route 2 1", "route 2 3", "edid 3", "edid 10",
                                                      "preset Movie night", "refresh"}));
        QVERIFY(recorder.waitFor(base + QStringLiteral("/output/B"), "Input 3"));
        QVERIFY(recorder.waitFor(base + QStringLiteral("/routes"), R"({"A":null,"B":3,"C":null,"D":null})"));
        QVERIFY(recorder.waitFor(base + QStringLiteral("/edid"), "3D-7.1CH"));
        QCOMPARE(rig.logged(QStringLiteral("retained command")), 1);

        // Each bad message is one log line and no command; the good one after it shows that
        // all of them were read.
        const qsizetype linesBefore = rig.log.size();
        const QList<std::pair<QString, QByteArray>> bad = {
            {QStringLiteral("/output/B/set"), "Input 9"}, {QStringLiteral("/output/B/set"), "5"},
            {QStringLiteral("/output/B/set"), ""},        {QStringLiteral("/output/E/set"), "1"},
            {QStringLiteral("/edid/set"), "11"},          {QStringLiteral("/edid/set"), "EDID"},
            {QStringLiteral("/preset/set"), "nope"},      {QStringLiteral("/refresh"), QByteArray(257, 'x')},
            {QStringLiteral("/output/A/set"), QByteArray(300, '1')}};
        for (const auto& [topic, payload] : bad)
            recorder.publish(base + topic, payload);
        recorder.publish(base + QStringLiteral("/refresh"), "now");
        QTRY_COMPARE(rig.commands.calls.size(), 7);
        QCOMPARE(rig.commands.calls.last(), QStringLiteral("refresh"));
        QCOMPARE(rig.log.size() - linesBefore, bad.size());

        rig.commands.failure = QStringLiteral("no reply within 500 ms");
        recorder.publish(base + QStringLiteral("/output/A/set"), "2");
        QTRY_COMPARE(rig.logged(QStringLiteral("route A (Output A) to Input 2 failed: no reply within 500 ms")), 1);
        recorder.publish(base + QStringLiteral("/output/C/set"), "", true);
    }

    void offlineSwitcherRefusesCommands()
    {
        MqttRecorder recorder(broker_.port());
        QVERIFY(recorder.waitConnected());
        Rig rig(makeConfig(QStringLiteral("off"), broker_.port()), false);
        rig.bridge.start();
        QVERIFY(recorder.waitFor(rig.base() + QStringLiteral("/availability"), "offline"));
        QTRY_VERIFY(rig.bridge.client().isConnected());
        rig.state.setAnswering(true);
        QVERIFY(recorder.waitFor(rig.base() + QStringLiteral("/availability"), "online"));
        rig.state.setAnswering(false);
        QVERIFY(recorder.waitFor(rig.base() + QStringLiteral("/availability"), "offline"));

        recorder.publish(rig.base() + QStringLiteral("/output/A/set"), "2");
        QTRY_COMPARE(rig.logged(QStringLiteral("refused route A (Output A) to Input 2: the switcher is not answering")), 1);
        QVERIFY(rig.commands.calls.isEmpty());
    }

    // The broker comes back empty; the bridge fills it again, with the same unique ids.
    void brokerRestartRepublishes()
    {
        Rig rig(makeConfig(QStringLiteral("rst"), broker_.port()));
        rig.state.apply({ReplyEffect::lamp(4, 2), ReplyEffect::edidSelection(5)});
        rig.bridge.start();
        MqttRecorder recorder(broker_.port());
        const QString outputConfig = QStringLiteral("homeassistant/select/rst/output_d/config");
        QVERIFY(recorder.waitFor(rig.base() + QStringLiteral("/availability"), "online"));
        QVERIFY(recorder.waitFor(rig.base() + QStringLiteral("/edid"), "2D-2.0CH"));
        const QByteArray discovery = recorder.payload(outputConfig);
        QVERIFY(discovery.contains("matrixd_rst_output_d"));

        broker_.stop();
        QTRY_VERIFY(!rig.bridge.client().isConnected());
        recorder.clear();
        QVERIFY2(broker_.start(), qPrintable(broker_.log()));
        QVERIFY(recorder.waitFor(rig.base() + QStringLiteral("/availability"), "online", 10000));
        QVERIFY(recorder.waitFor(rig.base() + QStringLiteral("/output/D"), "Input 2"));
        QVERIFY(recorder.waitFor(rig.base() + QStringLiteral("/edid"), "2D-2.0CH"));
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
        Rig rig(makeConfig(QStringLiteral("pw"), secure.port(),
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
