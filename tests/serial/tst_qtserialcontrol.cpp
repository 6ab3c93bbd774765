#include "switcher/wire.h"
#include "posix/pseudoterminal.h"
#include "serial/portnames.h"
#include "serial/qtserialcontrol.h"
#include "support/panelend.h"
#include "support/scratchdirectory.h"

#include <QDir>
#include <QSignalSpy>

#include <QTest>

#include <thread>

using namespace std::chrono_literals;

// The real port over a pseudo-terminal linked as ./COM1, this process playing the switcher.
class QtSerialControlTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir_ = std::make_unique<ScratchDirectory>();
        QVERIFY(dir_->isValid());
        pty_ = new PseudoTerminal;
        QVERIFY(pty_->open());
        QVERIFY(pty_->linkAs(QDir::current().absoluteFilePath(QStringLiteral("COM1"))));
    }

    void cleanup()
    {
        delete pty_;
        pty_ = nullptr;
        dir_.reset();
    }

    void portDevicePath_prefersTheLocalLink()
    {
        QCOMPARE(portDevicePath(1), pty_->slavePath());
        QCOMPARE(portDevicePath(7), QStringLiteral("/dev/ttyS6"));
        QCOMPARE(portLabel(10), QStringLiteral("COM10"));
    }

    void open_linkedPty_writesExactBytesInOrder()
    {
        QtSerialControl serial;
        QVERIFY(serial.setSettings(wire::kLineSettings));
        QVERIFY(serial.setPortNumber(1));
        QVERIFY(serial.open());
        QVERIFY(serial.isOpen());
        QVERIFY(!serial.setPortNumber(2)); // only while closed

        // Bytes a text line would translate or drop: CR, LF, NUL, XON/XOFF, 0xFF.
        const QByteArray frame = QByteArray::fromHex("0555190d0a0011130aff77");
        QVERIFY(serial.write(frame));
        QCOMPARE(pty_->read(2s, frame.size()).toHex(' '), frame.toHex(' '));
        QVERIFY(serial.close());
        QVERIFY(!serial.isOpen());
    }

    void open_missingPort_fails()
    {
        QtSerialControl serial;
        QVERIFY(serial.setPortNumber(2)); // no ./COM2 here; /dev/ttyS1 as fallback
        QFile::link(QStringLiteral("/nonexistent/tty"), QStringLiteral("COM2")); // dangling link
        QVERIFY(!serial.open());
        QVERIFY(!serial.isOpen());
    }

    void open_portAlreadyOpen_failsForTheSecondControl()
    {
        QtSerialControl first;
        QtSerialControl second;
        first.setPortNumber(1);
        second.setPortNumber(1);
        QVERIFY(first.open());
        QVERIFY(!second.open());
        QVERIFY(!second.isOpen());
        QVERIFY(first.write("s"));
        QCOMPARE(pty_->read(2s), QByteArray("s"));
        QVERIFY(!first.open()); // opening an open port fails, it does not reopen
    }

    void open_somethingThatIsNotASerialDevice_fails()
    {
        // What an operator gets from a link to the wrong file, or to a device they may not use.
        QFile plain(QStringLiteral("notatty"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(QFile::link(QStringLiteral("notatty"), QStringLiteral("COM4")));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), QStringLiteral("COM5")));
        for (const int port : {4, 5}) {
            QtSerialControl serial;
            QVERIFY(serial.setPortNumber(port));
            QVERIFY2(!serial.open(), qPrintable(portDevicePath(port)));
            QVERIFY(!serial.isOpen());
        }
    }

    void write_onClosedPort_fails()
    {
        QtSerialControl serial;
        serial.setPortNumber(1);
        QVERIFY(!serial.write("x"));
        QVERIFY(serial.readAll().isEmpty());
    }

    void open_discardsInputThatArrivedBefore()
    {
        QVERIFY(pty_->write("stale"));
        QtSerialControl serial;
        serial.setPortNumber(1);
        QSignalSpy received(&serial, &SerialControl::received);
        QVERIFY(serial.open());
        QVERIFY(pty_->write("new"));
        QByteArray got;
        QTRY_VERIFY((got += serial.readAll()).size() >= 3);
        QCOMPARE(got, QByteArray("new"));
        QVERIFY(received.size() >= 1);
    }

    void received_pacedStatusReply_isOneChunkAfterTheSettleWait()
    {
        PanelEnd panel(1);
        QVERIFY(panel.open());
        const QByteArray status = QByteArray::fromHex("0d0a733130733231733332733433");
        // A busy machine can stall the writing thread past the settle wait; such a run is not a
        // 9600-baud line and says nothing about the intake, so it is tried again.
        const auto lineTime = wire::kByteTime * status.size();
        for (int attempt = 0; attempt < 5; ++attempt) {
            panel.texts.clear();
            std::chrono::steady_clock::duration took{};
            // Paced from another thread so this one keeps its event loop, as the panel does.
            std::thread line([&] {
                const auto start = std::chrono::steady_clock::now();
                pty_->write(status, wire::kByteTime);
                took = std::chrono::steady_clock::now() - start;
            });
            QVERIFY(panel.waitForTexts(1, 2000));
            line.join();
            QTest::qWait(50); // a late second text would show here
            if (took > lineTime + 10ms)
                continue;
            QCOMPARE(panel.texts, QStringList{QString::fromLatin1(status)});
            return;
        }
        QSKIP("the writing thread never kept 9600-baud pace on this machine");
    }

    void hangUp_closesThePortOnceAndReportsDeviceLost()
    {
        QtSerialControl serial;
        serial.setPortNumber(1);
        QVERIFY(serial.open());
        QSignalSpy lost(&serial, &SerialControl::deviceLost);
        pty_->closeSlave();
        pty_->closeMaster();
        QTRY_COMPARE(lost.size(), 1);
        QVERIFY(!serial.isOpen());
        QTest::qWait(100); // a storm of errors would show as more signals
        QCOMPARE(lost.size(), 1);
        QVERIFY(!serial.write("x"));
    }

private:
    std::unique_ptr<ScratchDirectory> dir_;
    PseudoTerminal* pty_ = nullptr;
};

QTEST_GUILESS_MAIN(QtSerialControlTest)
#include "tst_qtserialcontrol.moc"
