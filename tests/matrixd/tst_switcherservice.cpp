// The service's core against the switcher model in process, unpaced: what goes on the line, in
// what order, what each asker is told, and what the one state says.

#include "config/switcherconfigreader.h"
#include "support/fakes/simulatedserialcontrol.h"
#include "support/switcher.h"
#include "switcherservice.h"

#include <QtTest>

#include <memory>

using namespace switcher;
using namespace std::chrono_literals;
using Outcome = SwitcherCommands::Outcome;

namespace {

SwitcherConfig presetConfig()
{
    auto parsed = parseSwitcherConfig("[switcher]\nport = COM1\n[preset Stage]\nA = 2\nC = 4\n",
                                      QStringLiteral("t.conf"));
    return std::get<SwitcherConfig>(std::move(parsed));
}

// A service on COM1 of the simulated control, quick to settle, retry and time out.
struct Rig {
    explicit Rig(SwitcherLine::Timing timing = quick(), SwitcherConfig cfg = presetConfig())
        : config(std::move(cfg)),
          service(config, serial, [](SerialControl& s) { s.setPortNumber(1); },
                  [] { return QStringLiteral("COM1 does not exist"); }, timing)
    {
        service.line().setTracing(true);
        QObject::connect(&service, &SwitcherService::traffic,
                         [this](const QString& line) { trace << line; });
        QObject::connect(&service, &SwitcherService::logLine,
                         [this](const QString& line) { log << line; });
    }
    static SwitcherLine::Timing quick()
    {
        SwitcherLine::Timing t;
        t.settle = 5ms;
        t.timeout = 200ms;
        t.poll = 0ms;
        t.firstRetry = 5ms;
        t.lastRetry = 40ms;
        return t;
    }
    // Starts, and waits for the first status reply to be read.
    bool startAnswering()
    {
        service.start();
        const bool answering = QTest::qWaitFor([this] { return service.state().isAnswering(); });
        serial.writes.clear();
        return answering;
    }
    // Records the outcome of a command in `outcomes`, in the order they finish.
    SwitcherCommands::Done record(const QString& name)
    {
        return [this, name](const Outcome& o) {
            outcomes << (name + u' ' + (o.confirmed ? QStringLiteral("ok") : o.problem));
        };
    }

    // What the service tells during its own stop lands here too: these outlive it.
    QStringList trace;
    QStringList log;
    QStringList outcomes;
    SwitcherConfig config;
    SimulatedSerialControl serial;
    SwitcherService service;
};

} // namespace

class TestSwitcherService : public QObject {
    Q_OBJECT
private slots:
    void commands_areConfirmedByTheirReplyAndShowInTheOneState()
    {
        Rig rig;
        rig.serial.model = SwitcherModel({3, 1, 2, 4}, 6);
        QVERIFY(rig.startAnswering());
        QCOMPARE(rig.service.state().facts().inputOfOutput,
                 (std::array<std::optional<int>, 4>{3, 1, 2, 4}));

        rig.service.route(2, 4, rig.record("route"));
        rig.service.selectEdidMode(9, rig.record("edid"));
        rig.service.applyPreset(QStringLiteral("Stage"), rig.record("preset"));
        rig.service.applyPreset(QStringLiteral("Nope"), rig.record("missing"));
        QTRY_COMPARE(rig.outcomes.size(), 4);
        QCOMPARE(rig.outcomes, QStringList({"missing no preset \"Nope\"", "route ok", "edid ok",
                                            "preset ok"}));
        QCOMPARE(rig.serial.writes, QList<QByteArray>({buttonFrame(inputIndex(2, 4)), edidFrame(9),
                                                       buttonFrame(inputIndex(1, 2)),
                                                       buttonFrame(inputIndex(3, 4))}));
        QCOMPARE(rig.service.state().input(1), 2);
        QCOMPARE(rig.service.state().input(2), 4);
        QCOMPARE(rig.service.state().input(3), 4);
        QCOMPARE(rig.service.state().edidMode(), 9);
        QVERIFY(rig.log.contains(QStringLiteral("preset \"Stage\" applied")));

        // A front-panel change nobody asked for still reaches the state.
        rig.serial.frontPanelRoute(4, 1);
        QTRY_COMPARE(rig.service.state().input(4), 1);

        // A silent switcher fails the command, a preset says where it stopped.
        rig.outcomes.clear();
        rig.serial.silent = true;
        rig.service.applyPreset(QStringLiteral("Stage"), rig.record("preset"));
        QTRY_COMPARE(rig.outcomes.size(), 1);
        QCOMPARE(rig.outcomes.first(),
                 QStringLiteral("preset preset \"Stage\" stopped at A <- 2: no reply within 200 ms"));
    }

