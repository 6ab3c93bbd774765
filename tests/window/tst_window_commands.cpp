// Block buttons, "Status" and the EDID options put their frames on the wire.
#include "windowfixture.h"

class WindowCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void blockButton_writesItsFrame_data();
    void blockButton_writesItsFrame();
    void option_writesItsModeFrame_data();
    void option_writesItsModeFrame();
    void statusButton_writesExactlyFourBytes();
    void clicksInARow_writeEveryFrameInOrder();

    void buttonOnClosedPort_showsBoxOnceAndWritesNothing();
    void optionOnClosedPort_showsBoxAndStaysSelected();
    void optionAlreadySelected_clickSendsAgain();
    void selectingAnOption_clearsTheOthers();
};

void WindowCommandsTest::blockButton_writesItsFrame_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("code");
    // The switcher's codes, by button index, as the button table lists them.
    const int codes[24] = {0x57, 0x41, 0x09, 0x1D, 0x1F, 0x0D, 0x1B, 0x11, 0x17, 0x12, 0x59, 0x08,
                           0x55, 0x48, 0x5E, 0x06, 0x05, 0x03, 0x07, 0x40, 0x18, 0x44, 0x0F, 0x51};
    for (int index = 0; index < 24; ++index)
        QTest::addRow("Command1_%d", index) << index << codes[index];
}

void WindowCommandsTest::blockButton_writesItsFrame()
{
    QFETCH(int, index);
    QFETCH(int, code);
    Panel panel;
    Form1& form = panel.startShown();

    panel.click(panel.command1(index));
    QCOMPARE(panel.serial.writes, QList<QByteArray>{bytes({0x05, 0x55, 0x19, code, 0x77})});
    QVERIFY(panel.boxes.shown.isEmpty());
    // A command changes nothing in the window: lamps follow replies only.
    for (int output = 1; output <= 4; ++output)
        QCOMPARE(lampRow(form, output), QStringLiteral("0000"));
    QCOMPARE(form.messageLog().text(), QString());
    QCOMPARE(display(panel), QStringLiteral("Disconnect lit dark"));
}

void WindowCommandsTest::option_writesItsModeFrame_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("caption");
    const char* captions[11] = {"EDID MIX",    "copy from A", "copy from B", "copy from C",
                                "copy from D", "2D-2.0CH",    "2D-5.1CH",    "2D-7.1CH",
                                "3D-2.0CH",    "3D-5.1CH",    "3D-7.1CH"};
    for (int mode = 0; mode < 11; ++mode)
        QTest::addRow("Option1_%d", mode) << mode << QString::fromLatin1(captions[mode]);
}

void WindowCommandsTest::option_writesItsModeFrame()
{
    QFETCH(int, mode);
    QFETCH(QString, caption);
    Panel panel;
    panel.startShown();
    QRadioButton* option = panel.option(mode);
    QCOMPARE(option->text(), caption);

    panel.click(option);
    QVERIFY(option->isChecked());
    QCOMPARE(panel.serial.writes, QList<QByteArray>{bytes({0x05, 0x55, 0x18, mode, 0x77})});
    QVERIFY(panel.boxes.shown.isEmpty());
}

void WindowCommandsTest::statusButton_writesExactlyFourBytes()
{
    Panel panel;
    panel.startShown();
    panel.click(panel.button(QStringLiteral("Command6")));
    QCOMPARE(panel.serial.writes, QList<QByteArray>{bytes({0x04, 0x55, 0x20, 0x77})});
    QCOMPARE(panel.serial.allWritten().size(), 4);
}

void WindowCommandsTest::clicksInARow_writeEveryFrameInOrder()
{
    Panel panel;
    panel.startShown();
    panel.click(panel.command1(12));
    panel.click(panel.command1(16));
    panel.click(panel.command1(16));
    const QList<QByteArray> expected = {bytes({0x05, 0x55, 0x19, 0x55, 0x77}),
                                        bytes({0x05, 0x55, 0x19, 0x05, 0x77}),
                                        bytes({0x05, 0x55, 0x19, 0x05, 0x77})};
    QCOMPARE(panel.serial.writes, expected);
}

void WindowCommandsTest::buttonOnClosedPort_showsBoxOnceAndWritesNothing()
{
    Panel panel;
    panel.startShown();
    panel.click(panel.button(QStringLiteral("Command7")));

    panel.click(panel.command1(3));
    QCOMPARE(panel.boxes.shown.size(), 1);
    QCOMPARE(panel.boxes.failureCount(), 1);
    QVERIFY(panel.serial.writes.isEmpty());
    QCOMPARE(display(panel), QStringLiteral("Connect dark lit"));

    panel.click(panel.button(QStringLiteral("Command6")));
    QCOMPARE(panel.boxes.failureCount(), 2);

    // The lost frames are not sent later.
    panel.click(panel.button(QStringLiteral("Command7")));
    QCOMPARE(panel.serial.writes, QList<QByteArray>{bytes({0x04, 0x55, 0x20, 0x77})});
}

void WindowCommandsTest::optionOnClosedPort_showsBoxAndStaysSelected()
{
    Panel panel;
    panel.serial.existingPorts.remove(1);
    panel.startShown();
    panel.boxes.shown.clear();

    panel.click(panel.option(6));
    QCOMPARE(panel.boxes.failureCount(), 1);
    QCOMPARE(panel.boxes.shown.size(), 1);
    QVERIFY(panel.option(6)->isChecked());
    QVERIFY(panel.serial.writes.isEmpty());
}

void WindowCommandsTest::optionAlreadySelected_clickSendsAgain()
{
    Panel panel;
    panel.startShown();
    panel.click(panel.option(10));
    panel.click(panel.option(10));
    const QByteArray frame = bytes({0x05, 0x55, 0x18, 0x0A, 0x77});
    QCOMPARE(panel.serial.writes, (QList<QByteArray>{frame, frame}));
    QVERIFY(panel.option(10)->isChecked());
}

void WindowCommandsTest::selectingAnOption_clearsTheOthers()
{
    Panel panel;
    panel.startShown();
    panel.click(panel.option(0));
    panel.click(panel.option(3));
    for (int mode = 0; mode <= 10; ++mode)
        QCOMPARE(panel.option(mode)->isChecked(), mode == 3);
}

QTEST_MAIN(WindowCommandsTest)
#include "tst_window_commands.moc"
