// The panel's real window over its real serial control, against the switcher simulator (or a
// pseudo-terminal the test plays itself) on a real pseudo-terminal line.

#include "switcher/wire.h"
#include "posix/pseudoterminal.h"
#include "link/portchoice.h"
#include "support/panelwindow.h"
#include "support/scratchdirectory.h"
#include "support/simprocess.h"
#include "support/switcher.h"

#include <QtTest>

#include <array>
#include <memory>
#include <vector>

using namespace std::chrono_literals;
using namespace switcher;
using controls::kAllDark;
using controls::row;
using controls::rowsFor;

namespace {

QStringList asTexts(const QList<QByteArray>& replies)
{
    QStringList texts;
    for (const QByteArray& reply : replies)
        texts << QString::fromLatin1(reply);
    return texts;
}

using Panel = PanelWindow;

// The simulator on COM1 and a panel started on it.
struct Rig {
    Rig(const QString& dir, const QStringList& options) : sim(dir, 1, options) {}
    SimProcess sim;
    Panel panel;
};

// A line the test plays itself, linked as COM<port> in dir.
bool openLine(PseudoTerminal& line, const QString& dir, int port)
{
    return line.open() && line.linkAs(SimProcess::linkIn(dir, port));
}

} // namespace

class TestPanelE2E : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        dir_ = std::make_unique<ScratchDirectory>();
        QVERIFY(dir_->isValid());
    }

    void cleanup()
    {
        rig_.reset();
        dir_.reset();
    }

    // --- Connecting -------------------------------------------------------------------------

    void startUpWithSimulatorRunning_connectsWithoutBoxAndWritesNothing()
    {
        QVERIFY(startOnSimulator({"--routes", "2413"}));
        auto& [sim, panel] = *rig_;

        QCOMPARE(panel.boxes.shown.size(), 0);
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
        QVERIFY(panel.serial.isOpen());
        QVERIFY(sim.waitForOutput(QStringLiteral("-- line opened")));
        QCOMPARE(panel.lampRows(), kAllDark);
        QCOMPARE(panel.log(), QString());

        // The operator's first frame fences off anything start-up might have written.
        QVERIFY(panel.clickAndWait(panel.button("Command6")));
        QVERIFY(sim.waitForFrames(1));
        QCOMPARE(sim.framesReceived(), QList<QByteArray>{kStatusQuery});
        QCOMPARE(panel.textsSoFar(), QStringList{QString::fromLatin1(statusReply("2413"))});
        QCOMPARE(panel.log(), statusEntries("2413"));
    }

    void disconnectThenConnect_writesStatusQueryOnceAndLampsFollowTheRouting()
    {
        QVERIFY(startOnSimulator({"--routes", "2413"}));
        auto& [sim, panel] = *rig_;

        Panel::click(panel.button("Command7"));
        QCOMPARE(panel.display(), QStringLiteral("Connect red"));
        QVERIFY(!panel.serial.isOpen());
        QVERIFY(sim.waitForOutput(QStringLiteral("-- line closed")));

        QVERIFY(panel.clickAndWait(panel.button("Command7")));
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
        QCOMPARE(panel.boxes.shown.size(), 0);
        QVERIFY(sim.waitForFrames(1));
        QCOMPARE(sim.framesReceived(), QList<QByteArray>{kStatusQuery});
        QCOMPARE(sim.repliesSent(), QList<QByteArray>{statusReply("2413")});
        QCOMPARE(panel.lampRows(), rowsFor("2413"));
        QCOMPARE(panel.log(), statusEntries("2413"));
    }

    // --- Routing ----------------------------------------------------------------------------

    void everyInputButtonOfEveryBlock_routesAndLightsOnlyItsLamp()
    {
        QVERIFY(startOnSimulator({}));
        auto& [sim, panel] = *rig_;

        QStringList rows = kAllDark;
        QString log;
        QList<QByteArray> frames;
        QList<QByteArray> replies;
        for (int output = 1; output <= 4; ++output) {
            // Out of order, so every click moves the lit lamp to another place.
            for (const int input : {3, 1, 4, 2}) {
                const int index = inputIndex(output, input);
                QVERIFY2(panel.clickAndWait(panel.command1(index)),
                         qPrintable(QStringLiteral("no reply to button %1").arg(index)));
                frames << buttonFrame(index);
                replies << routeReply(output, input);
                rows[output - 1] = row(input);
                log += routeEntry(output, input);
                QCOMPARE(panel.lampRows(), rows);
                QCOMPARE(panel.log(), log);
            }
        }
        QVERIFY(sim.waitForFrames(frames.size()));
        QCOMPARE(sim.framesReceived(), frames);
        QCOMPARE(sim.repliesSent(), replies);
        QCOMPARE(panel.textsSoFar(), asTexts(replies));
        QCOMPARE(panel.boxes.shown.size(), 0);
    }

    void arrowsOfEveryBlock_stepTheInputDownAndUpAndWrap()
    {
        QVERIFY(startOnSimulator({"--routes", "1414"}));
        auto& [sim, panel] = *rig_;
        QVERIFY(panel.clickAndWait(panel.button("Command6")));
        QStringList rows = rowsFor("1414");
        QCOMPARE(panel.lampRows(), rows);

        QString log = panel.log();
        QList<QByteArray> frames{kStatusQuery};
        for (int output = 1; output <= 4; ++output) {
            int input = output % 2 == 1 ? 1 : 4;
            // From 1 and from 4 this wraps both ways.
            for (const bool right : {false, true, true, false, false}) {
                const int index = arrowIndex(output, right);
                QVERIFY(panel.clickAndWait(panel.command1(index)));
                input = right ? input % 4 + 1 : (input + 2) % 4 + 1;
                frames << buttonFrame(index);
                rows[output - 1] = row(input);
                log += routeEntry(output, input);
                QCOMPARE(panel.lampRows(), rows);
                QCOMPARE(panel.log(), log);
            }
        }
        QVERIFY(sim.waitForFrames(frames.size()));
        QCOMPARE(sim.framesReceived(), frames);
    }

    // --- EDID -------------------------------------------------------------------------------

    void eachEdidOption_roundTripsAndNoSecondFrameFollows()
    {
        QVERIFY(startOnSimulator({}));
        auto& [sim, panel] = *rig_;

        QString log;
        QList<QByteArray> frames;
        QList<QByteArray> replies;
        // The last click is on the option already selected: it sends again.
        for (const int mode : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10}) {
            QVERIFY(panel.clickAndWait(panel.option(mode)));
            frames << edidFrame(mode);
            replies << edidReply(mode);
            log += edidEntry(mode);
            QCOMPARE(panel.checkedOptions(), QList<int>{mode});
            QCOMPARE(panel.log(), log);
        }
        // The status query fences off any frame the replies might have caused.
        QVERIFY(panel.clickAndWait(panel.button("Command6")));
        frames << kStatusQuery;
        replies << statusReply("1111");
        QVERIFY(sim.waitForFrames(frames.size()));
        QCOMPARE(sim.framesReceived(), frames);
        QCOMPARE(sim.repliesSent(), replies);
        QCOMPARE(panel.textsSoFar(), asTexts(replies));
        QCOMPARE(panel.boxes.shown.size(), 0);
    }

    // The simulator answers an EDID command only with the mode it was asked for, so a switcher
    // that changes its mode by itself is played here on a line of the test's own.
    void edidReplyForANewMode_selectsItsOptionAndWritesItsFrameOnce()
    {
        PseudoTerminal line;
        QVERIFY(openLine(line, dir_->path(), 1));
        Panel panel;
        QVERIFY(panel.start());
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));

        QString log;
        for (const int mode : {6, 0, 10, 3, 1, 9, 4, 7, 2, 8, 5}) {
            const qsizetype before = panel.texts.count();
            QVERIFY(line.write(edidReply(mode), wire::kByteTime));
            QVERIFY(panel.waitForTexts(before + 1));
            log += edidEntry(mode);
            QCOMPARE(panel.log(), log);
            QCOMPARE(panel.checkedOptions(), QList<int>{mode});
            // Written while the reply was handled, so it is on the line already.
            QCOMPARE(line.read(1000ms, 5), edidFrame(mode));
        }

        // The mode already selected: logged, nothing sent.
        QVERIFY(line.write(edidReply(5)));
        QVERIFY(panel.waitForTexts(panel.texts.count() + 1));
        log += edidEntry(5);
        QCOMPARE(panel.log(), log);
        QCOMPARE(panel.checkedOptions(), QList<int>{5});
        // The status query fences off a frame that the last replies might have written.
        Panel::click(panel.button("Command6"));
        QCOMPARE(line.read(1000ms, 4), kStatusQuery);
        QCOMPARE(panel.boxes.shown.size(), 0);
    }

    // --- Replies over the line --------------------------------------------------------------

    void repliesSplitWithinTheSettleWait_areDecodedWhole()
    {
        // Unpaced, so that only the 10 ms gap separates the halves.
        QVERIFY(startOnSimulator({"--no-pacing", "--split-gap", "10", "--routes", "2413"}));
        auto& [sim, panel] = *rig_;

        QVERIFY(panel.clickAndWait(panel.button("Command6")));
        QVERIFY(panel.clickAndWait(panel.command1(inputIndex(2, 3))));
        QVERIFY(panel.clickAndWait(panel.option(6)));
        // Fences off a second EDID frame.
        QVERIFY(panel.clickAndWait(panel.button("Command6")));

        const QList<QByteArray> replies{statusReply("2413"), routeReply(2, 3), edidReply(6),
                                        statusReply("2313")};
        QCOMPARE(panel.textsSoFar(), asTexts(replies));
        QCOMPARE(panel.log(),
                 statusEntries("2413") + routeEntry(2, 3) + edidEntry(6) + statusEntries("2313"));
        QCOMPARE(panel.lampRows(), rowsFor("2313"));
        QCOMPARE(panel.checkedOptions(), QList<int>{6});
        QVERIFY(sim.waitForFrames(4));
        QCOMPARE(sim.framesReceived(),
                 (QList<QByteArray>{kStatusQuery, buttonFrame(inputIndex(2, 3)), edidFrame(6),
                                    kStatusQuery}));
        QCOMPARE(sim.repliesSent(), replies);
        QCOMPARE(sim.output().count(QStringLiteral("in 2 writes 10 ms apart")), 4);
    }

    void repliesSplitBeyondTheSettleWait_giveTwoTextsDecodedEachAlone()
    {
        QVERIFY(startOnSimulator({"--no-pacing", "--split-gap", "60"}));
        auto& [sim, panel] = *rig_;

        // "s" and "22": neither is a route reply, both go to the log as they are.
        QVERIFY(panel.clickAndWait(panel.command1(inputIndex(2, 3)), 2));
        QCOMPARE(panel.log(), QStringLiteral("s22"));
        QCOMPARE(panel.lampRows(), kAllDark);
        // "E" and "E6": free text; the option stays as the operator's click left it.
        QVERIFY(panel.clickAndWait(panel.option(6), 2));
        QCOMPARE(panel.checkedOptions(), QList<int>{6});
        // CR LF "s10s2" fails the status rule for want of its third group, "2s30s40" is text.
        QVERIFY(panel.clickAndWait(panel.button("Command6"), 2));

        QCOMPARE(panel.textsSoFar(), (QStringList{"s", "22", "E", "E6", "\r\ns10s2", "2s30s40"}));
        QCOMPARE(panel.log(), QStringLiteral("s22EE6\r\ns10s22s30s40"));
        QCOMPARE(panel.lampRows(), kAllDark);
        QCOMPARE(panel.checkedOptions(), QList<int>{6});
        // The status query fences off an EDID frame that a half might have caused.
        QVERIFY(sim.waitForFrames(3));
        QCOMPARE(sim.framesReceived(),
                 (QList<QByteArray>{buttonFrame(inputIndex(2, 3)), edidFrame(6), kStatusQuery}));
    }

    // One write that the settle wait takes whole: only the text's first route counts.
    void routeRepliesInOneSettleWait_onlyTheFirstCounts()
    {
        PseudoTerminal line;
        QVERIFY(openLine(line, dir_->path(), 1));
        Panel panel;
        QVERIFY(panel.start());

        QVERIFY(line.write("s12s23s30s41"));
        QVERIFY(panel.waitForTexts(1));
        QCOMPARE(panel.textsSoFar(), QStringList{"s12s23s30s41"});
        QCOMPARE(panel.log(), routeEntry(1, 3));
        QCOMPARE(panel.lampRows(), rowsFor("3000"));
    }

    // --- Faults on the line -----------------------------------------------------------------

    void faultyReplies_lightNoWrongLampAndLogWhatArrives_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("noise");
        QTest::addRow("noise: every reply is free text") << QStringList{"--noise"} << true;
        QTest::addRow("high bit: every reply is dropped") << QStringList{"--high-bit"} << false;
    }

    void faultyReplies_lightNoWrongLampAndLogWhatArrives()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, noise);
        Panel panel;
        {
            // A clean switcher first, so that the lamps have something to lose.
            SimProcess clean(dir_->path(), 1, {"--routes", "2413"});
            QVERIFY(clean.waitForLink());
            QVERIFY(panel.start());
            QVERIFY(panel.clickAndWait(panel.button("Command6")));
            QCOMPARE(panel.lampRows(), rowsFor("2413"));
            Panel::click(panel.button("Command7"));
            QCOMPARE(panel.display(), QStringLiteral("Connect red"));
        }
        // Routes that would change every lamp if a reply were decoded.
        SimProcess faulty(dir_->path(), 1, options + QStringList{"--routes", "3142"});
        QVERIFY(faulty.waitForLink());
        const QString logBefore = panel.log();
        const qsizetype textsBefore = panel.texts.count();

        QList<QByteArray> clean;
        QVERIFY(panel.clickAndWait(panel.button("Command7")));
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
        clean << statusReply("3142");
        QCOMPARE(panel.lampRows(), rowsFor("2413"));
        for (int output = 1; output <= 4; ++output) {
            for (int input = 1; input <= 4; ++input) {
                QVERIFY(panel.clickAndWait(panel.command1(inputIndex(output, input))));
                clean << routeReply(output, input);
                QCOMPARE(panel.lampRows(), rowsFor("2413"));
            }
        }
        QVERIFY(panel.clickAndWait(panel.option(5)));
        clean << edidReply(5);
        QCOMPARE(panel.checkedOptions(), QList<int>{5});

        QList<QByteArray> sent;
        QStringList read;
        for (QByteArray reply : clean) {
            if (noise) {
                reply.prepend("#?%");
                read << QString::fromLatin1(reply);
            } else {
                reply.insert(reply.size() / 2, '\xFF');
                read << QString();
            }
            sent << reply;
        }
        QCOMPARE(panel.textsSoFar().mid(textsBefore), read);
        QCOMPARE(panel.log(), logBefore + read.join(QString()));
        QCOMPARE(panel.lampRows(), rowsFor("2413"));
        QVERIFY(faulty.waitForFrames(18));
        QCOMPARE(faulty.repliesSent(), sent);
        QCOMPARE(panel.boxes.shown.size(), 0);
    }

    void simulatorHangsUp_panelShowsNotConnectedWithoutBoxAndReconnectsWhenItIsBack()
    {
        Panel panel;
        QSignalSpy lost(&panel.serial, &SerialControl::deviceLost);
        {
            SimProcess first(dir_->path(), 1, {"--hangup-after", "1"});
            QVERIFY(first.waitForLink());
            QVERIFY(panel.start());
            QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
            QVERIFY(panel.clickAndWait(panel.command1(inputIndex(2, 3))));
            QCOMPARE(panel.log(), routeEntry(2, 3));

            QVERIFY(lost.count() > 0 || lost.wait(kReplyTimeoutMs));
            QCOMPARE(panel.display(), QStringLiteral("Connect red"));
            QVERIFY(!panel.serial.isOpen());
            QVERIFY(panel.form.isVisible());
            QCOMPARE(panel.boxes.shown.size(), 0);
            // It may have ended already, while the waits above ran the event loop.
            QVERIFY(first.process().state() == QProcess::NotRunning ||
                    first.process().waitForFinished(kStartTimeoutMs));
            QVERIFY(first.output().contains(QStringLiteral("-- hanging up after 1 frames")));
            QVERIFY(!QFileInfo(first.link()).isSymLink());
        }
        QCOMPARE(lost.count(), 1);
        // The lamps keep the last reported routing.
        QCOMPARE(panel.lampRows(), rowsFor("0300"));

        // Without ./COM1 the panel falls back to /dev/ttyS0, which a machine may well have. Leave
        // what a simulator stopped hard leaves, a link to a terminal that is gone; the next
        // simulator replaces it.
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/no-such-terminal"),
                            SimProcess::linkIn(dir_->path(), 1)));
        // Nobody on COM1: one box, and the display stays.
        Panel::click(panel.button("Command7"));
        QCOMPARE(panel.boxes.shown.size(), 1);
        QCOMPARE(panel.boxes.failureCount(), 1);
        QCOMPARE(panel.display(), QStringLiteral("Connect red"));

        SimProcess second(dir_->path(), 1, {"--routes", "3142"});
        QVERIFY(second.waitForLink());
        QVERIFY(panel.clickAndWait(panel.button("Command7")));
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
        QCOMPARE(panel.boxes.shown.size(), 1);
        QVERIFY(second.waitForFrames(1));
        QCOMPARE(second.framesReceived(), QList<QByteArray>{kStatusQuery});
        QCOMPARE(panel.log(), routeEntry(2, 3) + statusEntries("3142"));
        QCOMPARE(panel.lampRows(), rowsFor("3142"));
    }

    void secondPanelOnTheSamePort_isRefusedWithTheBoxAndTheFirstKeepsWorking()
    {
        QVERIFY(startOnSimulator({}));
        auto& [sim, first] = *rig_;
        QCOMPARE(first.display(), QStringLiteral("Disconnect green"));

        Panel second;
        QVERIFY(second.start());
        QCOMPARE(second.boxes.shown.size(), 1);
        QCOMPARE(second.boxes.failureCount(), 1);
        QCOMPARE(second.display(), QStringLiteral("Connect red"));
        // Connect is refused the same way.
        Panel::click(second.button(QStringLiteral("Command7")));
        QCOMPARE(second.boxes.failureCount(), 2);
        QCOMPARE(second.display(), QStringLiteral("Connect red"));

        QVERIFY(first.clickAndWait(first.command1(inputIndex(2, 3))));
        QCOMPARE(first.log(), routeEntry(2, 3));
        QCOMPARE(first.lampRows(), rowsFor("0300"));
        QCOMPARE(first.display(), QStringLiteral("Disconnect green"));
        QCOMPARE(first.boxes.shown.size(), 0);
        QCOMPARE(second.texts.count(), 0);
        QCOMPARE(second.lampRows(), kAllDark);
        QVERIFY(sim.waitForFrames(1));
        QCOMPARE(sim.framesReceived(), QList<QByteArray>{buttonFrame(inputIndex(2, 3))});
    }

    // --- Volume -----------------------------------------------------------------------------

    // Each route reply must be a text of its own to reach the log, and each text takes one
    // settle wait: 10,000 in a row on one line would take over five minutes. Ten panels, each
    // on its own line COM1..COM10, take 1,000 each at the same time.
    void tenThousandRouteReplies_everyOneReachesTheLogAndLampsEndRight()
    {
        constexpr int kPanels = 10;
        constexpr int kRepliesEach = 1000;
        struct Run {
            PseudoTerminal line;
            std::unique_ptr<Panel> panel;
            int sent = 0;
            int received = 0;
            QString expectedLog;
            std::array<int, 4> lastInput{};
            QStringList mismatches;
        };
        // Deterministic and different on every line.
        const auto reply = [](int port, int i) {
            const int output = i % 4 + 1;
            const int input = (i * 7 + port * 3 + i / 4) % 4 + 1;
            return std::pair{output, input};
        };

        std::vector<std::unique_ptr<Run>> runs;
        for (int port = 1; port <= kPanels; ++port) {
            auto run = std::make_unique<Run>();
            QVERIFY(openLine(run->line, dir_->path(), port));
            // The panel restores its port from COMPORT at start-up.
            scratch::writeFile(kPortFileName, formatPortFile(port - 1));
            run->panel = std::make_unique<Panel>();
            // One window shown, so that painting a growing log is part of the run; painting
            // all ten would add a quarter to the time.
            if (port == 1)
                QVERIFY(run->panel->start());
            else
                run->panel->form.load();
            QCOMPARE(run->panel->display(), QStringLiteral("Disconnect green"));
            runs.push_back(std::move(run));
        }

        QEventLoop loop;
        int done = 0;
        bool writeFailed = false;
        const auto send = [&](Run& run, int port) {
            const auto [output, input] = reply(port, run.sent++);
            writeFailed |= !run.line.write(routeReply(output, input));
        };
        for (int port = 1; port <= kPanels; ++port) {
            Run* run = runs[std::size_t(port - 1)].get();
            QObject::connect(run->panel->intake(), &ReplyIntake::replyText, &loop,
                             [&, run, port](const QString& text) {
                                 const auto [output, input] = reply(port, run->received++);
                                 if (text != QString::fromLatin1(routeReply(output, input)))
                                     run->mismatches << text;
                                 run->expectedLog += routeEntry(output, input);
                                 run->lastInput[std::size_t(output - 1)] = input;
                                 if (run->sent < kRepliesEach)
                                     send(*run, port); // the next only now: a text of its own
                                 else if (++done == kPanels)
                                     loop.quit();
                             });
        }

        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(120s, &loop, &QEventLoop::quit);
        for (int port = 1; port <= kPanels; ++port)
            send(*runs[std::size_t(port - 1)], port);
        loop.exec();
        const qint64 elapsedMs = clock.elapsed();
        qInfo("%d route replies on %d lines in %.1f s, %.1f ms a reply on each line",
              kPanels * kRepliesEach, kPanels, elapsedMs / 1000.0,
              double(elapsedMs) / kRepliesEach);

        QVERIFY(!writeFailed);
        QCOMPARE(done, kPanels);
        for (int port = 1; port <= kPanels; ++port) {
            const Run& run = *runs[std::size_t(port - 1)];
            const QString where = QStringLiteral("COM%1").arg(port);
            QVERIFY2(run.mismatches.isEmpty(),
                     qPrintable(where + QStringLiteral(": texts merged or cut: ") +
                                run.mismatches.mid(0, 5).join(QStringLiteral(" | "))));
            QCOMPARE(run.received, kRepliesEach);
            QVERIFY2(run.panel->log() == run.expectedLog, qPrintable(where));
            QStringList rows;
            for (const int input : run.lastInput)
                rows << row(input);
            QCOMPARE(run.panel->lampRows(), rows);
            QCOMPARE(run.panel->boxes.shown.size(), 0);
        }
    }

private:
    bool startOnSimulator(const QStringList& options)
    {
        rig_ = std::make_unique<Rig>(dir_->path(), options);
        return rig_->sim.waitForLink() && rig_->panel.start();
    }

    std::unique_ptr<ScratchDirectory> dir_;
    std::unique_ptr<Rig> rig_;
};

QTEST_MAIN(TestPanelE2E)
#include "tst_panel_e2e.moc"
