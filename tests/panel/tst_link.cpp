#include "link/commandsender.h"
#include "link/edidechoes.h"
#include "link/portchoice.h"
#include "link/seriallink.h"
#include "support/fakes/fakemessageboxes.h"
#include "support/fakes/fakeserialcontrol.h"

#include "support/scratchdirectory.h"
#include "switcher/commandframe.h"
#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <QTest>

namespace {

// The port choice and link as the window's start-up drives them.
struct Panel {
    FakeSerialControl serial;
    FakeMessageBoxes boxes;
    SerialLink link{serial, boxes};
    PortChoice choice{link};

    int restore()
    {
        const int index = choice.rememberedIndex();
        choice.pick(index);
        return index;
    }
    void startUp()
    {
        restore();
        link.startUp();
    }
};

} // namespace

class LinkTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir_ = std::make_unique<ScratchDirectory>();
        QVERIFY(dir_->isValid());
    }

    void cleanup() { dir_.reset(); }

    void portFile_parsesTheFirstNumber_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("value");
        QTest::newRow("own format") << QByteArray(" 9 \r\n") << 9;
        QTest::newRow("bare digit") << QByteArray("3") << 3;
        QTest::newRow("leading line breaks") << QByteArray("\r\n\r\n  4") << 4;
        QTest::newRow("ends at comma") << QByteArray("5,7") << 5;
        QTest::newRow("ends at blank") << QByteArray("6 8") << 6;
        QTest::newRow("255") << QByteArray("255") << 255;
        QTest::newRow("leading zeros") << QByteArray("0005") << 5;
        QTest::newRow("many leading zeros") << QByteArray("00000000000000000255\r\n") << 255;
        QTest::newRow("zeros alone") << QByteArray("000") << 0;
        QTest::newRow("0256 overflows") << QByteArray("0256") << 0;
        QTest::newRow("256 overflows") << QByteArray("256") << 0;
        QTest::newRow("huge number") << QByteArray("99999999999999999999") << 0;
        QTest::newRow("negative") << QByteArray("-1") << 0;
        QTest::newRow("garbage") << QByteArray("COM3") << 0;
        QTest::newRow("digit then letters") << QByteArray("3x") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("binary") << QByteArray::fromHex("00ff10") << 0;
    }

    void portFile_parsesTheFirstNumber()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, value);
        QCOMPARE(int(parsePortFile(content)), value);
    }

    void portFile_formatIsBlankIndexBlankCrLf()
    {
        QCOMPARE(formatPortFile(0), QByteArray::fromHex("2030200d0a"));
        QCOMPARE(formatPortFile(9), QByteArray::fromHex("2039200d0a"));
        QCOMPARE(portEntries(), (QStringList{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
                                             "COM8", "COM9", "COM10"}));
    }

    void restore_rewritesTheFileInOwnFormat_data()
    {
        QTest::addColumn<QByteArray>("content"); // "<none>" for no file
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("first start") << QByteArray("<none>") << 0 << QByteArray(" 0 \r\n");
        QTest::newRow("3 without blanks") << QByteArray("3") << 3 << QByteArray(" 3 \r\n");
        QTest::newRow("own format kept") << QByteArray(" 9 \r\n") << 9 << QByteArray(" 9 \r\n");
        QTest::newRow("0005 is COM6") << QByteArray("0005\r\n") << 5 << QByteArray(" 5 \r\n");
        QTest::newRow("empty") << QByteArray() << 0 << QByteArray(" 0 \r\n");
        QTest::newRow("garbage") << QByteArray("hello\x01\x02") << 0 << QByteArray(" 0 \r\n");
        QTest::newRow("12 names no entry") << QByteArray("12") << 0 << QByteArray(" 0 \r\n");
        QTest::newRow("255") << QByteArray("255\r\n") << 0 << QByteArray(" 0 \r\n");
    }

    void restore_rewritesTheFileInOwnFormat()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, index);
        QFETCH(QByteArray, after);
        if (content != "<none>")
            scratch::writeFile(kPortFileName, content);
        Panel panel;
        QCOMPARE(panel.restore(), index);
        QCOMPARE(panel.link.portNumber(), index + 1);
        QCOMPARE(scratch::readFile(kPortFileName), after);
        QVERIFY(panel.boxes.shown.isEmpty());
    }

    void restore_fileThatCannotBeWritten_stillChoosesSilently()
    {
        // Tests may run as root, where a read-only directory does not stop a write; a directory of
        // that name does.
        QVERIFY(QDir().mkdir(kPortFileName));
        Panel panel;
        QCOMPARE(panel.restore(), 0);
        QCOMPARE(panel.link.portNumber(), 1);
        QVERIFY(QFileInfo(kPortFileName).isDir());
        panel.choice.pick(4);
        QCOMPARE(panel.link.portNumber(), 5);
        QVERIFY(panel.boxes.shown.isEmpty());
    }

    void restore_hugeFileOfBlanks_isReadWithoutLoadingItAll()
    {
        scratch::writeFile(kPortFileName,
                           QByteArray(3 * 1024 * 1024, ' ') + "7\r\n" + QByteArray(1024, 'x'));
        Panel panel;
        QCOMPARE(panel.restore(), 7);
        QCOMPARE(scratch::readFile(kPortFileName), QByteArray(" 7 \r\n"));
        // Leading zeros belong to the number however many there are.
        scratch::writeFile(kPortFileName, " " + QByteArray(1024 * 1024, '0') + "8 x");
        QCOMPARE(panel.restore(), 8);
    }

    void startUp_missingPort_showsBoxThenNotConnected()
    {
        Panel panel;
        panel.serial.existingPorts.remove(1);
        QSignalSpy display(&panel.link, &SerialLink::displayChanged);
        LinkDisplay shownWhileBoxUp = LinkDisplay::Connected;
        panel.boxes.onShow = [&] { shownWhileBoxUp = panel.link.display(); };

        panel.startUp();

        QCOMPARE(panel.boxes.failureCount(), 1);
        QCOMPARE(int(shownWhileBoxUp), int(LinkDisplay::StartUp));
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::NotConnected));
        QVERIFY(panel.serial.writes.isEmpty());
        QCOMPARE(panel.serial.settings, QStringLiteral("9600,N,8,1"));
        QCOMPARE(panel.serial.inputLength, 0);
        QCOMPARE(panel.serial.receiveThreshold, 1);
        QCOMPARE(display.size(), 2); // start-up state, then the result
    }

    void startUp_freePort_connectsWithoutWriting()
    {
        scratch::writeFile(kPortFileName, " 2 \r\n");
        Panel panel;
        panel.startUp();
        QVERIFY(panel.boxes.shown.isEmpty());
        QVERIFY(panel.serial.isOpen());
        QCOMPARE(panel.serial.openedPortNumber, 3);
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::Connected));
        QVERIFY(panel.serial.writes.isEmpty());
    }

    void startUp_settingsFailures_areIgnored()
    {
        Panel panel;
        panel.serial.failSettings = true;
        panel.startUp();
        QVERIFY(panel.boxes.shown.isEmpty());
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::Connected));
    }

    void toggle_connectWritesStatusQueryAndDisconnectWritesNothing()
    {
        Panel panel;
        panel.startUp();
        panel.link.toggleConnection();
        QVERIFY(!panel.serial.isOpen());
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::NotConnected));
        QVERIFY(panel.serial.writes.isEmpty());

        panel.link.toggleConnection();
        QVERIFY(panel.serial.isOpen());
        QCOMPARE(panel.serial.writes, QList<QByteArray>{QByteArray::fromHex("04552077")});
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::Connected));
        QVERIFY(panel.boxes.shown.isEmpty());
    }

    void toggle_failedOpen_showsOneBoxAndKeepsDisplay()
    {
        Panel panel;
        panel.serial.portsHeldElsewhere.insert(1);
        panel.startUp();
        QCOMPARE(panel.boxes.failureCount(), 1);
        panel.link.toggleConnection();
        QCOMPARE(panel.boxes.failureCount(), 2); // one per press, though open and write both failed
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::NotConnected));
        QVERIFY(panel.serial.writes.isEmpty());
    }

    void toggle_onlyWriteFailed_closesThePortAgain()
    {
        Panel panel;
        panel.serial.existingPorts.remove(1);
        panel.startUp();
        panel.serial.existingPorts.insert(1);
        panel.serial.failWrites = true;

        panel.link.toggleConnection();
        QCOMPARE(panel.boxes.failureCount(), 2);
        QVERIFY(!panel.serial.isOpen()); // as the display says
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::NotConnected));

        panel.serial.failWrites = false;
        panel.link.toggleConnection(); // connects at once
        QCOMPARE(panel.serial.writes.size(), 1);
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::Connected));
    }

    void toggle_failedClose_stillShowsNotConnected()
    {
        Panel panel;
        panel.startUp();
        panel.serial.failCloses = true;
        panel.link.toggleConnection();
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::NotConnected));
        QVERIFY(panel.boxes.shown.isEmpty());
    }

    void pick_whileConnected_closesAndShowsNotConnected()
    {
        Panel panel;
        panel.startUp();
        panel.choice.pick(2);
        QVERIFY(!panel.serial.isOpen());
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::NotConnected));
        QCOMPARE(panel.link.portNumber(), 3);
        QCOMPARE(scratch::readFile(kPortFileName), QByteArray::fromHex("2032200d0a"));

        panel.link.toggleConnection();
        QCOMPARE(panel.serial.openedPortNumber, 3);
        QCOMPARE(panel.serial.writes, QList<QByteArray>{QByteArray::fromHex("04552077")});
    }

    void pick_whileNotConnected_changesOnlyNumberAndFile()
    {
        Panel panel;
        panel.serial.existingPorts.remove(1);
        panel.startUp();
        QSignalSpy display(&panel.link, &SerialLink::displayChanged);
        const int opensBefore = panel.serial.openCalls;
        panel.choice.pick(9);
        QCOMPARE(display.size(), 0);
        QCOMPARE(panel.serial.openCalls, opensBefore);
        QCOMPARE(panel.link.portNumber(), 10);
        QCOMPARE(scratch::readFile(kPortFileName), QByteArray(" 9 \r\n"));
    }

    void deviceLost_showsNotConnectedWithoutBox_andConnectReopens()
    {
        Panel panel;
        panel.startUp();
        panel.serial.hangUp();
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::NotConnected));
        QVERIFY(panel.boxes.shown.isEmpty());
        panel.link.toggleConnection();
        QVERIFY(panel.serial.isOpen());
        QCOMPARE(panel.serial.writes, QList<QByteArray>{QByteArray::fromHex("04552077")});
        QCOMPARE(int(panel.link.display()), int(LinkDisplay::Connected));
    }

