// The link as the window shows it: start-up, Connect/Disconnect and port picks.
#include "windowfixture.h"

#include <QLineEdit>

class WindowStartupTest : public QObject {
    Q_OBJECT
private slots:
    void beforeStartUp_showsBothLampsLitAndEmptyControls();
    void startUpWithMissingPort_showsBoxBeforeWindowThenNotConnected();
    void startUpWithFreePort_connectsWithoutBoxOrWrite();
    void startUpWithRememberedPort_selectsAndOpensIt();
    void startUpWithPortAlreadyOpen_pickClosesItAndStartUpReopens();
    void startUpWithPortAlreadyOpenAndCloseFailing_staysInStartUpDisplay();

    void connectOnFreePort_writesStatusQueryOnce();
    void twoPressesWhenConnected_closeThenReopen();
    void connectWhenWriteFails_showsBoxOnceAndKeepsDisplay();
    void connectOnPortHeldElsewhere_showsBoxOnce();

    void pickWhileConnected_closesWithoutBoxAndRemembers();
    void pickWhileNotConnected_leavesDisplay();
    void typedTextInPortList_changesNothing();
    void deviceGone_showsNotConnected();
};

void WindowStartupTest::beforeStartUp_showsBothLampsLitAndEmptyControls()
{
    Panel panel;
    Form1& form = panel.create();
    QCOMPARE(display(panel), QStringLiteral("Connect lit lit"));
    for (int output = 1; output <= 4; ++output)
        QCOMPARE(lampRow(form, output), QStringLiteral("0000"));
    for (int mode = 0; mode <= 10; ++mode)
        QVERIFY(!panel.option(mode)->isChecked());
    QCOMPARE(panel.combo()->currentText(), QStringLiteral("Combo1"));
    QCOMPARE(panel.combo()->count(), 0);
    QCOMPARE(form.messageLog().text(), QString());
    QCOMPARE(panel.serial.openCalls, 0);
    QVERIFY(!QFile::exists(QStringLiteral("COMPORT")));
}

void WindowStartupTest::startUpWithMissingPort_showsBoxBeforeWindowThenNotConnected()
{
    Panel panel;
    panel.serial.existingPorts.remove(1);
    bool visibleDuringBox = true;
    QString displayDuringBox;
    panel.boxes.onShow = [&] {
        visibleDuringBox = panel.form->isVisible();
        displayDuringBox = display(panel);
    };
    panel.startShown();

    QCOMPARE(panel.boxes.shown.size(), 1);
    QCOMPARE(panel.boxes.shown[0].title, QStringLiteral("ERROR"));
    QCOMPARE(panel.boxes.shown[0].text, QStringLiteral("open serial port fail\uFF01 "));
    QVERIFY(!visibleDuringBox);
    QCOMPARE(displayDuringBox, QStringLiteral("Connect dark dark"));
    QCOMPARE(display(panel), QStringLiteral("Connect dark lit"));
    QVERIFY(panel.serial.writes.isEmpty());
    QCOMPARE(panel.combo()->currentIndex(), 0);
    QCOMPARE(panel.combo()->currentText(), QStringLiteral("COM1"));
    QCOMPARE(panel.portFile(), QByteArray(" 0 \r\n"));
}

void WindowStartupTest::startUpWithFreePort_connectsWithoutBoxOrWrite()
{
    Panel panel;
    Form1& form = panel.start();
    QVERIFY(panel.boxes.shown.isEmpty());
    QCOMPARE(display(panel), QStringLiteral("Disconnect lit dark"));
    QVERIFY(panel.serial.writes.isEmpty());
    QCOMPARE(panel.serial.openedPortNumber, 1);
    QCOMPARE(panel.serial.settings, QStringLiteral("9600,N,8,1"));
    QCOMPARE(panel.serial.inputLength, 0);
    QCOMPARE(panel.serial.receiveThreshold, 1);
    QCOMPARE(panel.combo()->count(), 10);
    QCOMPARE(panel.combo()->itemText(9), QStringLiteral("COM10"));
    QCOMPARE(form.link().portNumber(), 1);
    for (int output = 1; output <= 4; ++output)
        QCOMPARE(lampRow(form, output), QStringLiteral("0000"));
}

void WindowStartupTest::startUpWithRememberedPort_selectsAndOpensIt()
{
    Panel panel;
    panel.writePortFile("3");
    Form1& form = panel.start();
    QCOMPARE(panel.combo()->currentIndex(), 3);
    QCOMPARE(panel.combo()->currentText(), QStringLiteral("COM4"));
    QCOMPARE(form.link().portNumber(), 4);
    QCOMPARE(panel.serial.openedPortNumber, 4);
    QCOMPARE(panel.portFile(), QByteArray(" 3 \r\n"));
    QCOMPARE(display(panel), QStringLiteral("Disconnect lit dark"));
}

void WindowStartupTest::startUpWithPortAlreadyOpen_pickClosesItAndStartUpReopens()
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
    QCOMPARE(display(panel), QStringLiteral("Disconnect lit dark"));
}

void WindowStartupTest::startUpWithPortAlreadyOpenAndCloseFailing_staysInStartUpDisplay()
{
    Panel panel;
    panel.serial.setOpenState(true);
    panel.serial.failCloses = true;
    panel.start();
    QVERIFY(panel.serial.isOpen());
    QCOMPARE(panel.serial.openCalls, 0);
    QVERIFY(panel.boxes.shown.isEmpty());
    QVERIFY(panel.serial.writes.isEmpty());
    QCOMPARE(display(panel), QStringLiteral("Connect dark dark"));
}

