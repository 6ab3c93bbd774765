// Replies through the port: the log, the routing lamps and the EDID selection follow them.
#include "windowfixture.h"

#include <QSignalSpy>

namespace {

// Delivers bytes as they would arrive and waits until the window has handled the reply.
[[nodiscard]] bool arrive(Panel& panel, const QByteArray& chunk)
{
    QSignalSpy handled(&panel.form->replyIntake(), &ReplyIntake::replyText);
    panel.serial.feed(chunk);
    return handled.wait() && handled.count() == 1;
}

bool wholeLogSelected(const Panel& panel)
{
    const QTextCursor cursor = panel.text1()->textCursor();
    const int length = int(panel.form->messageLog().text().size());
    return cursor.selectionStart() == 0 && cursor.selectionEnd() == length &&
           cursor.position() == length;
}

const QString kCrLf = QStringLiteral("\r\n");

} // namespace

class WindowRepliesTest : public QObject {
    Q_OBJECT
private slots:
    void routeReply_logsAndLightsOneLamp();
    void statusReply_lightsFourLampsAndEndsWithLineBreak();
    void statusReplySkippingAnOutput_leavesItsLamps();
    void edidReplyForNewMode_selectsOptionAndSendsOnce();
    void echoesOfTwoQuickEdidClicks_moveSelectionWithoutSendingAgain();
    void edidReplyForSelectedMode_sendsNothing();
    void highBitChunk_changesNothingButSelects();
    void ackAndEdm_leaveLogAndLamps();
    void unknownText_isLoggedUnchanged();
    void splitReply_isDecodedAsTwoTexts();

    void outProcedures_lightExactlyOneLampOfTheirOutput();
    void outWithInputOutOfRange_changesNothing();
    void lamps_describeTheirState();
};

void WindowRepliesTest::routeReply_logsAndLightsOneLamp()
{
    Panel panel;
    Form1& form = panel.startShown();
    form.out2(1);
    QVERIFY(arrive(panel, "s22"));
    QCOMPARE(form.messageLog().text(), QStringLiteral("\r\nHDMI Out2 -> HDMI In 3"));
    QCOMPARE(lampRow(form, 2), QStringLiteral("0010"));
    QCOMPARE(lampRow(form, 1), QStringLiteral("0000"));
    QCOMPARE(lampRow(form, 3), QStringLiteral("0000"));
    QCOMPARE(lampRow(form, 4), QStringLiteral("0000"));
    QVERIFY(panel.serial.writes.isEmpty());
    QVERIFY(wholeLogSelected(panel));
    QCOMPARE(display(panel), QStringLiteral("Disconnect lit dark"));
}

void WindowRepliesTest::statusReply_lightsFourLampsAndEndsWithLineBreak()
{
    Panel panel;
    Form1& form = panel.startShown();
    QVERIFY(arrive(panel, "\r\ns10s21s32s43"));
    const QString status = kCrLf + "HDMI Out1 -> HDMI In 1" + kCrLf + "HDMI Out2 -> HDMI In 2" +
                           kCrLf + "HDMI Out3 -> HDMI In 3" + kCrLf + "HDMI Out4 -> HDMI In 4" +
                           kCrLf;
    QCOMPARE(form.messageLog().text(), status);
    QCOMPARE(lampRow(form, 1), QStringLiteral("1000"));
    QCOMPARE(lampRow(form, 2), QStringLiteral("0100"));
    QCOMPARE(lampRow(form, 3), QStringLiteral("0010"));
    QCOMPARE(lampRow(form, 4), QStringLiteral("0001"));
    QVERIFY(wholeLogSelected(panel));

    // The next entry follows an empty line.
    QVERIFY(arrive(panel, "s13"));
    QCOMPARE(form.messageLog().text(), status + kCrLf + "HDMI Out1 -> HDMI In 4");
    QCOMPARE(lampRow(form, 1), QStringLiteral("0001"));
    QCOMPARE(lampRow(form, 2), QStringLiteral("0100"));
}

