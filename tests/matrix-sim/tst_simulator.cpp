// The real matrix-sim program over a pseudo-terminal, opened by the panel's own serial control
// and read through the panel's reply intake.

#include "switcher/commandframe.h"
#include "replyshaper.h"
#include "support/panelend.h"
#include "support/scratchdirectory.h"
#include "support/simprocess.h"

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Processor time the process has used, in clock ticks.
long cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong(); // utime, stime
}

// The simulator on a line and the panel's end of it.
struct Line {
    Line(const QString& dir, int port, const QStringList& options)
        : sim(dir, port, options), panel(port)
    {
    }
    SimProcess sim;
    PanelEnd panel;
};

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        dir_ = std::make_unique<ScratchDirectory>();
        QVERIFY(dir_->isValid());
    }

    void cleanup()
    {
        line_.reset();
        dir_.reset();
    }

    void statusQuery_pacedReply_arrivesInPiecesAndIsReadAsOneText()
    {
        QVERIFY(startLine({"--routes", "2413"}));
        auto& [sim, panel] = *line_;

        panel.clock.restart();
        QVERIFY(panel.ask(statusQueryFrame(), 1));
        const QList<qint64> arrivals = panel.notifiedAtUs;
        // A frame answered after it fences off any late bytes of the first reply.
        QVERIFY(panel.ask(buttonCommandFrame(kPowerButtonIndex), 2));

        QCOMPARE(panel.texts, (QStringList{"\r\ns11s23s30s42", "Ack"}));
        const qint64 spreadUs = arrivals.last() - arrivals.first();
        qInfo("status reply: 14 bytes in %lld notifications spread over %.1f ms, first byte "
              "%.1f ms after the write",
              static_cast<long long>(arrivals.size()), spreadUs / 1000.0,
              arrivals.first() / 1000.0);
        QVERIFY2(arrivals.size() >= 2, "the reply came in one piece: was it paced?");
        QVERIFY2(spreadUs >= 10'000, "the reply was not paced like a 9600-baud line");
    }

    void splitReply_gapDecidesWhetherThePanelReadsOneTextOrTwo_data()
    {
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<QStringList>("expected");
        QTest::addRow("gap 10 ms, within the settle wait")
            << 10 << QStringList{"\r\ns10s20s30s40", "Ack"};
        QTest::addRow("gap 60 ms, beyond the settle wait")
            << 60 << QStringList{"\r\ns10s2", "0s30s40", "A", "ck"};
    }

    void splitReply_gapDecidesWhetherThePanelReadsOneTextOrTwo()
    {
        QFETCH(int, gapMs);
        QFETCH(QStringList, expected);
        // Unpaced, so that only the gap separates the halves.
        QVERIFY(startLine({"--no-pacing", "--split-gap", QString::number(gapMs)}));
        PanelEnd& panel = line_->panel; // a plain reference: clang 14 captures no bindings

        QVERIFY(panel.send(statusQueryFrame()));
        QVERIFY(panel.waitFor([&] { return panel.texts.join(QString()).size() >= 14; }));
        // The answer to a second frame fences off any late half of the first.
        QVERIFY(panel.send(buttonCommandFrame(kPowerButtonIndex)));
        QVERIFY(panel.waitFor([&] { return panel.texts.join(QString()).endsWith("Ack"); }));
        QCOMPARE(panel.texts, expected);
    }

    void faultOptions_shapeWhatThePanelReads_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("expected");
        QTest::addRow("noise") << QStringList{"--noise"}
                               << QString::fromLatin1(kNoiseBytes + QByteArray("s22"));
        QTest::addRow("high bit") << QStringList{"--high-bit"} << QString();
        QTest::addRow("noise and high bit, split within the wait")
            << QStringList{"--noise", "--high-bit", "--split-gap", "5"} << QString();
    }

    void faultOptions_shapeWhatThePanelReads()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, expected);
        QVERIFY(startLine(options));
        auto& panel = line_->panel;
        QVERIFY(panel.ask(buttonCommandFrame(10), 1));
        QVERIFY(panel.ask(buttonCommandFrame(kPowerButtonIndex), 2));
        QCOMPARE(panel.texts.first(), expected);
    }

    void delayedReply_arrivesNoSoonerThanTheDelay()
    {
        QVERIFY(startLine({"--delay", "200"}));
        auto& [sim, panel] = *line_;
        panel.clock.restart();
        QVERIFY(panel.ask(buttonCommandFrame(10), 1));
        QCOMPARE(panel.texts, QStringList{"s22"});
        QVERIFY2(panel.notifiedAtUs.first() >= 200'000,
                 qPrintable(QString::number(panel.notifiedAtUs.first())));
    }

    void silentSimulator_logsTheFrameAndAnswersNothing()
    {
        QVERIFY(startLine({"--silent"}));
        auto& [sim, panel] = *line_;
        QSignalSpy received(&panel.serial, &SerialControl::received);
        QVERIFY(panel.send(statusQueryFrame()));
        QVERIFY(sim.waitForOutput(QStringLiteral("-- no answer (silent)")));
        // An answer would have followed the log line within a few milliseconds.
        QTest::qWait(100);
        QCOMPARE(received.count(), 0);
    }

    void frameSplitAcrossReadsAfterGarbage_isAnsweredAndLogged()
    {
        QVERIFY(startLine({}, 3));
        auto& [sim, panel] = *line_;

        QVERIFY(panel.send(QByteArray("xy") + buttonCommandFrame(10).left(2)));
        // The simulator has read the first piece once it has skipped the garbage.
        QVERIFY(sim.waitForOutput(QStringLiteral("?? 78 79  no frame, skipped")));
        QVERIFY(panel.ask(buttonCommandFrame(10).mid(2), 1));
        QCOMPARE(panel.texts, QStringList{"s22"});

        QVERIFY(sim.waitForOutput(QStringLiteral("panel: HDMI Out2 -> HDMI In 3\n")));
        const QString out = sim.output();
        const QRegularExpression frame(
            QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} <- 05 55 19 59 77  button B input 3$"),
            QRegularExpression::MultilineOption);
        const QRegularExpression reply(
            QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} -> 73 32 32  \"s22\"  panel: HDMI Out2 "
                           "-> HDMI In 3$"),
            QRegularExpression::MultilineOption);
        QVERIFY2(out.contains(frame), qPrintable(out));
        QVERIFY2(out.contains(reply), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("matrix-sim: COM3 -> /dev/pts/")), qPrintable(out));
    }

    void panelClosesAndReopens_simulatorIdlesAndServesTheNextOpen()
    {
        QVERIFY(startLine({"--routes", "1234"}));
        auto& [sim, panel] = *line_;
        QVERIFY(panel.ask(buttonCommandFrame(inputButtonIndex(4, 1)), 1));
        QVERIFY(panel.serial.close());

        // With no panel on the line the simulator must wait, not spin on a hung-up master.
        const qint64 pid = sim.process().processId();
        const long before = cpuTicks(pid);
        QVERIFY(before >= 0);
        QTest::qWait(500);
        const long used = cpuTicks(pid) - before;
        qInfo("simulator used %ld clock ticks in 500 ms with the port closed", used);
        QVERIFY2(used <= 5, qPrintable(QString::number(used)));

        QVERIFY(panel.open());
        QVERIFY(panel.ask(statusQueryFrame(), 2));
        QCOMPARE(panel.texts, (QStringList{"s40", "\r\ns10s21s32s40"}));
    }

    void panelDyingWithTheLineHeldExclusively_leavesItFreeForTheNextOpen()
    {
        SimProcess sim(dir_->path(), 1, {});
        QVERIFY(sim.waitForLink());
        const QByteArray link = sim.link().toLocal8Bit();
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // Dies holding the line exclusively, as a crashed panel would.
            const int fd = ::open(link.constData(), O_RDWR | O_NOCTTY);
            if (fd >= 0)
                ::ioctl(fd, TIOCEXCL);
            ::_exit(fd >= 0 ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QVERIFY(sim.waitForOutput(QStringLiteral("-- line closed")));

        // Only root may open a line in exclusive use: the flag must be gone.
        const int fd = ::open(link.constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        int exclusive = -1;
        const int got = ::ioctl(fd, TIOCGEXCL, &exclusive);
        ::close(fd);
        QCOMPARE(got, 0);
        QCOMPARE(exclusive, 0);
    }

    void hangupAfterOneFrame_panelSeesDeviceLostOnceAndTheLinkGoes()
    {
        QVERIFY(startLine({"--hangup-after", "1"}));
        auto& [sim, panel] = *line_;
        QSignalSpy lost(&panel.serial, &SerialControl::deviceLost);

        QVERIFY(panel.send(statusQueryFrame()));
        QVERIFY(lost.wait(kReplyTimeoutMs));
        QCOMPARE(lost.count(), 1);
        QVERIFY(!panel.serial.isOpen());
        // The answer went out before the line went dead.
        QCOMPARE(panel.texts, QStringList{"\r\ns10s20s30s40"});

        QTRY_COMPARE_WITH_TIMEOUT(sim.process().state(), QProcess::NotRunning, kReplyTimeoutMs);
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
        QVERIFY(!QFileInfo(sim.link()).isSymLink());
        QVERIFY(sim.output().contains(QStringLiteral("-- hanging up after 1 frames")));
        // A dead line keeps reporting errors; the panel's port must have said so only once.
        QTest::qWait(200);
        QCOMPARE(lost.count(), 1);
        QVERIFY(!panel.send(statusQueryFrame()));
    }

    void controlLines_changeTheSwitcherWhileItRuns()
    {
        QVERIFY(startLine({}));
        auto& [sim, panel] = *line_;

        // Announced changes arrive as replies; a silent or refused one only shows in the status.
        QVERIFY(sim.control("front A 3", "-- front panel: A <- 3 (announced)"));
        QVERIFY(panel.waitForTexts(1));
        QVERIFY(sim.control("edid 10", "-- front panel: EDID mode 10 (announced)"));
        QVERIFY(panel.waitForTexts(2));
        QVERIFY(sim.control("front B 4 silent", "-- front panel: B <- 4 (silent)"));
        QVERIFY(sim.control("front E 1", "!! unknown control \"front E 1\"\n"));
        QVERIFY(panel.ask(statusQueryFrame(), 3));
        QCOMPARE(panel.texts, (QStringList{"s12", "EE:", "\r\ns12s23s30s40"}));

        // Without power it drops what comes in, and answers again after the period.
        QElapsedTimer off;
        off.start();
        QVERIFY(sim.control("power 300", "-- power off for 300 ms"));
        QVERIFY(panel.send(statusQueryFrame()));
        QVERIFY(sim.waitForOutput(QStringLiteral("-- powered off, dropped: 04 55 20 77")));
        QVERIFY(sim.waitForOutput(QStringLiteral("-- power on\n"), 300 + kReplyTimeoutMs));
        const qint64 offMs = off.elapsed();
        qInfo("power 300: answering again after %lld ms", static_cast<long long>(offMs));
        QVERIFY2(offMs >= 300, qPrintable(QString::number(offMs)));
        QVERIFY(panel.ask(buttonCommandFrame(inputButtonIndex(4, 2)), 4));
        QCOMPARE(panel.texts.mid(3), QStringList{"s41"});

        // Unplugged, the port sees its device go and the link vanish; the program keeps running.
        const QString before = QFileInfo(sim.link()).symLinkTarget();
        QSignalSpy lost(&panel.serial, &SerialControl::deviceLost);
        QVERIFY(sim.control("unplug", "-- unplugged: line hung up, COM1 removed"));
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, kReplyTimeoutMs);
        QVERIFY(!panel.serial.isOpen());
        QVERIFY(!QFileInfo(sim.link()).isSymLink());
        QCOMPARE(sim.process().state(), QProcess::Running);

        // Replugged: another terminal at the same link, with the routes it had.
        QVERIFY(sim.control("replug", "-- replugged: COM1 -> /dev/pts/"));
        QVERIFY(sim.waitForLink());
        QVERIFY(QFileInfo(sim.link()).symLinkTarget() != before);
        QVERIFY(panel.open());
        QVERIFY(panel.ask(statusQueryFrame(), 5));
        QCOMPARE(panel.texts.mid(4), QStringList{"\r\ns12s23s30s41"});
    }

    void stopSignal_removesTheLinkAndExitsCleanly_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addRow("SIGTERM") << int(SIGTERM);
        QTest::addRow("SIGINT") << int(SIGINT);
    }

    void stopSignal_removesTheLinkAndExitsCleanly()
    {
        QFETCH(int, signalNumber);
        SimProcess sim(dir_->path(), 2, {});
        QVERIFY(sim.waitForLink());
        QVERIFY(QFileInfo(sim.link()).symLinkTarget().startsWith(QStringLiteral("/dev/pts/")));

        ::kill(static_cast<pid_t>(sim.process().processId()), signalNumber);
        QVERIFY(sim.process().waitForFinished(kStartTimeoutMs));
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
        QVERIFY(!QFileInfo(sim.link()).isSymLink());
        QVERIFY(sim.output().contains(QStringLiteral("matrix-sim: removed COM2")));
    }

    void somethingElseAtTheLinkPath_isLeftAloneAndTheSimulatorRefuses_data()
    {
        QTest::addColumn<QString>("linkTarget"); // empty: a plain file
        QTest::addRow("a plain file") << QString();
        QTest::addRow("a link to an unplugged adapter") << QStringLiteral("/dev/ttyUSB97");
        QTest::addRow("a link to another device") << QStringLiteral("/dev/null");
    }

    void somethingElseAtTheLinkPath_isLeftAloneAndTheSimulatorRefuses()
    {
        QFETCH(QString, linkTarget);
        const QString path = SimProcess::linkIn(dir_->path(), 1);
        if (linkTarget.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("mine");
        } else {
            QVERIFY(QFile::link(linkTarget, path));
        }
        SimProcess sim(dir_->path(), 1, {});
        QVERIFY(sim.process().waitForFinished(kStartTimeoutMs));
        QCOMPARE(sim.process().exitCode(), 1);
        QVERIFY(QString::fromLocal8Bit(sim.process().readAllStandardError())
                    .contains(QStringLiteral("not replacing it")));
        if (linkTarget.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("mine"));
        } else {
            QCOMPARE(QFileInfo(path).symLinkTarget(), linkTarget);
        }
    }

    void staleLinkFromAStoppedRun_isReplaced()
    {
        const QString path = SimProcess::linkIn(dir_->path(), 1);
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/no-such-terminal"), path));
        QVERIFY(startLine({}));
        auto& [sim, panel] = *line_;
        QVERIFY(sim.waitForOutput(QStringLiteral("matrix-sim: COM1 -> /dev/pts/")));
        QVERIFY(QFileInfo(path).exists());
        QVERIFY(panel.ask(statusQueryFrame(), 1));
        QCOMPARE(panel.texts, QStringList{"\r\ns10s20s30s40"});
    }

private:
    // The simulator on COM<port> with `options`, and the panel's end open on it.
    bool startLine(const QStringList& options, int port = 1)
    {
        line_ = std::make_unique<Line>(dir_->path(), port, options);
        return line_->sim.waitForLink() && line_->panel.open();
    }

    std::unique_ptr<ScratchDirectory> dir_;
    std::unique_ptr<Line> line_;
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
