// Block buttons, "Status" and the EDID options put their frames on the wire.
#include "windowfixture.h"

using switcher::buttonFrame;
using switcher::edidFrame;

class WindowCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void blockButton_writesItsFrame_data()
    {
        QTest::addColumn<int>("index");
        for (int index = 0; index < 24; ++index)
            QTest::addRow("Command1_%d", index) << index;
    }

    void blockButton_writesItsFrame()
    {
        QFETCH(int, index);
        Panel panel;
        panel.startShown();

        panel.click(panel.command1(index));
        QCOMPARE(panel.serial.writes, QList<QByteArray>{buttonFrame(index)});
        QVERIFY(panel.boxes.shown.isEmpty());
        // A command changes nothing in the window: lamps follow replies only.
        QCOMPARE(panel.lampRows(), controls::kAllDark);
        QCOMPARE(panel.log(), QString());
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
    }

    void option_writesItsModeFrame_data()
    {
        QTest::addColumn<int>("mode");
        for (int mode = 0; mode < 11; ++mode)
            QTest::addRow("Option1_%d", mode) << mode;
    }

    void option_writesItsModeFrame()
    {
        QFETCH(int, mode);
        Panel panel;
        panel.startShown();
        QRadioButton* option = panel.option(mode);
        QCOMPARE(option->text(), switcher::kEdidCaptions.at(mode));

        panel.click(option);
        QVERIFY(option->isChecked());
        QCOMPARE(panel.serial.writes, QList<QByteArray>{edidFrame(mode)});
        QVERIFY(panel.boxes.shown.isEmpty());
    }

    void statusButton_writesExactlyFourBytes()
    {
        Panel panel;
        panel.startShown();
        panel.click(panel.button(QStringLiteral("Command6")));
        QCOMPARE(panel.serial.writes, QList<QByteArray>{switcher::kStatusQuery});
        QCOMPARE(panel.serial.allWritten().size(), 4);
    }

    void clicksInARow_writeEveryFrameInOrder()
    {
        Panel panel;
        panel.startShown();
        panel.click(panel.command1(12));
        panel.click(panel.command1(16));
        panel.click(panel.command1(16));
        QCOMPARE(panel.serial.writes,
                 (QList<QByteArray>{buttonFrame(12), buttonFrame(16), buttonFrame(16)}));
    }

    void buttonOnClosedPort_showsBoxOnceAndWritesNothing()
    {
        Panel panel;
        panel.startShown();
        panel.click(panel.button(QStringLiteral("Command7")));

        panel.click(panel.command1(3));
        QCOMPARE(panel.boxes.shown.size(), 1);
        QCOMPARE(panel.boxes.failureCount(), 1);
        QVERIFY(panel.serial.writes.isEmpty());
        QCOMPARE(panel.display(), QStringLiteral("Connect red"));

        panel.click(panel.button(QStringLiteral("Command6")));
        QCOMPARE(panel.boxes.failureCount(), 2);

        // The lost frames are not sent later.
        panel.click(panel.button(QStringLiteral("Command7")));
        QCOMPARE(panel.serial.writes, QList<QByteArray>{switcher::kStatusQuery});
    }

    void optionOnClosedPort_showsBoxAndStaysSelected()
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

    void optionAlreadySelected_clickSendsAgain()
    {
        Panel panel;
        panel.startShown();
        panel.click(panel.option(10));
        panel.click(panel.option(10));
        QCOMPARE(panel.serial.writes, (QList<QByteArray>{edidFrame(10), edidFrame(10)}));
        QVERIFY(panel.option(10)->isChecked());
    }

    void selectingAnOption_clearsTheOthers()
    {
        Panel panel;
        panel.startShown();
        panel.click(panel.option(0));
        panel.click(panel.option(3));
        QCOMPARE(panel.checkedOptions(), QList<int>{3});
    }
};

QTEST_MAIN(WindowCommandsTest)
#include "tst_window_commands.moc"
