// matrixd on a real broker with the simulator as the switcher: what is set over MQTT reaches the
// line and the shares, and what happens on the line and the switcher reaches the broker.

#include "support/brokerprocess.h"
#include "support/daemonprocess.h"
#include "support/mqttrecorder.h"
#include "support/scratchdirectory.h"
#include "support/simprocess.h"
#include "support/switcher.h"

#include <QtTest>

using namespace switcher;

namespace {

struct MqttRig {
    ScratchDirectory dir;
    BrokerProcess broker;
    SimProcess sim{dir.path(), 1, {}};
    QString share = dir.path() + QStringLiteral("/COM2");
    QString config;

    bool start(const QByteArray& poll)
    {
        if (!broker.start() || !sim.waitForLink())
            return false;
        QFile file(dir.path() + QStringLiteral("/hall.conf"));
        const QByteArray text = "[switcher]\nport = " + sim.link().toUtf8() + "\nshare = " +
                                share.toUtf8() + "\npoll = " + poll +
                                "\n[inputs]\n3 = Laptop\n[outputs]\nB = Projector\n"
                                "[mqtt]\nhost = 127.0.0.1\nport = " +
                                QByteArray::number(broker.port()) + "\n";
        config = file.fileName();
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }
};

// A switcher of its own in `folder`, configured by folder/hall.conf: the id is "hall" for all.
struct HallSite {
    HallSite(const QString& folder, int brokerPort)
        : made(QDir().mkpath(folder)), sim(folder, 1, {}),
          config(folder + QStringLiteral("/hall.conf"))
    {
        QFile file(config);
        const QByteArray text =
            "[switcher]\nport = " + sim.link().toUtf8() +
            "\npoll = 0\n[mqtt]\nhost = 127.0.0.1\nport = " + QByteArray::number(brokerPort) + "\n";
        made = made && file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }
    bool made;
    SimProcess sim;
    QString config;
};

// Availability changes among the recorded messages.
qsizetype flipsOf(const MqttRecorder& recorder, const QString& topic)
{
    qsizetype flips = 0;
    std::optional<QByteArray> previous;
    for (const RecordedMessage& message : recorder.messages()) {
        if (message.topic != topic)
            continue;
        flips += previous && *previous != message.payload;
        previous = message.payload;
    }
    return flips;
}

} // namespace

class TestDaemonMqtt : public QObject {
    Q_OBJECT

private slots:
    void setsReachTheLineAndTheShares_badOnesNothing_andAClientsChangeIsPublished()
    {
        MqttRig rig;
        QVERIFY(rig.start("0"));
        DaemonProcess daemon({"--config", rig.config});
        MqttRecorder mqtt(rig.broker.port());
        QVERIFY(mqtt.waitConnected());
        QVERIFY(mqtt.waitFor("matrix/hall/availability", "online"));
        QVERIFY(mqtt.last("homeassistant/select/hall/output_b/config"));
        ShareClient panel(rig.share);
        QVERIFY(panel.open());

        const qsizetype before = rig.sim.framesReceived().size();
        for (const QByteArray& bad : {QByteArray("Input 9"), QByteArray("0"), QByteArray(300, '3')})
            QVERIFY(mqtt.publish("matrix/hall/output/B/set", bad));
        QVERIFY(mqtt.publish("matrix/hall/edid/set", "EDID MAX"));
        QVERIFY(mqtt.publish("matrix/hall/output/B/set", "laptop"));
        QVERIFY(mqtt.waitFor("matrix/hall/output/B", "Laptop"));
        QCOMPARE(rig.sim.framesReceived().mid(before), QList<QByteArray>{buttonFrame(inputIndex(2, 3))});
        QVERIFY(mqtt.waitFor("matrix/hall/routes", R"({"A":1,"B":3,"C":1,"D":1})"));
        QVERIFY(panel.waitForTexts(1));
        QCOMPARE(panel.texts, QStringList{"s22"});

        QVERIFY(panel.send(edidFrame(7)));
        QVERIFY(mqtt.waitFor("matrix/hall/edid", "2D-7.1CH"));
    }

