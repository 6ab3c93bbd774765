// The simulator's switcher model, frame parser, fault shaping, log lines, options and control
// lines, without a pseudo-terminal.

#include "controlcommand.h"
#include "switcher/commandframe.h"
#include "switcher/frameparser.h"
#include "switcher/replies.h"
#include "switcher/replydecoder.h"
#include "switcher/replytext.h"
#include "replyshaper.h"
#include "simoptions.h"
#include "support/effects.h"
#include "support/switcher.h"
#include "switcher/switchermodel.h"
#include "switcher/traffictext.h"

#include <QtTest>

using namespace std::chrono_literals;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values)
        out.append(static_cast<char>(v));
    return out;
}

QByteArray concat(const QList<QByteArray>& parts)
{
    QByteArray out;
    for (const auto& p : parts)
        out += p;
    return out;
}

QList<QByteArray> feedByteByByte(FrameParser& parser, const QByteArray& stream)
{
    QList<QByteArray> found;
    for (const char c : stream)
        found += parser.feed(QByteArray(1, c));
    return found;
}

std::optional<SimOptions> parseOptions(const QStringList& arguments, QString& error)
{
    QCommandLineParser parser;
    addSimOptions(parser);
    if (!parser.parse(QStringList{QStringLiteral("matrix-sim")} + arguments)) {
        error = parser.errorText();
        return std::nullopt;
    }
    return readSimOptions(parser, error);
}

ControlCommand command(ControlCommand::Kind kind, int output = 0, int value = 0,
                       bool silent = false, std::chrono::milliseconds offFor = {})
{
    return {kind, output, value, silent, offFor};
}

} // namespace

Q_DECLARE_METATYPE(ControlCommand)

class TestSimulatorModel : public QObject {
    Q_OBJECT

private slots:
    // --- the model ---

    // The frames and replies as written out in the test's own table: 05 55 19 59 77, input 3 of
    // block B, is answered "s22".
    void inputButtonOfEveryBlock_routesThatInputAndAnswersRouteReply()
    {
        SwitcherModel model;
        for (int output = 1; output <= kOutputCount; ++output) {
            for (int input = 1; input <= kInputCount; ++input) {
                const auto before = model.routes();
                const QByteArray answer =
                    model.answer(switcher::buttonFrame(switcher::inputIndex(output, input)));
                QCOMPARE(answer, switcher::routeReply(output, input));
                auto expected = before;
                expected[static_cast<std::size_t>(output - 1)] = input;
                QCOMPARE(model.routes(), expected);
                // What the panel makes of it: the same output and input, nothing else.
                const ReplyEffects effects = decodeReply(QString::fromLatin1(answer));
                QVERIFY2(effects.contains(ReplyEffect::lamp(output, input)),
                         qPrintable(describe(effects)));
            }
        }
    }

    void arrowButtons_stepTheirOutputAndWrapAround_data()
    {
        QTest::addColumn<int>("output");
        for (int output = 1; output <= kOutputCount; ++output)
            QTest::addRow("output %d", output) << output;
    }

    void arrowButtons_stepTheirOutputAndWrapAround()
    {
        QFETCH(int, output);
        SwitcherModel model({1, 1, 1, 1});
        const auto left = buttonCommandFrame(arrowButtonIndex(output, ButtonRole::LeftArrow));
        const auto right = buttonCommandFrame(arrowButtonIndex(output, ButtonRole::RightArrow));

        // Down from 1 wraps to 4, then 3, 2, 1.
        for (const int expected : {4, 3, 2, 1}) {
            QCOMPARE(model.answer(left), reply::route(output, expected));
            QCOMPARE(model.routes()[static_cast<std::size_t>(output - 1)], expected);
        }
        // Up from 1: 2, 3, 4, then wraps to 1.
        for (const int expected : {2, 3, 4, 1})
            QCOMPARE(model.answer(right), reply::route(output, expected));
        // The other outputs never moved.
        for (int other = 1; other <= kOutputCount; ++other) {
            if (other != output)
                QCOMPARE(model.routes()[static_cast<std::size_t>(other - 1)], 1);
        }
    }

    void statusQuery_reportsTheInitialRoutesThenEveryChangeInOrder()
    {
        SwitcherModel model({2, 4, 1, 3});
        QCOMPARE(model.answer(bytes({0x04, 0x55, 0x20, 0x77})), QByteArray("\r\ns11s23s30s42"));
        model.answer(buttonCommandFrame(inputButtonIndex(1, 1)));
        model.answer(buttonCommandFrame(inputButtonIndex(2, 3)));
        model.answer(buttonCommandFrame(arrowButtonIndex(4, ButtonRole::LeftArrow)));
        QCOMPARE(model.answer(statusQueryFrame()), QByteArray("\r\ns10s22s30s41"));
    }

