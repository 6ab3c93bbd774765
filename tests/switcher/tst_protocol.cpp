#include "switcher/commandframe.h"
#include "switcher/confirmation.h"
#include "switcher/replies.h"
#include "switcher/replydecoder.h"
#include "switcher/replytext.h"
#include "support/effects.h"
#include "support/switcher.h"

#include <QTest>

using Effects = ReplyEffects;
using E = ReplyEffect;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QString text(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes);
}

Effects route(int output, int input)
{
    return {E::logEntry(switcher::routeMessage(output, input)), E::lamp(output, input)};
}

} // namespace

class ProtocolTest : public QObject {
    Q_OBJECT
private slots:
    void buttonFrames_matchTheSwitcherTable_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < kButtonCount; ++i)
            QTest::addRow("index %d", i) << i;
    }

    void buttonFrames_matchTheSwitcherTable()
    {
        QFETCH(int, index);
        QCOMPARE(buttonCommandFrame(index).toHex(' '), switcher::buttonFrame(index).toHex(' '));
    }

    void edidAndStatusFrames_haveTheirFixedBytes()
    {
        QCOMPARE(statusQueryFrame(), switcher::kStatusQuery);
        QCOMPARE(edidModeFrame(0), hex("0555180077"));
        QCOMPARE(edidModeFrame(3), hex("0555180377"));
        QCOMPARE(edidModeFrame(10), hex("0555180a77"));
    }

    void buttonMeaning_followsTheBlockLayout()
    {
        QCOMPARE(int(buttonMeaning(0).role), int(ButtonRole::LeftArrow));
        QCOMPARE(buttonMeaning(0).output, 1);
        QCOMPARE(int(buttonMeaning(19).role), int(ButtonRole::RightArrow));
        QCOMPARE(buttonMeaning(19).output, 4);
        QCOMPARE(buttonMeaning(10).output, 2);
        QCOMPARE(buttonMeaning(10).input, 3);
        QCOMPARE(int(buttonMeaning(24).role), int(ButtonRole::Power));
        for (int output = 1; output <= 4; ++output) {
            for (int input = 1; input <= 4; ++input) {
                const auto meaning = buttonMeaning(inputButtonIndex(output, input));
                QCOMPARE(meaning.output, output);
                QCOMPARE(meaning.input, input);
            }
        }
        QCOMPARE(buttonIndexForCode(0x59).value(), 10);
        QCOMPARE(buttonIndexForCode(0xFF).value(), kPowerButtonIndex);
        QVERIFY(!buttonIndexForCode(0x00).has_value());
    }

    void bytes2BSTR_keepsAsciiAndRejectsHighBitChunks()
    {
        QCOMPARE(bytes2BSTR(hex("733130")), QStringLiteral("s10"));
        const QString status = bytes2BSTR(hex("0d0a733132733230733333733431"));
        QCOMPARE(status.size(), 14);
        QVERIFY(status.startsWith(QStringLiteral("\r\n")));
        QCOMPARE(bytes2BSTR(hex("410042")), QString::fromUtf16(u"A\0B", 3));
        QCOMPARE(bytes2BSTR(hex("733130ff")), QString());
        QCOMPARE(bytes2BSTR(hex("80")), QString());
        QCOMPARE(bytes2BSTR(hex("ff733130")), QString());
        QCOMPARE(bytes2BSTR(QByteArray()), QString());
        QCOMPARE(bytes2BSTR(hex("7f")), QString(QChar(0x7f)));
        for (const int length : {254, 255, 256, 4096}) {
            const QByteArray chunk(length, 'x');
            QCOMPARE(bytes2BSTR(chunk).size(), length);
            QCOMPARE(bytes2BSTR(chunk + '\x80'), QString());
        }
    }

    void decoder_routeReplies_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<Effects>("effects");
        QTest::newRow("s10") << "s10" << route(1, 1);
        QTest::newRow("s43") << "s43" << route(4, 4);
        QTest::newRow("s22") << "s22" << route(2, 3);
        QTest::newRow("s14 input digit out of range") << "s14" << Effects{};
        QTest::newRow("s50 output out of range") << "s50" << Effects{};
        QTest::newRow("s00") << "s00" << Effects{};
        QTest::newRow("s10s21 rest ignored") << "s10s21" << route(1, 1);
        QTest::newRow("s10 CR LF rest ignored") << "s10\r\n" << route(1, 1);
        QTest::newRow("S10 upper case") << "S10" << Effects{E::freeText("S10")};
        QTest::newRow("s1 too short") << "s1" << Effects{E::freeText("s1")};
        QTest::newRow("s alone") << "s" << Effects{E::freeText("s")};
        QTest::newRow("s1x") << "s1x" << Effects{E::freeText("s1x")};
    }

    void decoder_routeReplies()
    {
        QFETCH(QString, reply);
        QFETCH(Effects, effects);
        const Effects got = decodeReply(reply);
        QVERIFY2(got == effects, qPrintable(describe(got)));
    }

    void decoder_statusReplies_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<Effects>("effects");
        const Effects all =
            route(1, 1) + route(2, 2) + route(3, 3) + route(4, 4) + Effects{E::lineBreak()};
        QTest::newRow("all four") << "\r\ns10s21s32s43" << all;
        QTest::newRow("trailing bytes ignored") << "\r\ns10s21s32s43\r\nxyz" << all;
        QTest::newRow("output 1 digit 9 skipped")
            << "\r\ns19s21s32s43"
            << route(2, 2) + route(3, 3) + route(4, 4) + Effects{E::lineBreak()};
        QTest::newRow("group place decides the output, not its digit")
            << "\r\ns40s40s40s40"
            << route(1, 1) + route(2, 1) + route(3, 1) + route(4, 1) + Effects{E::lineBreak()};
        QTest::newRow("non-digit position skipped")
            << "\r\ns1xs21s3?s43" << route(2, 2) + route(4, 4) + Effects{E::lineBreak()};
        QTest::newRow("last digit missing skips output 4")
            << "\r\ns10s21s32s4"
            << route(1, 1) + route(2, 2) + route(3, 3) + Effects{E::lineBreak()};
        QTest::newRow("all bad still ends in a line break")
            << "\r\ns19s29s39s49" << Effects{E::lineBreak()};
        QTest::newRow("cut after the second group is free text")
            << "\r\ns10s21" << Effects{E::freeText("\r\ns10s21")};
        QTest::newRow("CR LF s1x") << "\r\ns1x" << Effects{E::freeText("\r\ns1x")};
        QTest::newRow("LF CR is not a status reply")
            << "\n\rs10s21s32s43" << Effects{E::freeText("\n\rs10s21s32s43")};
    }

    void decoder_statusReplies() { decoder_routeReplies(); }

    void decoder_edidReplies_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<Effects>("effects");
        const QStringList& messages = switcher::kEdidMessages;
        for (int mode = 0; mode <= 9; ++mode) {
            QTest::addRow("EE%d", mode)
                << QStringLiteral("EE%1").arg(mode)
                << Effects{E::logEntry(messages[mode]), E::edidSelection(mode)};
        }
        QTest::newRow("EE: is mode 10")
            << "EE:" << Effects{E::logEntry(messages[10]), E::edidSelection(10)};
        QTest::newRow("EE12 reads one digit")
            << "EE12" << Effects{E::logEntry(messages[1]), E::edidSelection(1)};
        QTest::newRow("EE alone") << "EE" << Effects{E::freeText("EE")};
        QTest::newRow("EEx") << "EEx" << Effects{E::freeText("EEx")};
        QTest::newRow("ee1") << "ee1" << Effects{E::freeText("ee1")};
        QTest::newRow("Ee1") << "Ee1" << Effects{E::freeText("Ee1")};
    }

    void decoder_edidReplies() { decoder_routeReplies(); }

    void decoder_silentAndFreeText_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<Effects>("effects");
        QTest::newRow("Ack") << "Ack" << Effects{};
        QTest::newRow("Ack CR LF") << "Ack\r\n" << Effects{};
        QTest::newRow("edm and more") << "edm\x01zz" << Effects{};
        QTest::newRow("ACK") << "ACK" << Effects{E::freeText("ACK")};
        QTest::newRow("Ac") << "Ac" << Effects{E::freeText("Ac")};
        QTest::newRow("empty") << "" << Effects{E::freeText("")};
        const QString withNul = QString::fromUtf16(u"a\0\r\nb\r", 6);
        QTest::newRow("control characters kept") << withNul << Effects{E::freeText(withNul)};
    }

    void decoder_silentAndFreeText() { decoder_routeReplies(); }

    void decoder_replyBuildersRoundTrip()
    {
        for (int output = 1; output <= 4; ++output) {
            for (int input = 1; input <= 4; ++input)
                QCOMPARE(decodeReply(text(reply::route(output, input))), route(output, input));
        }
        QCOMPARE(decodeReply(text(reply::status({4, 3, 2, 1}))),
                 route(1, 4) + route(2, 3) + route(3, 2) + route(4, 1) + Effects{E::lineBreak()});
        for (int mode = 0; mode < kEdidModeCount; ++mode)
            QCOMPARE(decodeReply(text(reply::edid(mode))).last(), E::edidSelection(mode));
        QCOMPARE(decodeReply(text(reply::ack())), Effects{});
    }

    void decoder_repliesSplitAtEveryPosition_neverLightAWrongLamp()
    {
        // A reply cut in two by a late byte is decoded as two texts; neither may claim a route the
        // switcher did not report.
        const Routing routing{2, 4, 1, 3};
        const QList<QByteArray> replies{reply::status(routing), reply::route(3, 1), reply::edid(7),
                                        reply::ack()};
        for (const QByteArray& whole : replies) {
            for (qsizetype cut = 1; cut < whole.size(); ++cut) {
                for (const QByteArray& part : {whole.left(cut), whole.mid(cut)}) {
                    for (const ReplyEffect& effect : decodeReply(text(part))) {
                        if (effect.kind == E::Kind::Lamp) {
                            QCOMPARE(effect.input,
                                     routing[static_cast<std::size_t>(effect.output - 1)]);
                        }
                        if (effect.kind == E::Kind::EdidSelection)
                            QFAIL(qPrintable("split EDID reply selected a mode: " + part.toHex()));
                    }
                }
            }
        }
    }

    // The one table of which reply confirms which command, for matrixd and matrixctl alike.
    void confirmation_onlyTheAnswerTheCommandAsksFor_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("confirms");
        const QByteArray b3 = switcher::buttonFrame(switcher::inputIndex(2, 3));
        QTest::newRow("route") << b3 << "s22" << true;
        QTest::newRow("route, other input") << b3 << "s21" << false;
        QTest::newRow("route, other output") << b3 << "s12" << false;
        QTest::newRow("route, status reply") << b3 << "\r\ns10s22s30s40" << false;
        QTest::newRow("route, rejected chunk") << b3 << "" << false;
        QTest::newRow("route, half a reply") << b3 << "s2" << false;
        QTest::newRow("route, noise first") << b3 << "#?%s22" << false;
        QTest::newRow("route, out-of-range digits") << b3 << "s24" << false;
        QTest::newRow("arrow, any input") << switcher::buttonFrame(switcher::arrowIndex(3, true)) << "s33" << true;
        QTest::newRow("arrow, other output") << switcher::buttonFrame(switcher::arrowIndex(3, false)) << "s21" << false;
        QTest::newRow("status") << switcher::kStatusQuery << "\r\ns10s22s30s40" << true;
        QTest::newRow("status, route reply") << switcher::kStatusQuery << "s22" << false;
        QTest::newRow("edid") << switcher::edidFrame(10) << "EE:" << true;
        QTest::newRow("edid, other mode") << switcher::edidFrame(10) << "EE9" << false;
        QTest::newRow("edid, Ack") << switcher::edidFrame(1) << "Ack" << false;
        QTest::newRow("power, Ack") << switcher::buttonFrame(24) << "Ack" << true;
        // Modes and codes the switcher does not have are only acknowledged.
        QTest::newRow("edid mode 11, Ack") << switcher::edidFrame(11) << "Ack" << true;
        QTest::newRow("unknown button code, Ack")
            << QByteArray::fromHex("0555190077") << "Ack" << true;
    }
    void confirmation_onlyTheAnswerTheCommandAsksFor()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, reply);
        QTEST(replyConfirms(frame, decodeReply(reply)), "confirms");
    }

    void frameDescriptions_nameWhatTheFrameAsks()
    {
        QCOMPARE(describeFrame(switcher::buttonFrame(switcher::inputIndex(2, 3))), QStringLiteral("button B input 3"));
        QCOMPARE(describeFrame(switcher::kStatusQuery), QStringLiteral("status query"));
        QCOMPARE(describeFrame(switcher::edidFrame(10)), QStringLiteral("EDID mode 10"));
        QCOMPARE(describeFrame(switcher::edidFrame(11)), QStringLiteral("EDID mode 0x0b (no such mode)"));
    }
};

QTEST_GUILESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"
