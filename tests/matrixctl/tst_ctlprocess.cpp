#include "switcher/wire.h"
#include "posix/pseudoterminal.h"
#include "switcher/commandframe.h"
#include "switcher/replies.h"
#include "support/ctlprocess.h"
#include "support/scratchdirectory.h"
#include "support/simprocess.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <csignal>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

// matrixctl as a script runs it: a separate process in a working directory of its own, against
// the simulator or against a pseudo-terminal this test plays.
namespace {

const QRegularExpression
    kWatchLine(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} (.*)$"));

} // namespace

class CtlProcessTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void help_printsUsageAndExitCodes();
    void status_portFromComport_printsRoutesAndLeavesTheFile();
    void routeThenStatus_outputCarriesTheNewInput();
    void stepAndEdid_areConfirmedBySimulator();
    void route_silentSimulator_timesOutWithExitFour();
    void route_noisySimulator_isAWrongReplyWithExitFive();
    void unopenablePort_exitsThree_data();
    void unopenablePort_exitsThree();
    void detect_findsTheSimulatorOnItsComNumberOnly();
    void detect_nothingAnswers_exitsFour();
    void badArguments_refusedBeforeAnythingIsWritten_data();
    void badArguments_refusedBeforeAnythingIsWritten();
    void watch_printsDecodedRepliesUntilTerminated();

private:
    SimProcess& startSim(int port, const QStringList& extra = {});
    // A pseudo-terminal linked as COM<port> that answers nothing unless the test writes.
    PseudoTerminal& linkPty(int port);
    // Starts `matrixctl watch` on COM<port> and waits until it demonstrably listens.
    void startWatch(PseudoTerminal& pty, int port, const QStringList& extra);
    // Sends a reply like the switcher and waits until watch has printed `expected`.
    bool replyAndAwait(PseudoTerminal& pty, const QByteArray& bytes, const QString& expected);

    std::unique_ptr<ScratchDirectory> dir_;
    std::vector<std::unique_ptr<SimProcess>> sims_;
    std::vector<std::unique_ptr<PseudoTerminal>> ptys_;
    std::unique_ptr<QProcess> watch_;
    QString watchOut_;
};

void CtlProcessTest::init()
{
    dir_ = std::make_unique<ScratchDirectory>();
    QVERIFY(dir_->isValid());
}

void CtlProcessTest::cleanup()
{
    if (watch_ && watch_->state() != QProcess::NotRunning) {
        watch_->kill();
        watch_->waitForFinished();
    }
    watch_.reset();
    watchOut_.clear();
    sims_.clear();
    ptys_.clear();
    dir_.reset();
}

SimProcess& CtlProcessTest::startSim(int port, const QStringList& extra)
{
    sims_.push_back(std::make_unique<SimProcess>(dir_->path(), port, extra));
    if (!sims_.back()->waitForLink())
        qWarning("matrix-sim did not come up on COM%d:\n%s", port, qPrintable(sims_.back()->output()));
    return *sims_.back();
}

PseudoTerminal& CtlProcessTest::linkPty(int port)
{
    ptys_.push_back(std::make_unique<PseudoTerminal>());
    PseudoTerminal& pty = *ptys_.back();
    if (!pty.open() || !pty.linkAs(SimProcess::linkIn(dir_->path(), port)))
        qWarning("no pseudo-terminal for COM%d", port);
    return pty;
}