    void burstOfSets_endsInTheStateLastAskedFor_andAShareClientIsServedMeanwhile()
    {
        MqttRig rig;
        QVERIFY(rig.start("0"));
        DaemonProcess daemon({"--config", rig.config});
        MqttRecorder mqtt(rig.broker.port());
        QVERIFY(mqtt.waitConnected());
        QVERIFY(mqtt.waitFor("matrix/hall/availability", "online"));
        ShareClient panel(rig.share);
        QVERIFY(panel.open());

        const qsizetype before = rig.sim.framesReceived().size();
        constexpr int kRounds = 250;
        for (int round = 0; round < kRounds; ++round) {
            for (int output = 1; output <= 4; ++output) {
                const int input = round == kRounds - 1 ? 2 : (round + output) % 4 + 1;
                QVERIFY(mqtt.publish(QStringLiteral("matrix/hall/output/%1/set").arg(QChar(u'@' + output)),
                                     QByteArray::number(input)));
            }
            if (round == 10)
                QVERIFY(panel.send(kStatusQuery));
        }
        // The client on the share is answered amid the burst, not after it.
        QVERIFY(panel.waitForTexts(1));
        QVERIFY2(panel.texts.first().startsWith("\r\ns1"), qPrintable(panel.texts.join('|')));
        QVERIFY(mqtt.waitFor("matrix/hall/routes", R"({"A":2,"B":2,"C":2,"D":2})", 20'000));
        // One waiting route per output at most: far fewer frames than sets.
        QCOMPARE(daemon.count("not confirmed"), 0);
        QVERIFY2(rig.sim.framesReceived().size() - before < 200,
                 qPrintable(QString::number(rig.sim.framesReceived().size() - before)));
        QCOMPARE(daemon.count("failed"), 0);
        qInfo("%lld frames for %d sets", qlonglong(rig.sim.framesReceived().size() - before), kRounds * 4);
    }

    void switcherEventsReachTheBroker_frontPanelUnplugAndReplug()
    {
        MqttRig rig;
        QVERIFY(rig.start("1"));
        DaemonProcess daemon({"--config", rig.config});
        MqttRecorder mqtt(rig.broker.port());
        QVERIFY(mqtt.waitConnected());
        QVERIFY(mqtt.waitFor("matrix/hall/availability", "online"));

        QVERIFY(rig.sim.control("front D 3 silent", "front panel"));
        QVERIFY(mqtt.waitFor("matrix/hall/output/D", "Laptop", 2500));

        QVERIFY(rig.sim.control("unplug", "unplugged"));
        QVERIFY(mqtt.waitFor("matrix/hall/availability", "offline", 2000));
        QVERIFY(rig.sim.control("front A 2 silent", "front panel"));
        QVERIFY(rig.sim.control("replug", "replugged"));
        QVERIFY(mqtt.waitFor("matrix/hall/availability", "online", 4000));
        QVERIFY(mqtt.waitFor("matrix/hall/output/A", "Input 2"));

        // A broker that lost everything gets discovery and state again.
        rig.broker.stop();
        QVERIFY(rig.broker.start());
        mqtt.clear();
        QVERIFY(mqtt.waitFor("matrix/hall/output/A", "Input 2", 8000));
        QVERIFY(mqtt.waitFor("matrix/hall/availability", "online"));
        QVERIFY(mqtt.last("homeassistant/binary_sensor/hall/answering/config"));
    }

    // The broker gives the id to the newest connection and closes the other. Each says so once,
    // and neither starts its wait over at a connection the other takes back, so the flips come
    // ever more slowly.
    void twoDaemonsWithOneClientId_sayItOnceAndBackOff()
    {
        ScratchDirectory dir;
        BrokerProcess broker;
        QVERIFY(broker.start());
        HallSite east(dir.path() + QStringLiteral("/east"), broker.port());
        HallSite west(dir.path() + QStringLiteral("/west"), broker.port());
        QVERIFY(east.made && west.made && east.sim.waitForLink() && west.sim.waitForLink());
        const QString availability = QStringLiteral("matrix/hall/availability");
        MqttRecorder mqtt(broker.port(), availability);
        DaemonProcess first({"--config", east.config});
        QVERIFY(mqtt.waitFor(availability, "online"));

        DaemonProcess second({"--config", west.config});
        // With 1 s doubling, the connections that take the id back come at about 0, 1, 2, 4, 6
        // and 10 s, each an offline (the will) and an online: 12 or 13 flips. Starting over at
        // 1 s each time, they come twice a second.
        constexpr int kWindowMs = 12000;
        constexpr qsizetype kMostFlips = 16;
        const bool flapped =
            QTest::qWaitFor([&] { return flipsOf(mqtt, availability) > kMostFlips; }, kWindowMs);
        QVERIFY2(!flapped, qPrintable(QStringLiteral("%1 flips; first:\n%2second:\n%3")
                                          .arg(flipsOf(mqtt, availability))
                                          .arg(first.output(), second.output())));
        QVERIFY(flipsOf(mqtt, availability) >= 2); // they did fight
        const QString takeover =
            QStringLiteral("mqtt: the broker at 127.0.0.1:%1 keeps dropping the connection soon "
                           "after accepting it: another client may have taken client id "
                           "\"matrixd-hall\"; retrying")
                .arg(broker.port());
        for (DaemonProcess* daemon : {&first, &second}) {
            QVERIFY2(daemon->count(takeover) == 1, qPrintable(daemon->output()));
            // Connected, lost, connected again, then that line: nothing per reconnection.
            QVERIFY2(daemon->count("mqtt: ") <= 4, qPrintable(daemon->output()));
        }
        QVERIFY(mqtt.waitFor(availability, "online"));
    }
};

QTEST_MAIN(TestDaemonMqtt)
#include "tst_daemon_mqtt.moc"
