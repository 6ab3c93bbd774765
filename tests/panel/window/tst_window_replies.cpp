// Replies through the port: the log, the routing lamps and the EDID selection follow them.
#include "windowfixture.h"

using controls::rowsFor;
using switcher::edidEntry;
using switcher::edidFrame;
using switcher::routeEntry;

namespace {

bool wholeLogSelected(const Panel& panel)
{
    const QTextCursor cursor = panel.text1()->textCursor();
    const int length = int(panel.log().size());
    return cursor.selectionStart() == 0 && cursor.selectionEnd() == length &&
           cursor.position() == length;
}

} // namespace

class WindowRepliesTest : public QObject {
    Q_OBJECT
private slots:
    void routeReply_logsAndLightsOneLamp()
    {
        Panel panel;
        Form1& form = panel.startShown();
        form.out2(1);
        QVERIFY(panel.arrive("s22"));
        QCOMPARE(panel.log(), routeEntry(2, 3));
        QCOMPARE(panel.lampRows(), rowsFor("0300"));
        QVERIFY(panel.serial.writes.isEmpty());
        QVERIFY(wholeLogSelected(panel));
        QCOMPARE(panel.display(), QStringLiteral("Disconnect green"));
    }

    void statusReply_lightsFourLampsAndEndsWithLineBreak()
    {
        Panel panel;
        panel.startShown();
        QVERIFY(panel.arrive("\r\ns10s21s32s43"));
        const QString status = switcher::statusEntries("1234");
        QCOMPARE(panel.log(), status);
        QCOMPARE(panel.lampRows(), rowsFor("1234"));
        QVERIFY(wholeLogSelected(panel));

        // The next entry follows an empty line.
        QVERIFY(panel.arrive("s13"));
        QCOMPARE(panel.log(), status + "\r\nHDMI Out1 -> HDMI In 4");
        QCOMPARE(panel.lampRows(), rowsFor("4234"));
    }

    void statusReplySkippingAnOutput_leavesItsLamps()
    {
        Panel panel;
        Form1& form = panel.startShown();
        form.out1(3);
        QVERIFY(panel.arrive("\r\ns19s20s30s40"));
        QCOMPARE(panel.lampRows(), rowsFor("3111"));
        QCOMPARE(panel.log(), routeEntry(2, 1) + routeEntry(3, 1) + routeEntry(4, 1) + "\r\n");
    }

    void edidReplyForNewMode_selectsOptionAndSendsOnce()
    {
        Panel panel;
        panel.startShown();
        panel.click(panel.option(0));
        panel.serial.writes.clear();

        QVERIFY(panel.arrive("EE6"));
        QCOMPARE(panel.checkedOptions(), QList<int>{6});
        QCOMPARE(panel.serial.writes, QList<QByteArray>{edidFrame(6)});
        QCOMPARE(panel.log(), edidEntry(6));
        QVERIFY(panel.boxes.shown.isEmpty());
    }

    void echoesOfTwoQuickEdidClicks_moveSelectionWithoutSendingAgain()
    {
        // Sending the overtaken mode again on its echo would start an endless exchange.
        Panel panel;
        panel.startShown();
        panel.click(panel.option(3));
        panel.click(panel.option(5));
        QVERIFY(panel.arrive("EE3"));
        QVERIFY(panel.option(3)->isChecked());
        QVERIFY(panel.arrive("EE5"));
        QVERIFY(panel.option(5)->isChecked());
        QCOMPARE(panel.serial.writes, (QList<QByteArray>{edidFrame(3), edidFrame(5)}));
        QCOMPARE(panel.log(), edidEntry(3) + edidEntry(5));

        // A later change the switcher makes on its own is still followed and sent.
        QVERIFY(panel.arrive("EE3"));
        QCOMPARE(panel.serial.writes.size(), 3);
        QCOMPARE(panel.serial.writes.last(), edidFrame(3));
    }

    void edidReplyForSelectedMode_sendsNothing()
    {
        Panel panel;
        panel.startShown();
        QVERIFY(panel.arrive("EE9"));
        QCOMPARE(panel.serial.writes.size(), 1);
        QVERIFY(panel.arrive("EE9"));
        QCOMPARE(panel.serial.writes.size(), 1);
        QVERIFY(panel.option(9)->isChecked());
        QCOMPARE(panel.log(), edidEntry(9) + edidEntry(9));
    }

