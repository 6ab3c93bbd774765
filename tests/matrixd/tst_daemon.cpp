// matrixd between the switcher simulator and its clients, all real processes and
// pseudo-terminals: the panel's window, the panel's serial control, matrixctl.

#include "support/ctlprocess.h"
#include "support/daemonprocess.h"
#include "support/panelwindow.h"
#include "support/scratchdirectory.h"
#include "support/simprocess.h"
#include "support/switcher.h"

#include <QtTest>

using namespace switcher;

namespace {

// The switcher's line in a folder of its own; the shares beside the test's working directory.
struct Rig {
    ScratchDirectory dir;
    QString lineDir = dir.path() + QStringLiteral("/line");
    bool made = QDir().mkpath(lineDir);
    SimProcess sim{lineDir, 1, {}};
    QString share1 = dir.path() + QStringLiteral("/COM1");
    QString share2 = dir.path() + QStringLiteral("/COM2");

    bool simReady() { return made && sim.waitForLink(); }
    QStringList daemonArguments(int pollSeconds) const
    {
        return {"--port", sim.link(), "--share", share1, "--share", share2,
                "--poll", QString::number(pollSeconds), "--trace"};
    }
    qsizetype framesLike(const QByteArray& frame) { return sim.framesReceived().count(frame); }
};

QString writeFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return {};
    return path;
}

} // namespace

class TestDaemon : public QObject {
    Q_OBJECT

private slots:
    void twoClients_eachGetTheirOwnRepliesAndHearTheOthersChanges()
    {
        Rig rig;
        QVERIFY(rig.simReady());
        DaemonProcess daemon(rig.daemonArguments(0));
        QVERIFY(daemon.waitFor("switcher answering"));
        ShareClient x(rig.share1), y(rig.share2);
        QVERIFY(x.open() && y.open());

        QVERIFY(x.send(buttonFrame(inputIndex(2, 3))));
        QVERIFY(x.waitForTexts(1) && y.waitForTexts(1));
        QCOMPARE(x.texts, QStringList{"s22"});
        QCOMPARE(y.texts, QStringList{"s22"});

        QVERIFY(y.send(edidFrame(10)));
        QVERIFY(y.waitForTexts(2) && x.waitForTexts(2));
        QCOMPARE(y.texts.last(), "EE:");
        QCOMPARE(x.texts.last(), "EE:");

        // A status query changes nothing: only the asker hears its answer.
        QVERIFY(x.send(kStatusQuery));
        QVERIFY(x.waitForTexts(3));
        QCOMPARE(x.texts.last(), "\r\ns10s22s30s40");
        QVERIFY(y.send(buttonFrame(inputIndex(4, 2))));
        QVERIFY(y.waitForTexts(3) && x.waitForTexts(4));
        QCOMPARE(y.texts, (QStringList{"s22", "EE:", "s41"}));
        QCOMPARE(x.texts.last(), "s41");
    }

    void panelWindowOnAShare_followsOtherClientsAndSettlesAfterOneEdidResend()
    {
        Rig rig;
        QVERIFY(rig.simReady());
        DaemonProcess daemon(rig.daemonArguments(0));
        QVERIFY(daemon.waitFor("switcher answering"));
        PanelWindow panel; // opens ./COM1, the share
        QVERIFY(panel.start());
        PanelWindow::click(panel.command1(inputIndex(2, 4)));
        QTRY_COMPARE(panel.lampRows(), controls::rowsFor("0400"));

        ShareClient other(rig.share2);
        QVERIFY(other.open());
        QVERIFY(other.send(buttonFrame(inputIndex(1, 3))));
        QTRY_COMPARE(panel.lampRows(), controls::rowsFor("3400"));

        // The panel sends a mode it is told of once more; its own echo ends the exchange.
        QVERIFY(other.send(edidFrame(6)));
        QTRY_COMPARE(panel.checkedOptions(), QList<int>{6});
        QVERIFY(rig.sim.waitForOutput([&](const QString&) { return rig.framesLike(edidFrame(6)) >= 2; }));
        QVERIFY(other.send(kStatusQuery));
        QVERIFY(other.waitForTexts(3));
        QCOMPARE(rig.framesLike(edidFrame(6)), 2);
        QVERIFY(panel.boxes.shown.isEmpty());
    }

