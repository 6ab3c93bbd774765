// The 30 ms reply intake: bytes that arrive within a settle window are one reply text.

#include "serial/replyintake.h"
#include "support/fakes/fakeserialcontrol.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class ReplyIntakeTest : public QObject {
    Q_OBJECT
private slots:
    void intake_bytesWithinTheSettleWindow_areOneText()
    {
        FakeSerialControl serial;
        serial.setPortNumber(1);
        QVERIFY(serial.open());
        ReplyIntake intake(serial);
        QSignalSpy texts(&intake, &ReplyIntake::replyText);

        serial.feed("s1");
        QTest::qWait(10); // a gap shorter than the settle wait, as a slow line would leave
        serial.feed("0");
        QTRY_COMPARE(texts.size(), 1);
        QCOMPARE(texts[0][0].toString(), QStringLiteral("s10"));
        QTest::qWait(60);
        QCOMPARE(texts.size(), 1);
    }

    void intake_bytesAfterTheWindow_areTheNextText()
    {
        FakeSerialControl serial;
        serial.setPortNumber(1);
        QVERIFY(serial.open());
        ReplyIntake intake(serial);
        QSignalSpy texts(&intake, &ReplyIntake::replyText);

        serial.feed("s1");
        QTRY_COMPARE(texts.size(), 1);
        serial.feed(hex("30ff"));
        QTRY_COMPARE(texts.size(), 2);
        QCOMPARE(texts[0][0].toString(), QStringLiteral("s1"));
        QCOMPARE(texts[1][0].toString(), QString()); // high-bit chunk rejected whole
    }
};

QTEST_GUILESS_MAIN(ReplyIntakeTest)
#include "tst_replyintake.moc"