void CtlProcessTest::help_printsUsageAndExitCodes()
{
    const CtlRun run = runCtl({QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.startsWith(QStringLiteral("Usage: matrixctl [options]")));
    QVERIFY(run.out.contains(QStringLiteral("Exit status: 0 confirmed, 2 bad arguments")));
    QVERIFY(run.err.isEmpty());
}

void CtlProcessTest::status_portFromComport_printsRoutesAndLeavesTheFile()
{
    startSim(1, {QStringLiteral("--routes"), QStringLiteral("1234")});
    startSim(4, {"--routes", "4321", "--no-pacing"});

    // No COMPORT: COM1, as the panel would; and none is created.
    QCOMPARE(show(runCtl({"status"})), confirmed("A <- 1\nB <- 2\nC <- 3\nD <- 4\n"));
    QVERIFY(!QFileInfo::exists(QStringLiteral("COMPORT")));

    // COMPORT holding "3" in the panel's format names COM4; matrixctl leaves it as it was.
    scratch::writeFile(QStringLiteral("COMPORT"), "3");
    QCOMPARE(show(runCtl({"status", "--json"})), confirmed("{\"A\":4,\"B\":3,\"C\":2,\"D\":1}\n"));
    QCOMPARE(scratch::readFile(QStringLiteral("COMPORT")), QByteArray("3"));
}

void CtlProcessTest::routeThenStatus_outputCarriesTheNewInput()
{
    SimProcess& sim = startSim(2, {"--routes", "1111"});
    QCOMPARE(show(runCtl({"route", "B", "3", "--port", "COM2"})), confirmed("B <- 3\n"));
    QCOMPARE(show(runCtl({"status", "--json", "--port", "COM2"})),
             confirmed("{\"A\":1,\"B\":3,\"C\":1,\"D\":1}\n"));
    // One frame each, nothing retried.
    QVERIFY(sim.waitForFrames(2));
    QCOMPARE(sim.framesReceived(),
             (QList<QByteArray>{buttonCommandFrame(inputButtonIndex(2, 3)), statusQueryFrame()}));
}

void CtlProcessTest::stepAndEdid_areConfirmedBySimulator()
{
    startSim(1, {"--routes", "1234"});

    CtlRun run = runCtl({"step", "C", "right"});
    QCOMPARE(run.exitCode, 0);
    const QRegularExpression stepped(QStringLiteral("^C <- ([1-4])\n$"));
    const auto match = stepped.match(run.out);
    QVERIFY2(match.hasMatch(), qPrintable(show(run)));
    // What step printed is what the switcher now routes.
    run = runCtl({"status"});
    QVERIFY2(run.out.contains(QStringLiteral("\nC <- %1\n").arg(match.captured(1))),
             qPrintable(show(run)));

    run = runCtl({"step", "3", "left"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(stepped.match(run.out).hasMatch(), qPrintable(show(run)));

    QCOMPARE(show(runCtl({"edid", "2D-5.1CH"})), confirmed("EDID 2D-5.1CH\n"));
    QCOMPARE(show(runCtl({"edid", "copy", "from", "D"})), confirmed("EDID COPY FROM OUTPUT4\n"));
    QCOMPARE(show(runCtl({"edid", "10", "--json"})),
             confirmed("{\"caption\":\"3D-7.1CH\",\"mode\":10}\n"));
}

void CtlProcessTest::route_silentSimulator_timesOutWithExitFour()
{
    SimProcess& sim = startSim(1, {"--silent"});
    QElapsedTimer clock;
    clock.start();
    const CtlRun run = runCtl({"route", "B", "3", "--timeout", "300"});
    QVERIFY(clock.elapsed() >= 300);
    QCOMPARE(run.exitCode, 4);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^matrixctl: no reply from COM1 \\(.*\\) within 300 ms\n$"))
                 .match(run.err)
                 .hasMatch(),
             qPrintable(run.err));
    QVERIFY(sim.waitForFrames(1));
    QCOMPARE(sim.framesReceived(), QList<QByteArray>{buttonCommandFrame(inputButtonIndex(2, 3))});
}

void CtlProcessTest::route_noisySimulator_isAWrongReplyWithExitFive()
{
    startSim(1, {"--noise"});
    const CtlRun run = runCtl({"route", "B", "3"});
    QCOMPARE(run.exitCode, 5);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith(QStringLiteral("matrixctl: wrong reply \"#?%s22\", expected a "
                                               "route reply for output B <- 3")),
             qPrintable(run.err));
    QCOMPARE(run.err.count(u'\n'), 1);
}

void CtlProcessTest::unopenablePort_exitsThree_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing device") << QStringList{"status", "--port", "/nonexistent/ttyX"}
                                    << "matrixctl: cannot open /nonexistent/ttyX: missing";
    QTest::newRow("dangling COM link")
        << QStringList{"route", "A", "1", "--port", "COM2"} << "matrixctl: cannot open COM2 (";
    QTest::newRow("watch on a missing device")
        << QStringList{"watch", "--port", "/nonexistent/tty"}
        << "matrixctl: cannot open /nonexistent/tty: missing";
}

void CtlProcessTest::unopenablePort_exitsThree()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts/77"), QStringLiteral("COM2")));
    const CtlRun run = runCtl(args);
    QCOMPARE(run.exitCode, 3);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith(message), qPrintable(run.err));
    QCOMPARE(run.err.count(u'\n'), 1);
}

void CtlProcessTest::detect_findsTheSimulatorOnItsComNumberOnly()
{
    startSim(3);
    startSim(7, {"--noise"}); // answers, but not with a status reply
    // Every other COM number is a line with nothing on it, so no real device is touched.
    for (int n : {1, 2, 4, 5, 6, 8, 9, 10})
        linkPty(n);

    QCOMPARE(show(runCtl({"detect"})), confirmed("COM3\n"));
    // Each silent line got the status query, once.
    for (const auto& pty : ptys_)
        QCOMPARE(pty->read(2s, 4), statusQueryFrame());

    QCOMPARE(show(runCtl({"detect", "--json", "--timeout", "400"})),
             confirmed("{\"ports\":[\"COM3\"]}\n"));
}

void CtlProcessTest::detect_nothingAnswers_exitsFour()
{
    for (int n = 1; n <= 10; ++n)
        linkPty(n);
    QElapsedTimer clock;
    clock.start();
    const CtlRun run = runCtl({"detect", "--timeout", "200"});
    // The ports are tried together: one timeout, not ten.
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(show(run), show({4, {}, "matrixctl: no switcher answered on COM1 to COM10\n"}));
}