    void frontPanelChanges_reachEveryShare_silentOnesWithinAPoll()
    {
        Rig rig;
        QVERIFY(rig.simReady());
        DaemonProcess daemon(rig.daemonArguments(1));
        QVERIFY(daemon.waitFor("switcher answering"));
        ShareClient x(rig.share1), y(rig.share2);
        QVERIFY(x.open() && y.open());

        QVERIFY(rig.sim.control("front D 4", "front panel"));
        QVERIFY(x.waitForTexts(1) && y.waitForTexts(1));
        QCOMPARE(x.texts, QStringList{"s43"});
        QCOMPARE(y.texts, QStringList{"s43"});

        QVERIFY(rig.sim.control("front A 2 silent", "front panel"));
        QVERIFY(x.waitForTexts(2, 2500) && y.waitForTexts(2, 2500));
        QCOMPARE(x.texts.last(), "s11");
        QCOMPARE(y.texts.last(), "s11");
        // Polls that find nothing new reach nobody.
        QVERIFY(daemon.waitFor("<- 04 55 20 77", 4));
        QCOMPARE(x.texts.size(), 2);
    }

    void unplugAndReplug_offlineThenOnlineWithTheStateReadAgain()
    {
        Rig rig;
        QVERIFY(rig.simReady());
        DaemonProcess daemon(rig.daemonArguments(0));
        QVERIFY(daemon.waitFor("switcher answering"));
        ShareClient x(rig.share1);
        QVERIFY(x.open());

        QVERIFY(rig.sim.control("unplug", "unplugged"));
        QVERIFY(daemon.waitFor("line closed: the device went away"));
        QVERIFY(daemon.waitFor("switcher not answering"));
        QVERIFY(rig.sim.control("front B 4 silent", "front panel"));
        QVERIFY(rig.sim.control("replug", "replugged"));
        QVERIFY(daemon.waitFor("switcher answering", 2, 4000));
        QVERIFY(x.waitForTexts(1));
        QCOMPARE(x.texts, QStringList{"s23"});
        QVERIFY(daemon.count("cannot open the line") <= 1);
    }

    void portHeldByAnotherProgram_oneLogLineThenRetriesUntilFree()
    {
        Rig rig;
        QVERIFY(rig.simReady());
        QtSerialControl holder;
        holder.setDevicePath(QFileInfo(rig.sim.link()).canonicalFilePath());
        QVERIFY(holder.open());
        DaemonProcess daemon(rig.daemonArguments(0));
        QVERIFY(daemon.waitFor("-- cannot open, next try", 2, 5000));
        QCOMPARE(daemon.count("is held by another program; retrying"), 1);
        QVERIFY(holder.close());
        QVERIFY(daemon.waitFor("switcher answering", 1, 8000));
    }

    void missingPort_saidOnceThenOpenedWhenItAppears()
    {
        ScratchDirectory dir;
        const QString link = SimProcess::linkIn(dir.path(), 1);
        DaemonProcess daemon({"--port", link, "--poll", "0", "--trace"});
        QVERIFY(daemon.waitFor("-- cannot open, next try", 2, 5000));
        QCOMPARE(daemon.count(link + " does not exist; retrying"), 1);
        SimProcess sim(dir.path(), 1, {});
        QVERIFY(sim.waitForLink());
        QVERIFY(daemon.waitFor("switcher answering", 1, 8000));
        QCOMPARE(daemon.count("cannot open the line"), 1);
    }

    void silentSwitcher_offlineAfterThreeUnansweredPolls_backAtItsFirstReply()
    {
        Rig rig;
        QVERIFY(rig.simReady());
        DaemonProcess daemon(rig.daemonArguments(1));
        QVERIFY(daemon.waitFor("switcher answering"));
        QVERIFY(rig.sim.control("power 4500", "power off"));
        QVERIFY(daemon.waitFor("switcher not answering", 1, 5000));
        QVERIFY(daemon.output().contains("line open")); // the port itself stays open
        QCOMPARE(daemon.count("line closed"), 0);
        QVERIFY(daemon.waitFor("switcher answering", 2, 5000));
    }