void WindowRepliesTest::statusReplySkippingAnOutput_leavesItsLamps()
{
    Panel panel;
    Form1& form = panel.startShown();
    form.out1(3);
    QVERIFY(arrive(panel, "\r\ns19s20s30s40"));
    QCOMPARE(lampRow(form, 1), QStringLiteral("0010"));
    QCOMPARE(lampRow(form, 2), QStringLiteral("1000"));
    QVERIFY(form.messageLog().text().startsWith(kCrLf + "HDMI Out2 -> HDMI In 1"));
    QVERIFY(form.messageLog().text().endsWith(kCrLf + "HDMI Out4 -> HDMI In 1" + kCrLf));
}

void WindowRepliesTest::edidReplyForNewMode_selectsOptionAndSendsOnce()
{
    Panel panel;
    Form1& form = panel.startShown();
    panel.click(panel.option(0));
    panel.serial.writes.clear();

    QVERIFY(arrive(panel, "EE6"));
    QVERIFY(panel.option(6)->isChecked());
    QVERIFY(!panel.option(0)->isChecked());
    QCOMPARE(panel.serial.writes, QList<QByteArray>{bytes({0x05, 0x55, 0x18, 0x06, 0x77})});
    QCOMPARE(form.messageLog().text(), QStringLiteral("\r\nEDID 2D-5.1CH"));
    QVERIFY(panel.boxes.shown.isEmpty());
}

void WindowRepliesTest::echoesOfTwoQuickEdidClicks_moveSelectionWithoutSendingAgain()
{
    // Sending the overtaken mode again on its echo would start an endless exchange.
    Panel panel;
    Form1& form = panel.startShown();
    panel.click(panel.option(3));
    panel.click(panel.option(5));
    QVERIFY(arrive(panel, "EE3"));
    QVERIFY(panel.option(3)->isChecked());
    QVERIFY(arrive(panel, "EE5"));
    QVERIFY(panel.option(5)->isChecked());
    QCOMPARE(panel.serial.writes, (QList<QByteArray>{bytes({0x05, 0x55, 0x18, 0x03, 0x77}),
                                                    bytes({0x05, 0x55, 0x18, 0x05, 0x77})}));
    QCOMPARE(form.messageLog().text(),
             QStringLiteral("\r\nEDID COPY FROM OUTPUT3\r\nEDID 2D-2.0CH"));

    // A later change the switcher makes on its own is still followed and sent.
    QVERIFY(arrive(panel, "EE3"));
    QCOMPARE(panel.serial.writes.size(), 3);
    QCOMPARE(panel.serial.writes.last(), bytes({0x05, 0x55, 0x18, 0x03, 0x77}));
}

void WindowRepliesTest::edidReplyForSelectedMode_sendsNothing()
{
    Panel panel;
    Form1& form = panel.startShown();
    QVERIFY(arrive(panel, "EE9"));
    QCOMPARE(panel.serial.writes.size(), 1);
    QVERIFY(arrive(panel, "EE9"));
    QCOMPARE(panel.serial.writes.size(), 1);
    QVERIFY(panel.option(9)->isChecked());
    QCOMPARE(form.messageLog().text(), QStringLiteral("\r\nEDID 3D-5.1CH\r\nEDID 3D-5.1CH"));
}

void WindowRepliesTest::highBitChunk_changesNothingButSelects()
{
    Panel panel;
    Form1& form = panel.startShown();
    QVERIFY(arrive(panel, "s10"));
    const QString before = form.messageLog().text();
    QTextCursor caret = panel.text1()->textCursor();
    caret.setPosition(0);
    panel.text1()->setTextCursor(caret);

    QVERIFY(arrive(panel, bytes({0x73, 0x32, 0x31, 0xFF})));
    QCOMPARE(form.messageLog().text(), before);
    QCOMPARE(lampRow(form, 1), QStringLiteral("1000"));
    QCOMPARE(lampRow(form, 2), QStringLiteral("0000"));
    QVERIFY(panel.serial.writes.isEmpty());
    QVERIFY(wholeLogSelected(panel));
}

void WindowRepliesTest::ackAndEdm_leaveLogAndLamps()
{
    Panel panel;
    Form1& form = panel.startShown();
    QVERIFY(arrive(panel, "Ack\r\n"));
    QVERIFY(arrive(panel, "edm123"));
    QCOMPARE(form.messageLog().text(), QString());
    for (int output = 1; output <= 4; ++output)
        QCOMPARE(lampRow(form, output), QStringLiteral("0000"));
}

