// The link as the window shows it: start-up, Connect/Disconnect and port picks.
#include "windowfixture.h"

class WindowStartupTest : public QObject {
    Q_OBJECT
private slots:
    void beforeStartUp_showsBothLampsLitAndEmptyControls()
    {
        Panel panel;
        panel.create();
        QCOMPARE(panel.display(), QStringLiteral("Connect green red"));
        QCOMPARE(panel.lampRows(), controls::kAllDark);
        for (int mode = 0; mode <= 10; ++mode)
            QVERIFY(!panel.option(mode)->isChecked());
        QCOMPARE(panel.combo()->currentText(), QStringLiteral("Combo1"));
        QCOMPARE(panel.combo()->count(), 0);
        QCOMPARE(panel.log(), QString());
        QCOMPARE(panel.serial.openCalls, 0);
        QVERIFY(!QFile::exists(QStringLiteral("COMPORT")));
    }

    void startUpWithMissingPort_showsBoxBeforeWindowThenNotConnected()
    {
        Panel panel;
        panel.serial.existingPorts.remove(1);
        bool visibleDuringBox = true;
        QString displayDuringBox;
        panel.boxes.onShow = [&] {
            visibleDuringBox = panel.form->isVisible();
            displayDuringBox = panel.display();
        };
        panel.startShown();

        QCOMPARE(panel.boxes.shown.size(), 1);
        QCOMPARE(panel.boxes.shown[0].title, QStringLiteral("ERROR"));
        QCOMPARE(panel.boxes.shown[0].text, QStringLiteral("open serial port fail\uFF01 "));
        QVERIFY(!visibleDuringBox);
        QCOMPARE(displayDuringBox, QStringLiteral("Connect"));
        QCOMPARE(panel.display(), QStringLiteral("Connect red"));
        QVERIFY(panel.serial.writes.isEmpty());
        QCOMPARE(panel.combo()->currentIndex(), 0);
        QCOMPARE(panel.combo()->currentText(), QStringLiteral("COM1"));
        QCOMPARE(scratch::readFile("COMPORT"), QByteArray(" 0 \r\n"));
    }

    void startUpWithFreePort_connectsWithoutBoxOrWrite()
    {
        Panel panel;
        panel.start();
        QVERIFY(panel.boxes.shown.isEmpty());
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
        QVERIFY(panel.serial.writes.isEmpty());
        QCOMPARE(panel.serial.openedPortNumber, 1);
        QCOMPARE(panel.serial.settings, QStringLiteral("9600,N,8,1"));
        QCOMPARE(panel.serial.inputLength, 0);
        QCOMPARE(panel.serial.receiveThreshold, 1);
        QCOMPARE(panel.combo()->count(), 10);
        QCOMPARE(panel.combo()->itemText(9), QStringLiteral("COM10"));
        QCOMPARE(panel.lampRows(), controls::kAllDark);
    }

    void startUpWithRememberedPort_selectsAndOpensIt()
    {
        Panel panel;
        scratch::writeFile("COMPORT", "3");
        panel.start();
        QCOMPARE(panel.combo()->currentIndex(), 3);
        QCOMPARE(panel.combo()->currentText(), QStringLiteral("COM4"));
        QCOMPARE(panel.serial.openedPortNumber, 4);
        QCOMPARE(scratch::readFile("COMPORT"), QByteArray(" 3 \r\n"));
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
    }

    void startUpWithPortAlreadyOpen_pickClosesItAndStartUpReopens()
    {
        Panel panel;
        panel.serial.setOpenState(true);
        panel.start();
        // The pick of the remembered entry closes the open port; start-up then opens it afresh.
        QCOMPARE(panel.serial.closeCalls, 1);
        QCOMPARE(panel.serial.openCalls, 1);
        QVERIFY(panel.serial.isOpen());
        QVERIFY(panel.boxes.shown.isEmpty());
        QVERIFY(panel.serial.writes.isEmpty());
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
    }

    void startUpWithPortAlreadyOpenAndCloseFailing_staysInStartUpDisplay()
    {
        Panel panel;
        panel.serial.setOpenState(true);
        panel.serial.failCloses = true;
        panel.start();
        QVERIFY(panel.serial.isOpen());
        QCOMPARE(panel.serial.openCalls, 0);
        QVERIFY(panel.boxes.shown.isEmpty());
        QVERIFY(panel.serial.writes.isEmpty());
        QCOMPARE(panel.display(), QStringLiteral("Connect"));
    }

    void connectOnFreePort_writesStatusQueryOnce()
    {
        Panel panel;
        panel.serial.portsHeldElsewhere = {1};
        panel.startShown();
        QCOMPARE(panel.boxes.shown.size(), 1);
        panel.serial.portsHeldElsewhere.clear();

        panel.click(panel.button(QStringLiteral("Command7")));
        QCOMPARE(panel.serial.writes, QList<QByteArray>{switcher::kStatusQuery});
        QCOMPARE(panel.boxes.shown.size(), 1);
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
    }

    void twoPressesWhenConnected_closeThenReopen()
    {
        Panel panel;
        panel.startShown();
        QPushButton* command7 = panel.button(QStringLiteral("Command7"));

        panel.click(command7);
        QVERIFY(!panel.serial.isOpen());
        QVERIFY(panel.serial.writes.isEmpty());
        QCOMPARE(panel.display(), QStringLiteral("Connect red"));

        panel.click(command7);
        QVERIFY(panel.serial.isOpen());
        QCOMPARE(panel.serial.writes, QList<QByteArray>{switcher::kStatusQuery});
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
        QVERIFY(panel.boxes.shown.isEmpty());
    }