void WindowStartupTest::connectOnFreePort_writesStatusQueryOnce()
{
    Panel panel;
    panel.serial.portsHeldElsewhere = {1};
    panel.startShown();
    QCOMPARE(panel.boxes.shown.size(), 1);
    panel.serial.portsHeldElsewhere.clear();

    panel.click(panel.button(QStringLiteral("Command7")));
    QCOMPARE(panel.serial.writes, QList<QByteArray>{bytes({0x04, 0x55, 0x20, 0x77})});
    QCOMPARE(panel.boxes.shown.size(), 1);
    QCOMPARE(display(panel), QStringLiteral("Disconnect lit dark"));
}

void WindowStartupTest::twoPressesWhenConnected_closeThenReopen()
{
    Panel panel;
    panel.startShown();
    QPushButton* command7 = panel.button(QStringLiteral("Command7"));

    panel.click(command7);
    QVERIFY(!panel.serial.isOpen());
    QVERIFY(panel.serial.writes.isEmpty());
    QCOMPARE(display(panel), QStringLiteral("Connect dark lit"));

    panel.click(command7);
    QVERIFY(panel.serial.isOpen());
    QCOMPARE(panel.serial.writes, QList<QByteArray>{bytes({0x04, 0x55, 0x20, 0x77})});
    QCOMPARE(display(panel), QStringLiteral("Disconnect lit dark"));
    QVERIFY(panel.boxes.shown.isEmpty());
}

void WindowStartupTest::connectWhenWriteFails_showsBoxOnceAndKeepsDisplay()
{
    Panel panel;
    panel.startShown();
    QPushButton* command7 = panel.button(QStringLiteral("Command7"));
    panel.click(command7);
    panel.serial.failWrites = true;

    panel.click(command7);
    QCOMPARE(panel.boxes.failureCount(), 1);
    QCOMPARE(panel.boxes.shown.size(), 1);
    QVERIFY(panel.serial.isOpen());
    QVERIFY(panel.serial.writes.isEmpty());
    QCOMPARE(display(panel), QStringLiteral("Connect dark lit"));

    // The port is open under a Not connected display: the next press closes, the one after opens.
    panel.serial.failWrites = false;
    panel.click(command7);
    QVERIFY(!panel.serial.isOpen());
    QVERIFY(panel.serial.writes.isEmpty());
    QCOMPARE(display(panel), QStringLiteral("Connect dark lit"));
    panel.click(command7);
    QCOMPARE(panel.serial.writes, QList<QByteArray>{bytes({0x04, 0x55, 0x20, 0x77})});
    QCOMPARE(display(panel), QStringLiteral("Disconnect lit dark"));
    QCOMPARE(panel.boxes.shown.size(), 1);
}

void WindowStartupTest::connectOnPortHeldElsewhere_showsBoxOnce()
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
    QCOMPARE(display(panel), QStringLiteral("Connect dark lit"));
}

void WindowStartupTest::pickWhileConnected_closesWithoutBoxAndRemembers()
{
    Panel panel;
    Form1& form = panel.startShown();
    form.out2(3); // lamps keep the last reported routing across a port change

    panel.combo()->setCurrentIndex(2);
    QVERIFY(!panel.serial.isOpen());
    QCOMPARE(display(panel), QStringLiteral("Connect dark lit"));
    QVERIFY(panel.boxes.shown.isEmpty());
    QVERIFY(panel.serial.writes.isEmpty());
    QCOMPARE(panel.portFile(), QByteArray(" 2 \r\n"));
    QCOMPARE(form.link().portNumber(), 3);
    QCOMPARE(lampRow(form, 2), QStringLiteral("0010"));

    panel.click(panel.button(QStringLiteral("Command7")));
    QCOMPARE(panel.serial.openedPortNumber, 3);
    QCOMPARE(panel.serial.writes, QList<QByteArray>{bytes({0x04, 0x55, 0x20, 0x77})});
}

void WindowStartupTest::pickWhileNotConnected_leavesDisplay()
{
    Panel panel;
    panel.serial.existingPorts.remove(1);
    Form1& form = panel.startShown();
    panel.boxes.shown.clear();
    const int closes = panel.serial.closeCalls;

    panel.combo()->setCurrentIndex(4);
    QCOMPARE(display(panel), QStringLiteral("Connect dark lit"));
    QCOMPARE(panel.serial.closeCalls, closes);
    QCOMPARE(panel.portFile(), QByteArray(" 4 \r\n"));
    QCOMPARE(form.link().portNumber(), 5);
    QVERIFY(panel.boxes.shown.isEmpty());
    QVERIFY(panel.serial.writes.isEmpty());
}

void WindowStartupTest::typedTextInPortList_changesNothing()
{
    Panel panel;
    Form1& form = panel.startShown();
    QLineEdit* edit = panel.combo()->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("COM3"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);

    QCOMPARE(edit->text(), QStringLiteral("COM3"));
    QCOMPARE(panel.combo()->currentIndex(), 0);
    QCOMPARE(panel.combo()->count(), 10);
    QCOMPARE(form.link().portNumber(), 1);
    QCOMPARE(panel.portFile(), QByteArray(" 0 \r\n"));
    QCOMPARE(display(panel), QStringLiteral("Disconnect lit dark"));
    QVERIFY(panel.serial.isOpen());
}

void WindowStartupTest::deviceGone_showsNotConnected()
{
    Panel panel;
    panel.startShown();
    panel.serial.hangUp();
    QCOMPARE(display(panel), QStringLiteral("Connect dark lit"));
    QVERIFY(panel.boxes.shown.isEmpty());
}

QTEST_MAIN(WindowStartupTest)
#include "tst_window_startup.moc"