    void badConfiguration_oneLineWithItsPlaceAndExitTwo_beforeAnyPortOpens_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        const QByteArray head = "[switcher]\nport = PORT\n";
        QTest::newRow("unknown section") << head + "[input]\n1 = DVD\n" << ":3: unknown section [input]";
        QTest::newRow("unknown key") << head + "pol = 3\n" << ":3: unknown key pol in [switcher]";
        QTest::newRow("bad value") << head + "poll = soon\n" << ":3: poll is 0 to";
        QTest::newRow("duplicate name") << head + "[inputs]\n1 = DVD\n2 = dvd\n"
                                        << ":5: the name \"dvd\" is given twice (line 4)";
        QTest::newRow("preset names no input") << head + "[preset Night]\nA = 7\n"
                                               << ":4: \"7\" names no input";
        QTest::newRow("share over a file") << head + "share = SHARE\n"
                                           << ":3: SHARE exists and is not a pseudo-terminal link";
    }
    void badConfiguration_oneLineWithItsPlaceAndExitTwo_beforeAnyPortOpens()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        Rig rig;
        QVERIFY(rig.simReady());
        const QString plainFile = writeFile(rig.dir.path() + "/COM5", "mine");
        text.replace("PORT", rig.sim.link().toUtf8()).replace("SHARE", plainFile.toUtf8());
        error.replace("SHARE", plainFile);
        const QString file = writeFile(rig.dir.path() + "/bad.conf", text);
        DaemonProcess daemon({"--config", file});
        QCOMPARE(daemon.waitForExit(), 2);
        const QString out = daemon.output();
        QVERIFY2(out.startsWith("matrixd: " + file + error) && out.count('\n') == 1, qPrintable(out));
        QVERIFY(!rig.sim.output().contains("line opened"));
        QCOMPARE(QFile(plainFile).size(), 4);
    }

    void stopSignal_removesTheLinksClosesThePortAndExitsZero()
    {
        Rig rig;
        QVERIFY(rig.simReady());
        DaemonProcess daemon(rig.daemonArguments(0));
        QVERIFY(daemon.waitFor("switcher answering"));
        QVERIFY(QFileInfo(rig.share1).isSymLink());
        QCOMPARE(daemon.stop(), 0);
        QVERIFY(!QFileInfo(rig.share1).isSymLink() && !QFileInfo(rig.share2).isSymLink());
        QVERIFY(rig.sim.waitForOutput("line closed"));
    }

    void lateAnswer_isNotLeftOnTheShareForTheNextClient()
    {
        ScratchDirectory dir;
        const QString lineDir = dir.path() + QStringLiteral("/line");
        QVERIFY(QDir().mkpath(lineDir));
        SimProcess sim(lineDir, 1, {"--delay", "150"});
        QVERIFY(sim.waitForLink());
        const QString share = dir.path() + QStringLiteral("/COM1");
        DaemonProcess daemon({"--port", sim.link(), "--share", share, "--poll", "0"});
        QVERIFY(daemon.waitFor("switcher answering"));
        for (int input = 1; input <= 4; ++input) {
            const CtlRun impatient =
                runCtl({"--port", share, "route", "B", QString::number(input), "--timeout", "60"});
            QCOMPARE(impatient.exitCode, 4);
            // Opens before or after the late answer: either way it reads only its own.
            const CtlRun next = runCtl({"--port", share, "status", "--json", "--timeout", "2000"});
            QVERIFY2(next.exitCode == 0, qPrintable(show(next)));
        }
        // A client that writes and leaves at once.
        for (int input = 1; input <= 3; ++input) {
            {
                ShareClient hasty(share);
                QVERIFY(hasty.open() && hasty.send(buttonFrame(inputIndex(3, input))));
            }
            ShareClient next(share);
            QVERIFY(next.open());
            QVERIFY(next.ask(kStatusQuery, 1));
            QVERIFY2(next.texts.first().startsWith("\r\ns1"), qPrintable(next.texts.join('|')));
            // Nothing else arrives for it: the hasty client's route answer was not its.
            QVERIFY(!next.waitForTexts(2, 400));
        }
    }

    void burstOnOneShare_doesNotStarveAnother()
    {
        Rig rig;
        QVERIFY(rig.simReady());
        DaemonProcess daemon(rig.daemonArguments(0));
        QVERIFY(daemon.waitFor("switcher answering"));
        ShareClient flood(rig.share1);
        QVERIFY(flood.open());
        QByteArray burst;
        for (int i = 0; i < 1000; ++i)
            burst += kStatusQuery;
        QVERIFY(flood.send(burst));
        for (int i = 0; i < 12; ++i) {
            const CtlRun run = runCtl({"--port", rig.share2, "route", "A", QString::number(i % 4 + 1)});
            QVERIFY2(run.exitCode == 0, qPrintable(QStringLiteral("%1: %2").arg(i).arg(show(run))));
        }
        // The flood's refusals are two log lines, not one a frame.
        QVERIFY(daemon.waitFor("more frames refused: too many commands waiting"));
        QCOMPARE(daemon.count("too many commands waiting"), 2);
    }

    // Shares are checked before any link is replaced: a refused start leaves every link of the
    // running one as it was. A run that was killed leaves its links and locks, and is replaced.
    void secondDaemonOnTheSameShares_isRefusedNamingTheFirst_aKilledOnesLinksAreTaken()
    {
        Rig rig;
        QVERIFY(rig.simReady());
        DaemonProcess first(rig.daemonArguments(0));
        QVERIFY(first.waitFor("switcher answering"));
        const QString firstTarget = QFileInfo(rig.share1).symLinkTarget();
        const QString share3 = rig.dir.path() + QStringLiteral("/COM3");

        DaemonProcess second({"--port", rig.sim.link(), "--share", share3, "--share", rig.share2,
                              "--share", rig.share1, "--poll", "0"});
        QCOMPARE(second.waitForExit(), 2);
        const QString expected =
            QStringLiteral("matrixd: %1 is shared by another matrixd (pid %2)\n")
                .arg(rig.share2)
                .arg(first.pid());
        // Its own new share may have been linked for a moment before the refusal; not another's.
        QVERIFY2(second.output().endsWith(expected), qPrintable(second.output()));
        QCOMPARE(QFileInfo(rig.share1).symLinkTarget(), firstTarget);
        QVERIFY(QFileInfo(rig.share2).exists());
        QVERIFY(!QFileInfo(share3).isSymLink() && !QFileInfo::exists(share3 + ".lock"));
        QCOMPARE(rig.sim.output().count("line opened"), 1);
        ShareClient x(rig.share2);
        QVERIFY(x.open());
        QVERIFY(x.ask(kStatusQuery, 1));
        QCOMPARE(x.texts, QStringList{"\r\ns10s20s30s40"});
        QVERIFY(x.serial.close());

        first.kill();
        QVERIFY(QFileInfo(rig.share1).isSymLink() && QFileInfo::exists(rig.share1 + ".lock"));
        DaemonProcess third(rig.daemonArguments(0));
        QVERIFY(third.waitFor("switcher answering"));
        QCOMPARE(scratch::readFile(rig.share1 + ".lock"), QByteArray::number(third.pid()) + '\n');
        ShareClient y(rig.share1);
        QVERIFY(y.open());
        QVERIFY(y.ask(kStatusQuery, 1));
        QCOMPARE(third.stop(), 0);
        for (const QString& share : {rig.share1, rig.share2})
            QVERIFY(!QFileInfo(share).isSymLink() && !QFileInfo::exists(share + ".lock"));
    }

    void matrixctlWithTheConfiguration_takesNamesAndRunsPresetsThroughAShare()
    {
        Rig rig;
        QVERIFY(rig.simReady());
        const QString config = writeFile(
            rig.dir.path() + "/hall.conf",
            "[switcher]\nport = " + rig.sim.link().toUtf8() + "\nshare = " + rig.share1.toUtf8() +
                "\npoll = 0\n[inputs]\n1 = Blu-ray\n3 = Laptop\n[outputs]\nB = Projector\n"
                "[preset Movie night]\nProjector = Blu-ray\nD = 3\n");
        DaemonProcess daemon({"--config", config});
        QVERIFY(daemon.waitFor("switcher answering"));
        QCOMPARE(show(runCtl({"--config", config, "route", "projector", "Laptop"})),
                 confirmed("B <- 3\n"));
        QCOMPARE(show(runCtl({"--config", config, "preset", "Movie night"})),
                 confirmed("B <- 1\nD <- 3\n"));
        QVERIFY(rig.sim.waitForFrames(4));
        QCOMPARE(rig.sim.framesReceived().mid(1),
                 (QList<QByteArray>{buttonFrame(inputIndex(2, 3)), buttonFrame(inputIndex(2, 1)),
                                    buttonFrame(inputIndex(4, 3))}));
        const CtlRun party = runCtl({"--config", config, "preset", "Party"});
        QCOMPARE(party.exitCode, 2);
        QVERIFY2(party.err.contains("has no preset \"Party\""), qPrintable(show(party)));
    }
};

QTEST_MAIN(TestDaemon)
#include "tst_daemon.moc"