    void highBitChunk_changesNothingButSelects()
    {
        Panel panel;
        panel.startShown();
        QVERIFY(panel.arrive("s10"));
        const QString before = panel.log();
        QTextCursor caret = panel.text1()->textCursor();
        caret.setPosition(0);
        panel.text1()->setTextCursor(caret);

        QVERIFY(panel.arrive("s21\xFF"));
        QCOMPARE(panel.log(), before);
        QCOMPARE(panel.lampRows(), rowsFor("1000"));
        QVERIFY(panel.serial.writes.isEmpty());
        QVERIFY(wholeLogSelected(panel));
    }

    void ackAndEdm_leaveLogAndLamps()
    {
        Panel panel;
        panel.startShown();
        QVERIFY(panel.arrive("Ack\r\n"));
        QVERIFY(panel.arrive("edm123"));
        QCOMPARE(panel.log(), QString());
        QCOMPARE(panel.lampRows(), controls::kAllDark);
    }

    void unknownText_isLoggedUnchanged()
    {
        Panel panel;
        panel.startShown();
        const QByteArray odd("S10\r\nx\0y", 8);
        QVERIFY(panel.arrive("s10"));
        QVERIFY(panel.arrive(odd));
        QCOMPARE(panel.log(), routeEntry(1, 1) + QString::fromLatin1(odd));
        QCOMPARE(panel.lampRows(), rowsFor("1000"));
    }

    void splitReply_isDecodedAsTwoTexts()
    {
        Panel panel;
        panel.startShown();
        QVERIFY(panel.arrive("s1"));
        QVERIFY(panel.arrive("0"));
        QCOMPARE(panel.log(), QStringLiteral("s10"));
        QCOMPARE(panel.lampRows(), controls::kAllDark);
    }

    void outProcedures_lightExactlyOneLampOfTheirOutput()
    {
        Panel panel;
        Form1& form = panel.start();
        form.out1(1);
        QCOMPARE(panel.lampRows(), rowsFor("1000"));
        form.out3(4);
        QCOMPARE(panel.lampRows(), rowsFor("1040"));
        form.out2(3);
        form.out2(1);
        QCOMPARE(panel.lampRows(), rowsFor("1140"));
        form.out4(2);
        form.out4(2);
        // Each call touched its own output only.
        QCOMPARE(panel.lampRows(), rowsFor("1142"));

        for (int output = 1; output <= 4; ++output) {
            for (int input = 1; input <= 4; ++input) {
                form.outN(output, quint8(input));
                QCOMPARE(panel.lampRows().at(output - 1), controls::row(input));
            }
        }
    }

    void outWithInputOutOfRange_changesNothing()
    {
        Panel panel;
        Form1& form = panel.start();
        for (const quint8 input : {quint8(0), quint8(5), quint8(255)})
            form.out4(input);
        QCOMPARE(panel.lampRows(), controls::kAllDark);
        form.out4(3);
        for (const quint8 input : {quint8(0), quint8(5), quint8(255)}) {
            form.out4(input);
            form.outN(0, 1);
            form.outN(5, 1);
        }
        QCOMPARE(panel.lampRows(), rowsFor("0003"));
    }

    void lamps_describeTheirState()
    {
        Panel panel;
        panel.startShown();
        Lamp* b3 = panel.lamp(2, 3);
        QCOMPARE(b3->objectName(), QStringLiteral("Shape18_2"));
        QCOMPARE(b3->accessibleName(), QStringLiteral("B 3"));
        QCOMPARE(b3->accessibleDescription(), QStringLiteral("dark"));
        QVERIFY(panel.arrive("s22"));
        QCOMPARE(b3->accessibleDescription(), QStringLiteral("lit"));
        QVERIFY(panel.arrive("s20"));
        QCOMPARE(b3->accessibleDescription(), QStringLiteral("dark"));
        QCOMPARE(panel.lamp(2, 1)->accessibleDescription(), QStringLiteral("lit"));
        auto* connected = panel.child<Lamp>(QStringLiteral("Shape15"));
        auto* disconnect = panel.child<Lamp>(QStringLiteral("Shape16"));
        QCOMPARE(connected->accessibleName(), QStringLiteral("Connected"));
        QCOMPARE(connected->accessibleDescription(), QStringLiteral("lit"));
        QCOMPARE(disconnect->accessibleName(), QStringLiteral("Disconnect"));
        QCOMPARE(disconnect->accessibleDescription(), QStringLiteral("dark"));
    }
};

QTEST_MAIN(WindowRepliesTest)
#include "tst_window_replies.moc"