    void edidCommandOfEveryMode_setsModeAndAnswersItsDigit()
    {
        const QList<QByteArray> expected = {"EE0", "EE1", "EE2", "EE3", "EE4", "EE5",
                                            "EE6", "EE7", "EE8", "EE9", "EE:"};
        SwitcherModel model;
        for (int mode = kEdidModeCount - 1; mode >= 0; --mode) {
            const QByteArray answer = model.answer(edidModeFrame(mode));
            QCOMPARE(answer, expected.at(mode));
            QCOMPARE(model.edidMode(), mode);
            QVERIFY(decodeReply(QString::fromLatin1(answer))
                        .contains(ReplyEffect::edidSelection(mode)));
        }
    }

    void powerAndUnknownFrames_answerAckAndChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addRow("POWER") << buttonCommandFrame(kPowerButtonIndex);
        QTest::addRow("button code of no button") << bytes({0x05, 0x55, 0x19, 0x00, 0x77});
        QTest::addRow("unknown type, 4 bytes") << bytes({0x04, 0x55, 0x33, 0x77});
        QTest::addRow("unknown type, 5 bytes") << bytes({0x05, 0x55, 0x42, 0x09, 0x77});
        QTest::addRow("status type with argument") << bytes({0x05, 0x55, 0x20, 0x00, 0x77});
        QTest::addRow("button type without argument") << bytes({0x04, 0x55, 0x19, 0x77});
        QTest::addRow("EDID mode out of range") << bytes({0x05, 0x55, 0x18, 0x0B, 0x77});
    }

    void powerAndUnknownFrames_answerAckAndChangeNothing()
    {
        QFETCH(QByteArray, frame);
        SwitcherModel model({2, 3, 4, 1}, 5);
        QCOMPARE(model.answer(frame), QByteArray("Ack"));
        QCOMPARE(model.routes(), (SwitcherModel::Routes{2, 3, 4, 1}));
        QCOMPARE(model.edidMode(), 5);
    }

    void frontPanelChanges_areKeptAndAnnounced_unknownOnesChangeNothing()
    {
        SwitcherModel model;
        QCOMPARE(model.frontPanelRoute(1, 3), QByteArray("s12"));
        QCOMPARE(model.frontPanelEdid(10), QByteArray("EE:"));
        QVERIFY(model.frontPanelRoute(5, 1).isEmpty());
        QVERIFY(model.frontPanelRoute(2, 0).isEmpty());
        QVERIFY(model.frontPanelEdid(11).isEmpty());
        QCOMPARE(model.answer(statusQueryFrame()), QByteArray("\r\ns12s20s30s40"));
        QCOMPARE(model.edidMode(), 10);
    }

    void describeFrame_namesWhatTheFrameAsks_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("meaning");
        QTest::addRow("input") << buttonCommandFrame(10) << "button B input 3";
        QTest::addRow("left") << buttonCommandFrame(18) << "button D left";
        QTest::addRow("right") << buttonCommandFrame(1) << "button A right";
        QTest::addRow("power") << buttonCommandFrame(24) << "button POWER";
        QTest::addRow("no button")
            << bytes({0x05, 0x55, 0x19, 0x00, 0x77}) << "button code 0x00 (no such button)";
        QTest::addRow("status") << statusQueryFrame() << "status query";
        QTest::addRow("edid") << edidModeFrame(6) << "EDID mode 6";
        QTest::addRow("edid 11") << bytes({0x05, 0x55, 0x18, 0x0B, 0x77})
                                 << "EDID mode 0x0b (no such mode)";
        QTest::addRow("unknown") << bytes({0x04, 0x55, 0x33, 0x77}) << "unknown frame type 0x33";
    }

    void describeFrame_namesWhatTheFrameAsks()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, meaning);
        QCOMPARE(describeFrame(frame), meaning);
    }

    // --- the frame parser ---

    void streamSplitAtEveryByteBoundary_yieldsTheSameFrames()
    {
        const QList<QByteArray> frames = {statusQueryFrame(), buttonCommandFrame(10),
                                          edidModeFrame(10), buttonCommandFrame(kPowerButtonIndex),
                                          statusQueryFrame()};
        const QByteArray stream = concat(frames);
        for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
            FrameParser parser;
            auto found = parser.feed(stream.left(cut));
            found += parser.feed(stream.mid(cut));
            QCOMPARE(found, frames);
            QVERIFY(parser.takeSkipped().isEmpty());
            QVERIFY(parser.pending().isEmpty());
        }
        FrameParser oneByOne;
        QCOMPARE(feedByteByByte(oneByOne, stream), frames);
    }

    void modelFedByteByByte_answersEachFrameOnce()
    {
        SwitcherModel model;
        const QByteArray stream = buttonCommandFrame(10) + statusQueryFrame();
        QList<QByteArray> answers;
        for (const char c : stream) {
            for (const auto& exchange : model.receive(QByteArray(1, c)))
                answers << exchange.reply;
        }
        QCOMPARE(answers, (QList<QByteArray>{"s22", "\r\ns10s22s30s40"}));
    }

    void bytesThatFormNoFrame_areSkippedAndParserResynchronises_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QList<QByteArray>>("frames");
        QTest::addColumn<QByteArray>("skipped");
        const QByteArray status = statusQueryFrame();
        const QByteArray b3 = buttonCommandFrame(10);

        QTest::addRow("text before a frame")
            << QByteArray("hello") + status << QList<QByteArray>{status} << QByteArray("hello");
        QTest::addRow("text between frames") << status + QByteArray("\r\n") + b3
                                             << QList<QByteArray>{status, b3} << QByteArray("\r\n");
        QTest::addRow("high bytes")
            << bytes({0xFF, 0x80}) + b3 << QList<QByteArray>{b3} << bytes({0xFF, 0x80});
        QTest::addRow("start and end bytes alone")
            << bytes({0x55, 0x77}) + status << QList<QByteArray>{status} << bytes({0x55, 0x77});
        QTest::addRow("length byte not followed by start byte")
            << bytes({0x05, 0x00}) + status << QList<QByteArray>{status} << bytes({0x05, 0x00});
        QTest::addRow("truncated frame then a whole one")
            << bytes({0x05, 0x55, 0x19}) + b3 << QList<QByteArray>{b3} << bytes({0x05, 0x55, 0x19});
        QTest::addRow("short frame with a wrong end byte")
            << bytes({0x04, 0x55, 0x20, 0x00}) + status << QList<QByteArray>{status}
            << bytes({0x04, 0x55, 0x20, 0x00});
        QTest::addRow("a frame inside a broken one")
            << bytes({0x05, 0x55}) + status << QList<QByteArray>{status} << bytes({0x05, 0x55});
    }

    void bytesThatFormNoFrame_areSkippedAndParserResynchronises()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QList<QByteArray>, frames);
        QFETCH(QByteArray, skipped);
        FrameParser whole;
        QCOMPARE(whole.feed(stream), frames);
        QCOMPARE(whole.takeSkipped(), skipped);
        QVERIFY(whole.takeSkipped().isEmpty());

        FrameParser oneByOne;
        QCOMPARE(feedByteByByte(oneByOne, stream), frames);
        QCOMPARE(oneByOne.takeSkipped(), skipped);
    }

    void startOfAFrame_isHeldUntilTheRestArrives()
    {
        FrameParser parser;
        QVERIFY(parser.feed(bytes({0x05, 0x55, 0x19})).isEmpty());
        QCOMPARE(parser.pending(), bytes({0x05, 0x55, 0x19}));
        QVERIFY(parser.takeSkipped().isEmpty());
        QCOMPARE(parser.feed(bytes({0x59, 0x77})), QList<QByteArray>{buttonCommandFrame(10)});

        // Unless the switcher lost it meanwhile (power or line gone): the rest is then garbage.
        SwitcherModel model;
        QVERIFY(model.receive(bytes({0x05, 0x55, 0x19})).isEmpty());
        model.dropPartialFrame();
        QVERIFY(model.receive(bytes({0x59, 0x77})).isEmpty());
        QCOMPARE(model.takeSkipped(), bytes({0x59, 0x77}));
        QCOMPARE(model.routes(), (SwitcherModel::Routes{1, 1, 1, 1}));
    }

    // --- faults ---

    void shapeReply_withoutFaults_isOneImmediateWrite()
    {
        QCOMPARE(shapeReply("s22", {}), (QList<ReplyChunk>{{"s22", 0ms}}));
    }

    void shapeReply_silent_writesNothing()
    {
        Faults faults;
        faults.silent = true;
        faults.noise = true;
        QVERIFY(shapeReply("s22", faults).isEmpty());
    }

    void shapeReply_splitAndDelay_giveTwoHalvesWithTheirGaps()
    {
        Faults faults;
        faults.splitGap = 60ms;
        faults.delay = 200ms;
        const auto chunks = shapeReply("\r\ns10s20s30s40", faults);
        QCOMPARE(chunks, (QList<ReplyChunk>{{"\r\ns10s2", 200ms}, {"0s30s40", 60ms}}));
    }

    void noiseBeforeAnyReply_neverLightsALampAndReachesTheLogWhole()
    {
        Faults faults;
        faults.noise = true;
        SwitcherModel model;
        QList<QByteArray> replies;
        for (int index = 0; index < kButtonCount; ++index)
            replies << model.answer(buttonCommandFrame(index));
        replies << model.answer(statusQueryFrame()) << model.answer(edidModeFrame(3));
        for (const QByteArray& reply : replies) {
            const auto chunks = shapeReply(reply, faults);
            QCOMPARE(chunks.size(), 1);
            QCOMPARE(chunks.first().bytes, kNoiseBytes + reply);
            for (const char c : kNoiseBytes)
                QVERIFY(static_cast<unsigned char>(c) < 0x80);
            const QString text = bytes2BSTR(chunks.first().bytes);
            QCOMPARE(decodeReply(text), ReplyEffects{ReplyEffect::freeText(text)});
        }
    }

    void highBitByte_isInsideEveryReplyAndEmptiesThePanelsText()
    {
        Faults faults;
        faults.highBit = true;
        for (const QByteArray& reply : {QByteArray("s22"), QByteArray("Ack"), QByteArray("EE:"),
                                        reply::status({1, 2, 3, 4})}) {
            const auto chunks = shapeReply(reply, faults);
            QCOMPARE(chunks.size(), 1);
            const QByteArray sent = chunks.first().bytes;
            QCOMPARE(sent.size(), reply.size() + 1);
            QCOMPARE(QByteArray(sent).remove(sent.indexOf(kHighBitByte), 1), reply);
            QVERIFY(bytes2BSTR(sent).isEmpty());
        }
    }

    void faultsCombined_splitTheDisturbedReply()
    {
        Faults faults;
        faults.noise = true;
        faults.highBit = true;
        faults.splitGap = 10ms;
        const auto chunks = shapeReply("s22", faults);
        QCOMPARE(chunks.size(), 2);
        const QByteArray sent = chunks.at(0).bytes + chunks.at(1).bytes;
        QCOMPARE(sent, kNoiseBytes + QByteArray("s") + kHighBitByte + QByteArray("22"));
        QCOMPARE(chunks.at(1).gapBefore, 10ms);
    }

    // --- log lines ---

    void logLines_showHexEscapedTextAndThePanelsReading()
    {
        QCOMPARE(frameLine(buttonCommandFrame(10), describeFrame(buttonCommandFrame(10))),
                 QStringLiteral("<- 05 55 19 59 77  button B input 3"));
        QCOMPARE(replyLine({{"s22", 0ms}}),
                 QStringLiteral("-> 73 32 32  \"s22\"  panel: HDMI Out2 -> HDMI In 3"));
        QCOMPARE(replyLine({{"\r\ns10s20s30s43", 0ms}}),
                 QStringLiteral("-> 0D 0A 73 31 30 73 32 30 73 33 30 73 34 33  "
                                "\"\\r\\ns10s20s30s43\"  panel: HDMI Out1 -> HDMI In 1; "
                                "HDMI Out2 -> HDMI In 1; HDMI Out3 -> HDMI In 1; "
                                "HDMI Out4 -> HDMI In 4"));
        QCOMPARE(replyLine({{"EE:", 0ms}}),
                 QStringLiteral("-> 45 45 3A  \"EE:\"  panel: EDID 3D-7.1CH; option 10 selected"));
        QCOMPARE(replyLine({{"Ack", 0ms}}), QStringLiteral("-> 41 63 6B  \"Ack\"  panel: nothing"));
        QCOMPARE(skippedLine("ab"), QStringLiteral("?? 61 62  no frame, skipped"));
    }

    void logLines_ofDisturbedReplies_sayWhatThePanelReads()
    {
        QCOMPARE(replyLine({{"#?%s22", 0ms}}),
                 QStringLiteral("-> 23 3F 25 73 32 32  \"#?%s22\"  panel: free text \"#?%s22\""));
        QCOMPARE(replyLine({{QByteArray("s") + kHighBitByte + "22", 0ms}}),
                 QStringLiteral("-> 73 FF 32 32  \"s\\xff22\"  panel: nothing (a byte of 0x80 "
                                "or above empties the text)"));
        // Within the settle wait the halves are one text; past it, two.
        QCOMPARE(replyLine({{"s", 0ms}, {"22", 10ms}}),
                 QStringLiteral("-> 73 32 32  \"s22\"  in 2 writes 10 ms apart  panel: "
                                "HDMI Out2 -> HDMI In 3"));
        QCOMPARE(replyLine({{"s", 200ms}, {"22", 60ms}}),
                 QStringLiteral("-> 73 32 32  \"s22\"  after 200 ms  in 2 writes 60 ms apart  "
                                "panel: free text \"s\" | free text \"22\""));
    }

    // --- options ---

    void options_defaultsAndEveryValue()
    {
        QString error;
        const auto defaults = parseOptions({}, error);
        QVERIFY2(defaults, qPrintable(error));
        QCOMPARE(defaults->port, 1);
        QVERIFY(defaults->dir.isEmpty());
        QCOMPARE(defaults->routes, (SwitcherModel::Routes{1, 1, 1, 1}));
        QVERIFY(defaults->pacing);
        QVERIFY(!defaults->faults.splitGap);
        QVERIFY(!defaults->hangupAfter);

        const auto all =
            parseOptions({"--port", "3", "--dir", "/tmp/x", "--routes", "1234", "--edid", "10",
                          "--no-pacing", "--split-gap", "60", "--noise", "--high-bit", "--silent",
                          "--delay", "250", "--hangup-after", "2", "--quiet"},
                         error);
        QVERIFY2(all, qPrintable(error));
        QCOMPARE(all->port, 3);
        QCOMPARE(all->dir, QStringLiteral("/tmp/x"));
        QCOMPARE(all->routes, (SwitcherModel::Routes{1, 2, 3, 4}));
        QCOMPARE(all->edidMode, 10);
        QVERIFY(!all->pacing);
        QCOMPARE(all->faults.splitGap, std::optional(60ms));
        QVERIFY(all->faults.noise && all->faults.highBit && all->faults.silent);
        QCOMPARE(all->faults.delay, 250ms);
        QCOMPARE(all->hangupAfter, std::optional(2));
        QVERIFY(all->quiet);
    }

    void options_outOfRange_areRefusedWithAMessage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("mentions");
        QTest::addRow("input 5") << QStringList{"--routes", "1254"} << "--routes";
        QTest::addRow("three routes") << QStringList{"--routes", "123"} << "--routes";
        QTest::addRow("port 0") << QStringList{"--port", "0"} << "--port";
        QTest::addRow("edid 11") << QStringList{"--edid", "11"} << "--edid";
        QTest::addRow("negative gap") << QStringList{"--split-gap", "-1"} << "--split-gap";
        QTest::addRow("hang up after 0") << QStringList{"--hangup-after", "0"} << "--hangup-after";
        QTest::addRow("delay not a number") << QStringList{"--delay", "soon"} << "--delay";
    }

    void options_outOfRange_areRefusedWithAMessage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, mentions);
        QString error;
        QVERIFY(!parseOptions(arguments, error));
        QVERIFY2(error.contains(mentions), qPrintable(error));
    }

    // --- control lines ---

    void controlLine_isReadOrRefusedWhole_data()
    {
        using Kind = ControlCommand::Kind;
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<ControlCommand>("expected");
        const auto ok = [](const char* line, const ControlCommand& expected) {
            QTest::addRow("%s", line) << QString::fromLatin1(line) << true << expected;
        };
        const auto refused = [](const char* line) {
            QTest::addRow("refused: %s", line)
                << QString::fromLatin1(line) << false << ControlCommand{};
        };
        ok("front A 3", command(Kind::Front, 1, 3));
        ok(" FRONT  d 4 Silent\r", command(Kind::Front, 4, 4, true));
        ok("front 2 1", command(Kind::Front, 2, 1));
        ok("edid 10", command(Kind::Edid, 0, 10));
        ok("edid 0 silent", command(Kind::Edid, 0, 0, true));
        ok("power 3000", command(Kind::Power, 0, 0, false, 3000ms));
        ok("unplug", command(Kind::Unplug));
        ok("replug", command(Kind::Replug));
        for (const char* line : {"", "frnt A 3", "front E 3", "front 0 3", "front A 5", "front A",
                                 "front A 3 loud", "edid 11", "edid -1", "edid", "power 0",
                                 "power soon", "power 300 silent", "unplug now"})
            refused(line);
    }

    void controlLine_isReadOrRefusedWhole()
    {
        QFETCH(QString, line);
        QFETCH(bool, valid);
        QFETCH(ControlCommand, expected);
        const auto parsed = parseControlLine(line);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QVERIFY(*parsed == expected);
    }
};

QTEST_GUILESS_MAIN(TestSimulatorModel)
#include "tst_simulatormodel.moc"