void CtlProcessTest::badArguments_refusedBeforeAnythingIsWritten_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("written");
    const QByteArray nothing;
    QTest::newRow("route to input 9") << QStringList{"route", "B", "9"} << 2 << nothing;
    QTest::newRow("route to output E") << QStringList{"route", "E", "1"} << 2 << nothing;
    QTest::newRow("route without input") << QStringList{"route", "B"} << 2 << nothing;
    QTest::newRow("step up") << QStringList{"step", "A", "up"} << 2 << nothing;
    QTest::newRow("edid 11") << QStringList{"edid", "11"} << 2 << nothing;
    QTest::newRow("edid unknown caption") << QStringList{"edid", "4K"} << 2 << nothing;
    QTest::newRow("timeout 0") << QStringList{"status", "--timeout", "0"} << 2 << nothing;
    QTest::newRow("unknown option") << QStringList{"status", "--fast"} << 2 << nothing;
    QTest::newRow("unknown command") << QStringList{"reboot"} << 2 << nothing;
    // The same line shows a frame when the arguments are good.
    QTest::newRow("control: status")
        << QStringList{"status", "--timeout", "100"} << 4 << statusQueryFrame();
}

void CtlProcessTest::badArguments_refusedBeforeAnythingIsWritten()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, written);
    PseudoTerminal& pty = linkPty(1);
    const CtlRun run = runCtl(args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith(QStringLiteral("matrixctl: ")), qPrintable(run.err));
    QCOMPARE(run.err.count(u'\n'), 1);
    // matrixctl has ended: whatever it wrote is in the line by now.
    QCOMPARE(pty.read(200ms, 64).toHex(' '), written.toHex(' '));
}

void CtlProcessTest::startWatch(PseudoTerminal& pty, int port, const QStringList& extra)
{
    watch_ = std::make_unique<QProcess>();
    watch_->start(QStringLiteral(MATRIXCTL_PATH),
                  QStringList{QStringLiteral("watch"), QStringLiteral("--port"),
                              QStringLiteral("COM%1").arg(port)} +
                      extra);
    QVERIFY(watch_->waitForStarted());
    // Bytes sent before watch opened the port are dropped, so send numbered marks until one
    // is printed; the last one sent then arrives too, and nothing is left in flight.
    int sent = 0;
    QElapsedTimer since;
    const auto listening = [&] {
        watchOut_ += QString::fromUtf8(watch_->readAllStandardOutput());
        if (!watchOut_.contains(QStringLiteral("mark"))) {
            if (!since.isValid() || since.elapsed() >= 100) {
                pty.write(QByteArray("mark") + QByteArray::number(++sent));
                since.restart();
            }
            return false;
        }
        // Quoted as free text, and as the text of a JSON line.
        return watchOut_.contains(QStringLiteral("\"mark%1\"").arg(sent));
    };
    QTRY_VERIFY_WITH_TIMEOUT(listening(), 10'000);
    watchOut_.clear();
}

bool CtlProcessTest::replyAndAwait(PseudoTerminal& pty, const QByteArray& bytes,
                                   const QString& expected)
{
    if (!pty.write(bytes, wire::kByteTime))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10'000) {
        watchOut_ += QString::fromUtf8(watch_->readAllStandardOutput());
        if (watchOut_.contains(expected))
            return true;
        watch_->waitForReadyRead(100);
    }
    return false;
}

void CtlProcessTest::watch_printsDecodedRepliesUntilTerminated()
{
    PseudoTerminal& pty = linkPty(2);
    startWatch(pty, 2, {});
    QVERIFY(replyAndAwait(pty, reply::route(2, 3), QStringLiteral("HDMI Out2 -> HDMI In 3\n")));
    QVERIFY(replyAndAwait(pty, "#?%\r\n", QStringLiteral("\"#?%\\r\\n\"\n")));
    QVERIFY(replyAndAwait(pty, reply::edid(6), QStringLiteral("EDID 2D-5.1CH\n")));
    QVERIFY(replyAndAwait(pty, reply::status({4, 3, 2, 1}),
                          QStringLiteral("HDMI Out4 -> HDMI In 1\n")));

    QStringList messages;
    for (const QString& line : watchOut_.split(u'\n', Qt::SkipEmptyParts)) {
        const auto match = kWatchLine.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        messages << match.captured(1);
    }
    QCOMPARE(messages, (QStringList{"HDMI Out2 -> HDMI In 3", "\"#?%\\r\\n\"", "EDID 2D-5.1CH",
                                    "HDMI Out1 -> HDMI In 4", "HDMI Out2 -> HDMI In 3",
                                    "HDMI Out3 -> HDMI In 2", "HDMI Out4 -> HDMI In 1"}));

    // It wrote nothing to the switcher, and ends cleanly when interrupted (Ctrl+C).
    QCOMPARE(pty.read(50ms), QByteArray());
    ::kill(static_cast<pid_t>(watch_->processId()), SIGINT);
    QVERIFY(watch_->waitForFinished(5'000));
    QCOMPARE(watch_->exitStatus(), QProcess::NormalExit);
    QCOMPARE(watch_->exitCode(), 0);
    QCOMPARE(watch_->readAllStandardError(), QByteArray());
}

QTEST_GUILESS_MAIN(CtlProcessTest)
#include "tst_ctlprocess.moc"
