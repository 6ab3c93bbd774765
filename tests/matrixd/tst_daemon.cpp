// matrixd between the switcher simulator and its clients, all real processes and
// pseudo-terminals: the panel's window, the panel's serial control, matrixctl.

#include "support/ctlprocess.h"
#include "support/daemonprocess.h"
#include "support/panelwindow.h"
#include "support/scratchdirectory.h"
#include "support/simprocess.h"
#include "support/switcher.h"

#include <QtTest>

#include <sys/stat.h>

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
        QTest::newRow("share is a folder") << head + "share = DIR\n"
                                           << ":3: DIR exists and is not a pseudo-terminal link";
        QTest::newRow("share in a missing folder")
            << head + "share = DIR/gone/COM3\n"
            << ":3: cannot link DIR/gone/COM3: no folder DIR/gone";
        QTest::newRow("share group unknown")
            << head + "share = DIR/COM3\nshare_group = no-such-group\n"
            << ":4: no group no-such-group";
        // A share at the port's own link would become the line matrixd opens.
        QTest::newRow("share is the port") << head + "share = PORT\n"
                                           << ":3: share PORT is the switcher's port PORT";
        QTest::newRow("share is the port through a linked folder")
            << head + "share = DIR/linked/COM1\n"
            << ":3: share DIR/linked/COM1 is the switcher's port PORT";
        QTest::newRow("share is COM1 as the port maps it")
            << QByteArray("[switcher]\nport = COM1\nshare = COM1\n")
            << ":3: share COM1 is the switcher's port COM1";
        QTest::newRow("two shares, one place")
            << head + "share = LINEDIR/COM7\nshare = DIR/linked/COM7\n"
            << ":4: share DIR/linked/COM7 is the same place as share LINEDIR/COM7";
        // Faults of a whole section name where the section or its key is.
        QTest::newRow("no port") << QByteArray("[inputs]\n1 = DVD\n") << ": no port";
        QTest::newRow("no port in [switcher]")
            << QByteArray("[inputs]\n1 = DVD\n[switcher]\npoll = 1\n") << ":3: no port";
        QTest::newRow("mqtt without a host") << head + "[mqtt]\nport = 1884\n"
                                             << ":3: [mqtt] needs a host";
        // Read without blocking: a FIFO would hold the start before any signal is handled.
        QTest::newRow("FIFO as mqtt password_file")
            << head + "[mqtt]\nhost = 127.0.0.1\nusername = u\npassword_file = FIFO\n"
            << ":6: cannot read password_file FIFO: not a regular file";
        QTest::newRow("folder as http password_file")
            << head + "[http]\npassword_file = DIR\n"
            << ":4: cannot read password_file DIR: not a regular file";
        QTest::newRow("FIFO as mqtt cafile") << head + "[mqtt]\nhost = 127.0.0.1\ncafile = FIFO\n"
                                             << ":3: cannot read cafile FIFO: not a regular file";
        QTest::newRow("FIFO as https certificate")
            << head + "[http]\ncertificate = FIFO\nkey = FIFO\n"
            << ":3: cannot read certificate FIFO: not a regular file";
    }
    void badConfiguration_oneLineWithItsPlaceAndExitTwo_beforeAnyPortOpens()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        Rig rig;
        QVERIFY(rig.simReady());
        const QString plainFile = writeFile(rig.dir.path() + "/COM5", "mine");
        const QString fifo = rig.dir.path() + "/fifo";
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        // The line's folder seen through a link, and COM1 linked to the switcher as a user does.
        QVERIFY(QFile::link(rig.lineDir, rig.dir.path() + "/linked"));
        QVERIFY(QFile::link(QFileInfo(rig.sim.link()).symLinkTarget(), rig.dir.path() + "/COM1"));
        const QList<std::pair<QString, QString>> places{{"LINEDIR", rig.lineDir},
                                                        {"DIR", rig.dir.path()},
                                                        {"PORT", rig.sim.link()},
                                                        {"SHARE", plainFile},
                                                        {"FIFO", fifo}};
        for (const auto& [name, path] : places) {
            text.replace(name.toUtf8(), path.toUtf8());
            error.replace(name, path);
        }
        const QString file = writeFile(rig.dir.path() + "/bad.conf", text);
        // --check finds what a start finds.
        for (const QStringList& arguments :
             {QStringList{"--config", file}, QStringList{"--config", file, "--check"}}) {
            DaemonProcess daemon(arguments);
            QCOMPARE(daemon.waitForExit(), 2);
            const QString out = daemon.output();
            QVERIFY2(out.startsWith("matrixd: " + file + error) && out.count('\n') == 1,
                     qPrintable(arguments.join(' ') + ": " + out));
        }
        QVERIFY(!rig.sim.output().contains("line opened"));
        QCOMPARE(QFile(plainFile).size(), 4);
        QCOMPARE(QFileInfo(rig.sim.link()).symLinkTarget(),
                 QFileInfo(rig.dir.path() + "/COM1").symLinkTarget());
    }

    void configurationFile_readWholeOrRefused_neverWaitedForOrCut_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("FIFO") << "fifo" << ": not a regular file";
        QTest::newRow("folder") << "folder" << ": not a regular file";
        QTest::newRow("over 1 MiB") << "large" << ": more than 1 MiB, too large";
        QTest::newRow("1 MiB exactly") << "limit" << QString();
    }
    void configurationFile_readWholeOrRefused_neverWaitedForOrCut()
    {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        ScratchDirectory dir;
        const QString file = dir.path() + "/hall.conf";
        // A [mqtt] section after a megabyte of comments, which a cut would lose unseen.
        const QByteArray head = "[switcher]\nport = " + dir.path().toUtf8() + "/line\n";
        const QByteArray tail = "[mqtt]\nhost = 127.0.0.1\n";
        const qsizetype limit = qsizetype{1} << 20;
        QByteArray text = head;
        while (text.size() + tail.size() < limit) {
            const qsizetype room = limit - tail.size() - text.size();
            text += QByteArray(std::min<qsizetype>(99, room - 1), '#') + '\n';
        }
        text += tail;
        QCOMPARE(text.size(), limit);
        // One comment more, and the whole section lies beyond the limit.
        const QByteArray large = QByteArray(text).insert(head.size(), QByteArray(99, '#') + '\n');
        if (kind == "fifo")
            QCOMPARE(::mkfifo(file.toLocal8Bit().constData(), 0600), 0);
        else if (kind == "folder")
            QVERIFY(QDir().mkpath(file));
        else
            QCOMPARE(writeFile(file, kind == "large" ? large : text), file);
        DaemonProcess check({"--config", file, "--check"});
        if (error.isEmpty()) {
            QCOMPARE(check.waitForExit(), 0);
            QVERIFY2(check.output().contains("[mqtt]\nhost = 127.0.0.1\n"),
                     qPrintable(check.output()));
            return;
        }
        QCOMPARE(check.waitForExit(), 2);
        QCOMPARE(check.output(), "matrixd: " + file + error + "\n");
        DaemonProcess start({"--config", file});
        QCOMPARE(start.waitForExit(), 2);
        QCOMPARE(start.output(), "matrixd: " + file + error + "\n");
        const CtlRun ctl = runCtl({"--config", file, "status"});
        QCOMPARE(ctl.exitCode, 2);
        QVERIFY2(ctl.err.contains(file + error), qPrintable(show(ctl)));
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
        // A raw client that writes and leaves at once is not covered here: when this process
        // wakes late to its close and the next client's open together, the answer can still
        // reach the next client (seen once under the sanitizers).
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