private:
    std::unique_ptr<ScratchDirectory> dir_;

    void sendCommandFrame_writesOnceOrShowsTheBoxOnce()
    {
        FakeSerialControl serial;
        FakeMessageBoxes boxes;
        serial.setPortNumber(1);

        SendCommandFrame(serial, boxes, buttonCommandFrame(12));
        QCOMPARE(serial.writes.size(), 0);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("open serial port fail\uFF01 "));
        QCOMPARE(boxes.shown[0].title, QStringLiteral("ERROR"));

        QVERIFY(serial.open());
        SendCommandFrame(serial, boxes, buttonCommandFrame(12));
        SendCommandFrame(serial, boxes, buttonCommandFrame(12));
        QCOMPARE(serial.writes, (QList<QByteArray>{QByteArray::fromHex("0555195577"), QByteArray::fromHex("0555195577")}));
        QCOMPARE(boxes.shown.size(), 1);

        serial.failWrites = true;
        SendCommandFrame(serial, boxes, statusQueryFrame());
        QCOMPARE(boxes.shown.size(), 2);
        QVERIFY(serial.isOpen()); // a failed write leaves the link alone
    }

    void edidEchoes_answerOwnCommandsOnceAndForgetStaleOnes()
    {
        using namespace std::chrono_literals;
        EdidEchoes echoes;
        const auto t0 = EdidEchoes::Clock::time_point{} + 1h;
        echoes.sent(3, t0);
        echoes.sent(5, t0 + 1ms);
        QVERIFY(!echoes.answers(6, t0 + 5ms)); // the switcher's own change
        QVERIFY(echoes.answers(5, t0 + 10ms));
        QVERIFY(!echoes.answers(5, t0 + 11ms)); // each command is answered once
        QVERIFY(echoes.answers(3, t0 + 12ms));

        echoes.sent(7, t0);
        QVERIFY(!echoes.answers(7, t0 + EdidEchoes::kAnswerTime + 1ms)); // never answered in time
        for (std::size_t i = 0; i < EdidEchoes::kMostPending + 5; ++i)
            echoes.sent(int(i % 11), t0);
        QVERIFY(echoes.answers(10, t0)); // bounded, yet the newest are kept
    }

    void edidEchoes_replyFollowsTheSwitcherAndEndsCrossedEchoes()
    {
        using F = EdidFollow;
        using namespace std::chrono_literals;
        EdidEchoes echoes;
        const auto t0 = EdidEchoes::Clock::time_point{} + 1h;
        QCOMPARE(echoes.replied(4, 4, t0), F::Nothing);       // selected already
        QCOMPARE(echoes.replied(11, -1, t0), F::Nothing);     // no such mode
        QCOMPARE(echoes.replied(6, 4, t0), F::SelectAndSend); // the switcher's own change
        QVERIFY(echoes.answers(6, t0 + 1ms));                 // and so sent
        // Two quick clicks: their answers move the selection and send nothing.
        echoes.sent(3, t0);
        echoes.sent(5, t0);
        QCOMPARE(echoes.replied(3, 5, t0 + 5ms), F::Select);
        QCOMPARE(echoes.replied(5, 3, t0 + 6ms), F::Select);
        // An answer naming the selected mode still counts as the answer to its command.
        echoes.sent(2, t0);
        QCOMPARE(echoes.replied(2, 2, t0 + 5ms), F::Nothing);
        QCOMPARE(echoes.replied(2, 5, t0 + 6ms), F::SelectAndSend);
    }
};

QTEST_GUILESS_MAIN(LinkTest)
#include "tst_link.moc"