    void connectWhenWriteFails_showsBoxOnceAndClosesThePort()
    {
        Panel panel;
        panel.startShown();
        QPushButton* command7 = panel.button(QStringLiteral("Command7"));
        panel.click(command7);
        panel.serial.failWrites = true;

        panel.click(command7);
        QCOMPARE(panel.boxes.failureCount(), 1);
        QCOMPARE(panel.boxes.shown.size(), 1);
        QVERIFY(panel.serial.writes.isEmpty());
        QCOMPARE(panel.display(), QStringLiteral("Connect red"));
        QVERIFY(!panel.serial.isOpen()); // as the display says

        // The next press connects.
        panel.serial.failWrites = false;
        panel.click(command7);
        QCOMPARE(panel.serial.writes, QList<QByteArray>{switcher::kStatusQuery});
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
        QCOMPARE(panel.boxes.shown.size(), 1);
    }

    void connectOnPortHeldElsewhere_showsBoxOnce()
    {
        Panel panel;
        panel.startShown();
        panel.combo()->setCurrentIndex(1);
        panel.serial.portsHeldElsewhere = {2};

        panel.click(panel.button(QStringLiteral("Command7")));
        QCOMPARE(panel.boxes.failureCount(), 1);
        QCOMPARE(panel.boxes.shown.size(), 1);
        QVERIFY(!panel.serial.isOpen());
        QVERIFY(panel.serial.writes.isEmpty());
        QCOMPARE(panel.display(), QStringLiteral("Connect red"));
    }

    void pickWhileConnected_closesWithoutBoxAndRemembers()
    {
        Panel panel;
        Form1& form = panel.startShown();
        form.out2(3); // lamps keep the last reported routing across a port change

        panel.combo()->setCurrentIndex(2);
        QVERIFY(!panel.serial.isOpen());
        QCOMPARE(panel.display(), QStringLiteral("Connect red"));
        QVERIFY(panel.boxes.shown.isEmpty());
        QVERIFY(panel.serial.writes.isEmpty());
        QCOMPARE(scratch::readFile("COMPORT"), QByteArray(" 2 \r\n"));
        QCOMPARE(panel.lampRows(), controls::rowsFor("0300"));

        panel.click(panel.button(QStringLiteral("Command7")));
        QCOMPARE(panel.serial.openedPortNumber, 3);
        QCOMPARE(panel.serial.writes, QList<QByteArray>{switcher::kStatusQuery});
    }

    void pickWhileNotConnected_leavesDisplay()
    {
        Panel panel;
        panel.serial.existingPorts.remove(1);
        panel.startShown();
        panel.boxes.shown.clear();
        const int closes = panel.serial.closeCalls;

        // Picks from the list by keys, one entry a key.
        panel.combo()->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < 4; ++i)
            Panel::press(Qt::Key_Down);
        QCOMPARE(panel.combo()->currentText(), QStringLiteral("COM5"));
        QCOMPARE(panel.display(), QStringLiteral("Connect red"));
        QCOMPARE(panel.serial.closeCalls, closes);
        QCOMPARE(scratch::readFile("COMPORT"), QByteArray(" 4 \r\n"));
        QVERIFY(panel.boxes.shown.isEmpty());
        QVERIFY(panel.serial.writes.isEmpty());
        panel.click(panel.button(QStringLiteral("Command7")));
        QCOMPARE(panel.serial.openedPortNumber, 5);
    }

    void typedTextInPortList_changesNothing_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("key"); // ends the typing, if any; Tab moves the focus on
        QTest::newRow("COM3, Return") << "COM3" << int(Qt::Key_Return);
        QTest::newRow("COM3, Enter") << "COM3" << int(Qt::Key_Enter);
        QTest::newRow("COM3, Tab") << "COM3" << int(Qt::Key_Tab);
        QTest::newRow("com3, Return") << "com3" << int(Qt::Key_Return);
        QTest::newRow("com3, Tab") << "com3" << int(Qt::Key_Tab);
        QTest::newRow("no such port, Return") << "COM11" << int(Qt::Key_Return);
        QTest::newRow("COM3, a click elsewhere only") << "COM3" << 0;
    }

    void typedTextInPortList_changesNothing()
    {
        QFETCH(QString, typed);
        QFETCH(int, key);
        Panel panel;
        panel.startShown();
        panel.combo()->setFocus(Qt::MouseFocusReason);
        QCOMPARE(QApplication::focusWidget(), panel.combo());
        Panel::press(Qt::Key_A, Qt::ControlModifier);
        Panel::type(typed);
        if (key)
            Panel::press(Qt::Key(key));
        QTest::mouseClick(panel.text1()->viewport(), Qt::LeftButton);
        QVERIFY(panel.text1()->hasFocus());

        QCOMPARE(panel.combo()->currentText(), typed);
        QCOMPARE(panel.combo()->currentIndex(), 0);
        QCOMPARE(panel.combo()->count(), 10);
        QCOMPARE(scratch::readFile("COMPORT"), QByteArray(" 0 \r\n"));
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
        QCOMPARE(panel.serial.closeCalls, 0);
        // Disconnect and Connect open the port of the entry, not of the text.
        panel.click(panel.button(QStringLiteral("Command7")));
        panel.click(panel.button(QStringLiteral("Command7")));
        QCOMPARE(panel.serial.openedPortNumber, 1);
    }

    void deviceGone_showsNotConnected()
    {
        Panel panel;
        panel.startShown();
        panel.serial.hangUp();
        QCOMPARE(panel.display(), QStringLiteral("Connect red"));
        QVERIFY(panel.boxes.shown.isEmpty());
    }
};

QTEST_MAIN(WindowStartupTest)
#include "tst_window_startup.moc"