    void line_goesOfflineAfterThreeMissedPollsAndBacksOffWhenTheDeviceGoes()
    {
        SwitcherLine::Timing timing = Rig::quick();
        timing.poll = 10ms;
        timing.timeout = 20ms;
        Rig rig(timing);
        QVERIFY(rig.startAnswering());
        qsizetype missedWhenOffline = -1;
        // A poll whose answer is on its way when the switcher falls silent is still answered.
        const qsizetype answered = rig.serial.writes.count(kStatusQuery);
        // Gone before the counts it writes to, and before the rig's own stop goes offline.
        QObject listening;
        QObject::connect(&rig.service.state(), &SwitcherState::answeringChanged, &listening, [&](bool answering) {
            if (!answering)
                missedWhenOffline = rig.serial.writes.count(kStatusQuery) - answered;
        });
        rig.serial.silent = true;
        QTRY_VERIFY(!rig.service.state().isAnswering());
        // Two missed polls are not enough: the third makes it.
        QCOMPARE(missedWhenOffline, 3);
        rig.serial.silent = false;
        QTRY_VERIFY(rig.service.state().isAnswering());

        // The adapter is pulled: every waiting command is told, and opening backs off.
        rig.trace.clear();
        rig.serial.silent = true;
        rig.service.route(1, 2, rig.record("route"));
        rig.serial.existingPorts.clear();
        rig.serial.hangUp();
        QCOMPARE(rig.outcomes, QStringList{"route line lost: the device went away"});
        QVERIFY(!rig.service.state().isAnswering());
        QTRY_VERIFY(rig.trace.filter(QStringLiteral("next try in")).size() >= 5);
        QCOMPARE(rig.trace.filter(QStringLiteral("next try in")).mid(0, 5),
                 QStringList({"-- cannot open, next try in 5 ms", "-- cannot open, next try in 10 ms",
                              "-- cannot open, next try in 20 ms", "-- cannot open, next try in 40 ms",
                              "-- cannot open, next try in 40 ms"}));
        // One log line for the kind of trouble, not one per try.
        QCOMPARE(rig.log.filter(QStringLiteral("cannot open the line")).size(), 1);
        rig.serial.silent = false;
        rig.serial.existingPorts.insert(1);
        QTRY_VERIFY(rig.service.state().isAnswering());
        QVERIFY(rig.log.contains(QStringLiteral("line open: COM1")));
    }

    void queue_aNewerRequestForAnOutputReplacesAWaitingOne()
    {
        Rig rig;
        rig.serial.replyDelay = 2ms;
        QVERIFY(rig.startAnswering());
        // A burst, as from MQTT: every output set 50 times, the last asks for 3,4,1,2.
        for (int round = 0; round < 50; ++round) {
            for (int output = 1; output <= 4; ++output)
                rig.service.route(output, (round + output) % 4 + 1, rig.record(QString::number(output)));
            rig.service.selectEdidMode(round % 11, rig.record("edid"));
        }
        QTRY_COMPARE(rig.outcomes.size(), 250);
        QTRY_COMPARE(rig.service.line().pendingFrom(kServiceOrigin), 0);
        QCOMPARE(rig.serial.model.routes(), (SwitcherModel::Routes{3, 4, 1, 2}));
        QCOMPARE(rig.serial.model.edidMode(), 49 % 11);
        // The first of each went out at once or waited; every later one but the last gave way.
        QVERIFY(rig.serial.writes.size() <= 10);
        QCOMPARE(rig.outcomes.filter(QStringLiteral("replaced by a newer request")).size(),
                 250 - rig.serial.writes.size());
        QCOMPARE(rig.outcomes.filter(QStringLiteral(" ok")).size(), rig.serial.writes.size());
        QCOMPARE(rig.service.state().input(1), 3);
        QCOMPARE(rig.service.state().input(4), 2);
    }

    void queue_clientsTakeTurnsAndEachIsCappedAlone()
    {
        Rig rig;
        rig.serial.replyDelay = 1ms;
        QVERIFY(rig.startAnswering());
        const Origin busy = 0;
        const Origin other = 1;
        // One client writes far more than the switcher answers; another asks once meanwhile.
        for (int i = 0; i < 70; ++i)
            rig.service.submitFrame(statusQueryFrame(), busy, rig.record("busy"));
        QCOMPARE(rig.outcomes.filter(QStringLiteral("too many commands waiting")).size(), 70 - 64);
        rig.service.submitFrame(buttonFrame(inputIndex(3, 2)), other, rig.record("other"));
        QTRY_VERIFY(rig.outcomes.contains(QStringLiteral("other ok")));
        // It went out right after the busy client's command on the line, not after its 63 more.
        QCOMPARE(rig.serial.writes.indexOf(buttonFrame(inputIndex(3, 2))), 1);
        QTRY_COMPARE(rig.outcomes.filter(QStringLiteral("busy ok")).size(), 64);
        // A client's own frames are never replaced: each gets its answer.
        QCOMPARE(rig.serial.writes.count(kStatusQuery), 64);
    }
};

QTEST_GUILESS_MAIN(TestSwitcherService)
#include "tst_switcherservice.moc"