void WindowRepliesTest::unknownText_isLoggedUnchanged()
{
    Panel panel;
    Form1& form = panel.startShown();
    QVERIFY(arrive(panel, "s10"));
    QVERIFY(arrive(panel, QByteArray("S10\r\nx\0y", 8)));
    QCOMPARE(form.messageLog().text(), QStringLiteral("\r\nHDMI Out1 -> HDMI In 1") +
                                           QString::fromLatin1(QByteArray("S10\r\nx\0y", 8)));
    QCOMPARE(lampRow(form, 1), QStringLiteral("1000"));
}

void WindowRepliesTest::splitReply_isDecodedAsTwoTexts()
{
    Panel panel;
    Form1& form = panel.startShown();
    QVERIFY(arrive(panel, "s1"));
    QVERIFY(arrive(panel, "0"));
    QCOMPARE(form.messageLog().text(), QStringLiteral("s10"));
    QCOMPARE(lampRow(form, 1), QStringLiteral("0000"));
}

void WindowRepliesTest::outProcedures_lightExactlyOneLampOfTheirOutput()
{
    Panel panel;
    Form1& form = panel.start();
    form.out1(1);
    QCOMPARE(lampRow(form, 1), QStringLiteral("1000"));
    form.out3(4);
    QCOMPARE(lampRow(form, 3), QStringLiteral("0001"));
    form.out2(3);
    form.out2(1);
    QCOMPARE(lampRow(form, 2), QStringLiteral("1000"));
    form.out4(2);
    form.out4(2);
    QCOMPARE(lampRow(form, 4), QStringLiteral("0100"));
    // Each call touched its own output only.
    QCOMPARE(lampRow(form, 1), QStringLiteral("1000"));
    QCOMPARE(lampRow(form, 3), QStringLiteral("0001"));

    for (int output = 1; output <= 4; ++output) {
        for (int input = 1; input <= 4; ++input) {
            form.outN(output, quint8(input));
            QString expected(4, u'0');
            expected[input - 1] = u'1';
            QCOMPARE(lampRow(form, output), expected);
        }
    }
}

void WindowRepliesTest::outWithInputOutOfRange_changesNothing()
{
    Panel panel;
    Form1& form = panel.start();
    for (const quint8 input : {quint8(0), quint8(5), quint8(255)})
        form.out4(input);
    QCOMPARE(lampRow(form, 4), QStringLiteral("0000"));
    form.out4(3);
    for (const quint8 input : {quint8(0), quint8(5), quint8(255)}) {
        form.out4(input);
        form.outN(0, 1);
        form.outN(5, 1);
    }
    QCOMPARE(lampRow(form, 4), QStringLiteral("0010"));
    for (int output = 1; output <= 3; ++output)
        QCOMPARE(lampRow(form, output), QStringLiteral("0000"));
}

void WindowRepliesTest::lamps_describeTheirState()
{
    Panel panel;
    Form1& form = panel.startShown();
    Lamp* b3 = form.routingLamp(2, 3);
    QCOMPARE(b3->objectName(), QStringLiteral("Shape18_2"));
    QCOMPARE(b3->accessibleName(), QStringLiteral("B 3"));
    QCOMPARE(b3->accessibleDescription(), QStringLiteral("dark"));
    QVERIFY(arrive(panel, "s22"));
    QCOMPARE(b3->accessibleDescription(), QStringLiteral("lit"));
    QVERIFY(arrive(panel, "s20"));
    QCOMPARE(b3->accessibleDescription(), QStringLiteral("dark"));
    QCOMPARE(form.routingLamp(2, 1)->accessibleDescription(), QStringLiteral("lit"));
    QCOMPARE(form.connectedLamp()->accessibleName(), QStringLiteral("Connected"));
    QCOMPARE(form.connectedLamp()->accessibleDescription(), QStringLiteral("lit"));
    QCOMPARE(form.disconnectLamp()->accessibleName(), QStringLiteral("Disconnect"));
    QCOMPARE(form.disconnectLamp()->accessibleDescription(), QStringLiteral("dark"));
}

QTEST_MAIN(WindowRepliesTest)
#include "tst_window_replies.moc"
