#include "ctlreply.h"
#include "ctlrequest.h"
#include "ctlsession.h"
#include "support/fakes/fakeserialcontrol.h"
#include "switcher/names.h"
#include "serial/portfile.h"
#include "switcher/replies.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <map>

using namespace std::chrono_literals;
using namespace ctl;

Q_DECLARE_METATYPE(ctl::Command)

namespace {

QStringList argv(const QStringList& args)
{
    return QStringList{QStringLiteral("matrixctl")} + args;
}

Request parsed(const QStringList& args)
{
    const ParseResult result = parseCommandLine(argv(args));
    if (result.kind != ParseResult::Kind::Run)
        qWarning() << "refused:" << result.text;
    return result.request;
}

QString text(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes);
}

const QDateTime kTime(QDate(2024, 5, 1), QTime(12, 30, 15, 250));
const QString kStamp = QStringLiteral("2024-05-01T12:30:15.250");

// A whole outcome in one line, to compare and to show on failure.
QString show(const Outcome& outcome)
{
    return QStringLiteral("exit %1, out [%2], err [%3]")
        .arg(outcome.exitCode)
        .arg(outcome.output, outcome.error);
}

// A session of matrixctl on a fake port, and its finished signals.
struct SessionRig {
    SessionRig(int port, const QStringList& args, const QString& portName)
        : session(serial, parsed(args), portName)
    {
        serial.setPortNumber(port);
    }
    FakeSerialControl serial;
    Session session;
    QSignalSpy finished{&session, &Session::finished};
};

} // namespace

class CtlTest : public QObject {
    Q_OBJECT
private slots:
    void parse_validCommandLines_giveTheRequest_data();
    void parse_validCommandLines_giveTheRequest();
    void parse_badCommandLines_areRefusedWithTheReason_data();
    void parse_badCommandLines_areRefusedWithTheReason();
    void parse_helpAndVersion_runNothing();
    void portFromFile_followsThePanelsReading();
    void requestFrame_comesFromTheButtonTable();
    void edidCaptions_roundTripIgnoringCase();

    void judge_replies_data();
    void judge_replies();
    void escapedText_keepsEveryCharacterVisibleOnOneLine();
    void watchLines_showWhatTheLogShows();
    void watchLines_json_oneObjectPerReply();

    void session_confirmingReply_writesOneFrameAndSucceeds();
    void session_silentPort_timesOut();
    void session_wrongOrSplitReply_failsWithoutRetry();
    void session_portFailures_endBeforeAnyWait();
    void session_watch_printsEveryReplyAndWritesNothing();
    void detector_listsOnlyPortsWithAStatusReply();
    void detector_nothingAnswers_failsWithNoReply();
};

void CtlTest::parse_validCommandLines_giveTheRequest_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<Command>("command");
    QTest::addColumn<int>("output");
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("json");
    QTest::addColumn<QString>("port"); // empty: from COMPORT
    QTest::addColumn<int>("timeout");

    const auto row = [](const char* name, QStringList args, Command c, int output, int input,
                        int mode, bool json, QString port, int timeout) {
        QTest::newRow(name) << args << c << output << input << mode << json << port << timeout;
    };
    row("status", {"status"}, Command::Status, 0, 0, 0, false, {}, 500);
    row("status json on COM10", {"status", "--json", "--port", "COM10"}, Command::Status, 0, 0, 0,
        true, "COM10", 500);
    row("route by letter", {"route", "B", "3"}, Command::Route, 2, 3, 0, false, {}, 500);
    row("route lower-case, options first", {"--port=com3", "--timeout", "900", "route", "d", "4"},
        Command::Route, 4, 4, 0, false, "COM3", 900);
    row("route by number", {"route", "1", "2"}, Command::Route, 1, 2, 0, false, {}, 500);
    row("step left", {"step", "A", "left"}, Command::Step, 1, 0, 0, false, {}, 500);
    row("step RIGHT", {"step", "C", "RIGHT"}, Command::Step, 3, 0, 0, false, {}, 500);
    row("edid number", {"edid", "10"}, Command::Edid, 0, 0, 10, false, {}, 500);
    row("edid zero", {"edid", "0"}, Command::Edid, 0, 0, 0, false, {}, 500);
    row("edid caption", {"edid", "2D-5.1CH"}, Command::Edid, 0, 0, 6, false, {}, 500);
    row("edid caption in words", {"edid", "copy", "from", "C"}, Command::Edid, 0, 0, 3, false, {},
        500);
    row("edid caption any case", {"edid", "edid mix"}, Command::Edid, 0, 0, 0, false, {}, 500);
    row("watch on a device path", {"watch", "--json", "--port", "/dev/ttyUSB0"}, Command::Watch, 0,
        0, 0, true, "/dev/ttyUSB0", 500);
    row("detect", {"detect", "--timeout", "1"}, Command::Detect, 0, 0, 0, false, {}, 1);
}

void CtlTest::parse_validCommandLines_giveTheRequest()
{
    QFETCH(QStringList, args);
    QFETCH(Command, command);
    const ParseResult result = parseCommandLine(argv(args));
    QCOMPARE(result.kind, ParseResult::Kind::Run);
    const Request& r = result.request;
    QCOMPARE(r.command, command);
    QTEST(r.output, "output");
    QTEST(r.input, "input");
    QTEST(r.json, "json");
    QTEST(r.port ? r.port->label() : QString(), "port");
    QTEST(int(r.timeout.count()), "timeout");
    if (command == Command::Edid)
        QTEST(r.mode, "mode");
}

void CtlTest::parse_badCommandLines_areRefusedWithTheReason_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("reason");
    QTest::newRow("nothing") << QStringList{} << "no command";
    QTest::newRow("unknown command") << QStringList{"switch"} << "unknown command \"switch\"";
    QTest::newRow("unknown option") << QStringList{"status", "--bogus"} << "bogus";
    QTest::newRow("status with argument") << QStringList{"status", "A"} << "no arguments";
    QTest::newRow("route without input") << QStringList{"route", "B"} << "OUTPUT INPUT";
    QTest::newRow("route extra") << QStringList{"route", "B", "3", "4"} << "OUTPUT INPUT";
    QTest::newRow("route output E") << QStringList{"route", "E", "1"} << "not \"E\"";
    QTest::newRow("route output 0") << QStringList{"route", "0", "1"} << "not \"0\"";
    QTest::newRow("route output 5") << QStringList{"route", "5", "1"} << "not \"5\"";
    QTest::newRow("route input 5") << QStringList{"route", "B", "5"} << "INPUT is 1 to 4";
    QTest::newRow("route input +3") << QStringList{"route", "B", "+3"} << "INPUT is 1 to 4";
    QTest::newRow("step up") << QStringList{"step", "A", "up"} << "not \"up\"";
    QTest::newRow("edid 11") << QStringList{"edid", "11"} << "not \"11\"";
    QTest::newRow("edid -1 is an option") << QStringList{"edid", "-1"} << "1";
    QTest::newRow("edid unknown caption") << QStringList{"edid", "4D-9.1CH"} << "2D-5.1CH";
    QTest::newRow("edid nothing") << QStringList{"edid"} << "MODE";
    QTest::newRow("timeout 0") << QStringList{"status", "--timeout", "0"} << "--timeout";
    QTest::newRow("timeout words") << QStringList{"status", "--timeout", "soon"} << "soon";
    QTest::newRow("port COM11") << QStringList{"status", "--port", "COM11"} << "COM11";
    QTest::newRow("port COM0") << QStringList{"status", "--port", "COM0"} << "COM0";
    QTest::newRow("port LPT1") << QStringList{"status", "--port", "LPT1"} << "LPT1";
    QTest::newRow("port without value") << QStringList{"status", "--port"} << "port";
    QTest::newRow("detect with port") << QStringList{"detect", "--port", "COM3"} << "--port";
}

void CtlTest::parse_badCommandLines_areRefusedWithTheReason()
{
    QFETCH(QStringList, args);
    QFETCH(QString, reason);
    const ParseResult result = parseCommandLine(argv(args));
    QCOMPARE(result.kind, ParseResult::Kind::Error);
    QVERIFY2(result.text.contains(reason), qPrintable(result.text));
    QVERIFY2(!result.text.contains(u'\n'), "one line on standard error");
}

void CtlTest::parse_helpAndVersion_runNothing()
{
    const ParseResult help = parseCommandLine(argv({"route", "Z", "9", "--help"}));
    QCOMPARE(help.kind, ParseResult::Kind::Help);
    QVERIFY(help.text.startsWith(QStringLiteral("Usage: matrixctl ")));
    for (const char* word : {"status", "route", "step", "edid", "watch", "detect", "--port",
                             "--timeout", "--json", "Exit status", "3D-7.1CH"})
        QVERIFY2(help.text.contains(QLatin1String(word)), word);
    // The arguments line names every command too, not only the list below it.
    const QString argumentsLine = help.text.split(u'\n').filter(QStringLiteral("  command ")).value(0);
    for (const char* command : {"status", "route", "step", "edid", "watch", "detect", "preset"})
        QVERIFY2(argumentsLine.contains(QLatin1String(command)), qPrintable(argumentsLine));
    QCOMPARE(parseCommandLine(argv({"--version"})).kind, ParseResult::Kind::Version);
}

void CtlTest::portFromFile_followsThePanelsReading()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(kPortFileName);
    QCOMPARE(portFromFile(readRememberedIndex(path)), (PortSpec{1, {}})); // no file
    const auto fromFile = [&](const QByteArray& content) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) < 0)
            return PortSpec{};
        file.close();
        return portFromFile(readRememberedIndex(path));
    };
    QCOMPARE(fromFile(" 2 \r\n"), (PortSpec{3, {}}));
    QCOMPARE(fromFile("9"), (PortSpec{10, {}}));
    QCOMPARE(fromFile(""), (PortSpec{1, {}}));
    QCOMPARE(fromFile("abc"), (PortSpec{1, {}}));
    QCOMPARE(fromFile(" 12 \r\n"), (PortSpec{1, {}})); // no such entry
    QCOMPARE(fromFile(" 300 "), (PortSpec{1, {}}));
    QCOMPARE(fromFile(QByteArray(100000, '0') + "5"), (PortSpec{6, {}}));
}

void CtlTest::requestFrame_comesFromTheButtonTable()
{
    QCOMPARE(requestFrame(parsed({"route", "B", "3"}))->toHex(' '), "05 55 19 59 77");
    QCOMPARE(requestFrame(parsed({"route", "4", "4"}))->toHex(' '), "05 55 19 51 77");
    QCOMPARE(requestFrame(parsed({"step", "A", "left"}))->toHex(' '), "05 55 19 57 77");
    QCOMPARE(requestFrame(parsed({"step", "C", "right"}))->toHex(' '), "05 55 19 48 77");
    QCOMPARE(requestFrame(parsed({"status"}))->toHex(' '), "04 55 20 77");
    QCOMPARE(requestFrame(parsed({"edid", "3D-7.1CH"}))->toHex(' '), "05 55 18 0a 77");
    QCOMPARE(requestFrame(parsed({"edid", "EDID MIX"}))->toHex(' '), "05 55 18 00 77");
    QVERIFY(!requestFrame(parsed({"watch"})));
    QVERIFY(!requestFrame(parsed({"detect"})));
}

void CtlTest::edidCaptions_roundTripIgnoringCase()
{
    for (int mode = 0; mode < kEdidModeCount; ++mode) {
        QCOMPARE(edidModeForCaption(edidCaption(mode)), mode);
        QCOMPARE(edidModeForCaption(edidCaption(mode).toLower()), mode);
        QCOMPARE(edidModeForCaption(QStringLiteral("  %1 ").arg(edidCaption(mode))), mode);
    }
    QCOMPARE(edidCaption(1), QStringLiteral("copy from A"));
    QCOMPARE(edidCaption(10), QStringLiteral("3D-7.1CH"));
    QCOMPARE(edidModeForCaption(u"EDID 2D-5.1CH"), std::nullopt); // a log message, not a caption
    QCOMPARE(edidModeForCaption(u""), std::nullopt);
}

void CtlTest::judge_replies_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<QString>("printed"); // the output, or a part of the problem

    const QString status1234 = text(reply::status({1, 2, 3, 4}));
    QTest::newRow("status") << QStringList{"status"} << status1234 << true
                            << "A <- 1\nB <- 2\nC <- 3\nD <- 4\n";
    QTest::newRow("status json") << QStringList{"status", "--json"}
                                 << text(reply::status({4, 3, 2, 1})) << true
                                 << "{\"A\":4,\"B\":3,\"C\":2,\"D\":1}\n";
    QTest::newRow("status, output A skipped") << QStringList{"status"} << "\r\ns19s21s32s43" << true
                                              << "A <- ?\nB <- 2\nC <- 3\nD <- 4\n";
    QTest::newRow("status json, output A skipped")
        << QStringList{"status", "--json"} << "\r\ns19s21s32s43" << true
        << "{\"A\":null,\"B\":2,\"C\":3,\"D\":4}\n";
    QTest::newRow("status answered by a route")
        << QStringList{"status"} << "s10" << false << "expected a status reply";
    QTest::newRow("status answered by Ack")
        << QStringList{"status"} << "Ack" << false << "wrong reply \"Ack\"";
    QTest::newRow("status cut short")
        << QStringList{"status"} << "\r\ns10s21" << false << "\"\\r\\ns10s21\"";

    QTest::newRow("route") << QStringList{"route", "B", "3"} << text(reply::route(2, 3)) << true
                           << "B <- 3\n";
    QTest::newRow("route json") << QStringList{"route", "D", "1", "--json"}
                                << text(reply::route(4, 1)) << true
                                << "{\"input\":1,\"output\":\"D\"}\n";
    QTest::newRow("route, other input")
        << QStringList{"route", "B", "3"} << text(reply::route(2, 2)) << false
        << "expected a route reply for output B <- 3";
    QTest::newRow("route, rejected chunk")
        << QStringList{"route", "B", "3"} << "" << false << "wrong reply \"\"";
    QTest::newRow("route, status reply")
        << QStringList{"route", "B", "3"} << text(reply::status({1, 3, 1, 1})) << false << "route";

    QTest::newRow("step right") << QStringList{"step", "C", "right"} << text(reply::route(3, 4))
                                << true << "C <- 4\n";
    QTest::newRow("step left, any input")
        << QStringList{"step", "C", "left"} << text(reply::route(3, 1)) << true << "C <- 1\n";
    QTest::newRow("step, other output")
        << QStringList{"step", "C", "left"} << text(reply::route(2, 1)) << false << "output C";

    QTest::newRow("edid") << QStringList{"edid", "6"} << text(reply::edid(6)) << true
                          << "EDID 2D-5.1CH\n";
    QTest::newRow("edid 10 json") << QStringList{"edid", "10", "--json"} << text(reply::edid(10))
                                  << true << "{\"caption\":\"3D-7.1CH\",\"mode\":10}\n";
    QTest::newRow("edid, other mode")
        << QStringList{"edid", "6"} << text(reply::edid(5)) << false << "mode 6 (2D-5.1CH)";
}

void CtlTest::judge_replies()
{
    QFETCH(QStringList, args);
    QFETCH(QString, reply);
    QFETCH(bool, confirmed);
    QFETCH(QString, printed);
    const Judgement j = judgeReply(parsed(args), reply);
    QCOMPARE(j.confirmed, confirmed);
    if (confirmed) {
        QCOMPARE(j.output, printed);
        QVERIFY(j.problem.isEmpty());
    } else {
        QVERIFY(j.output.isEmpty());
        QVERIFY2(j.problem.contains(printed), qPrintable(j.problem));
    }
}

void CtlTest::escapedText_keepsEveryCharacterVisibleOnOneLine()
{
    QCOMPARE(escapedText(QStringLiteral("s1")), QStringLiteral("\"s1\""));
    QCOMPARE(escapedText(QStringLiteral("\r\nA\tB")), QStringLiteral("\"\\r\\nA\\tB\""));
    QCOMPARE(escapedText(QStringLiteral("a\"b\\c")), QStringLiteral("\"a\\\"b\\\\c\""));
    QCOMPARE(escapedText(QString(QChar(0)) + QChar(0x1b) + QChar(0x7f)),
             QStringLiteral("\"\\x00\\x1b\\x7f\""));
    QCOMPARE(escapedText(QString()), QStringLiteral("\"\""));
}

void CtlTest::watchLines_showWhatTheLogShows()
{
    QCOMPARE(watchLines(text(reply::route(2, 3)), kTime, false),
             kStamp + " HDMI Out2 -> HDMI In 3\n");
    QCOMPARE(watchLines(text(reply::status({1, 2, 3, 4})), kTime, false),
             kStamp + " HDMI Out1 -> HDMI In 1\n" + kStamp + " HDMI Out2 -> HDMI In 2\n" + kStamp +
                 " HDMI Out3 -> HDMI In 3\n" + kStamp + " HDMI Out4 -> HDMI In 4\n");
    QCOMPARE(watchLines(text(reply::edid(10)), kTime, false), kStamp + " EDID 3D-7.1CH\n");
    QCOMPARE(watchLines(QStringLiteral("s1\r\n"), kTime, false), kStamp + " \"s1\\r\\n\"\n");
    // The log shows nothing for these.
    QCOMPARE(watchLines(QStringLiteral("Ack"), kTime, false), QString());
    QCOMPARE(watchLines(QStringLiteral("edm7"), kTime, false), QString());
    QCOMPARE(watchLines(QString(), kTime, false), QString());
    QCOMPARE(watchLines(QStringLiteral("s50"), kTime, false), QString());
}

void CtlTest::watchLines_json_oneObjectPerReply()
{
    const auto line = [](const QString& text) { return watchLines(text, kTime, true); };
    const QString time = QStringLiteral("\"time\":\"%1\"").arg(kStamp);
    QCOMPARE(line(text(reply::route(2, 3))),
             "{\"log\":[\"HDMI Out2 -> HDMI In 3\"],\"routes\":{\"B\":3},\"text\":\"s22\"," + time +
                 "}\n");
    QCOMPARE(line(QStringLiteral("\r\ns19s21s32s43")),
             "{\"log\":[\"HDMI Out2 -> HDMI In 2\",\"HDMI Out3 -> HDMI In 3\",\"HDMI Out4 -> HDMI "
             "In 4\"],\"routes\":{\"B\":2,\"C\":3,\"D\":4},\"text\":\"\\r\\ns19s21s32s43\"," +
                 time + "}\n");
    QCOMPARE(line(text(reply::edid(6))),
             "{\"edid\":6,\"log\":[\"EDID 2D-5.1CH\"],\"text\":\"EE6\"," + time + "}\n");
    QCOMPARE(line(QStringLiteral("Ack")), "{\"log\":[],\"text\":\"Ack\"," + time + "}\n");
    QCOMPARE(line(QStringLiteral("x\ty")),
             "{\"log\":[\"x\\ty\"],\"text\":\"x\\ty\"," + time + "}\n");
    QCOMPARE(line(QString()), "{\"log\":[],\"text\":\"\"," + time + "}\n");
}

void CtlTest::session_confirmingReply_writesOneFrameAndSucceeds()
{
    SessionRig rig(2, {"route", "B", "3"}, QStringLiteral("COM2"));
    auto& [serial, session, finished] = rig;
    session.start();
    QVERIFY(serial.isOpen());
    QCOMPARE(serial.settings, QStringLiteral("9600,N,8,1"));
    QCOMPARE(serial.writes, QList<QByteArray>{buttonCommandFrame(inputButtonIndex(2, 3))});
    QVERIFY(!session.isFinished());

    serial.feed(reply::route(2, 3));
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(show(session.outcome()), show({kOk, "B <- 3\n", {}}));
    QVERIFY(!serial.isOpen());

    // A late reply changes nothing.
    serial.setOpenState(true);
    serial.feed("Ack");
    QTest::qWait(60);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(session.outcome().exitCode, int(kOk));
}

void CtlTest::session_silentPort_timesOut()
{
    SessionRig rig(1, {"edid", "6", "--timeout", "80"}, QStringLiteral("COM1 (/dev/ttyS0)"));
    auto& [serial, session, finished] = rig;
    QElapsedTimer clock;
    clock.start();
    session.start();
    QCOMPARE(serial.writes, QList<QByteArray>{edidModeFrame(6)});
    QTRY_COMPARE(finished.size(), 1);
    QVERIFY(clock.elapsed() >= 80);
    QCOMPARE(show(session.outcome()),
             show({kNoReply, {}, "no reply from COM1 (/dev/ttyS0) within 80 ms"}));
    QCOMPARE(serial.writes.size(), 1); // not retried
    QVERIFY(!serial.isOpen());
}

void CtlTest::session_wrongOrSplitReply_failsWithoutRetry()
{
    for (const QByteArray& first : {QByteArray("Ack"), QByteArray("s2")}) {
        SessionRig rig(1, {"route", "B", "3"}, QStringLiteral("COM1"));
        auto& [serial, session, finished] = rig;
        session.start();
        serial.feed(first);
        QTRY_COMPARE(finished.size(), 1);
        serial.setOpenState(true);
        serial.feed("2"); // the rest of a split reply comes too late
        QTest::qWait(60);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(session.outcome().exitCode, int(kWrongReply));
        QVERIFY2(session.outcome().error.startsWith(
                     QStringLiteral("wrong reply \"%1\"").arg(text(first))),
                 qPrintable(session.outcome().error));
        QVERIFY(session.outcome().error.endsWith(QStringLiteral("from COM1")));
        QCOMPARE(serial.writes.size(), 1);
    }
}

void CtlTest::session_portFailures_endBeforeAnyWait()
{
    {
        SessionRig missing(4, {"status"}, QStringLiteral("COM4"));
        missing.serial.existingPorts.remove(4);
        missing.session.start();
        QCOMPARE(missing.finished.size(), 1);
        QCOMPARE(missing.session.outcome().exitCode, int(kPortFailed));
        QVERIFY(missing.session.outcome().error.startsWith(
            QStringLiteral("cannot open COM4: missing")));
        QCOMPARE(missing.serial.writeCalls, 0);
    }
    SessionRig unwritable(1, {"status"}, QStringLiteral("COM1"));
    unwritable.serial.failWrites = true;
    unwritable.session.start();
    QVERIFY(unwritable.session.isFinished());
    QCOMPARE(show(unwritable.session.outcome()), show({kPortFailed, {}, "cannot write to COM1"}));
    QVERIFY(!unwritable.serial.isOpen());

    SessionRig hungUp(1, {"status"}, QStringLiteral("COM1"));
    hungUp.session.start();
    hungUp.serial.hangUp();
    QCOMPARE(hungUp.finished.size(), 1);
    QCOMPARE(show(hungUp.session.outcome()), show({kPortFailed, {}, "COM1 went away"}));
}

void CtlTest::session_watch_printsEveryReplyAndWritesNothing()
{
    SessionRig rig(1, {"watch", "--timeout", "20"}, QStringLiteral("COM1"));
    auto& [serial, session, finished] = rig;
    QSignalSpy printed(&session, &Session::printed);
    session.start();
    QVERIFY(serial.isOpen());

    serial.feed(reply::route(1, 2));
    QTRY_COMPARE(printed.size(), 1);
    serial.feed("#?%");
    QTRY_COMPARE(printed.size(), 2);
    QVERIFY(printed[0][0].toString().endsWith(QStringLiteral(" HDMI Out1 -> HDMI In 2\n")));
    QVERIFY(printed[1][0].toString().endsWith(QStringLiteral(" \"#?%\"\n")));
    // Two settle waits have passed, more than the timeout: a watch only ends when stopped.
    QVERIFY(!session.isFinished());

    session.stop();
    QVERIFY(session.isFinished());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(session.outcome().exitCode, int(kOk));
    QCOMPARE(serial.writeCalls, 0);
    QVERIFY(!serial.isOpen());
}

void CtlTest::detector_listsOnlyPortsWithAStatusReply()
{
    std::map<int, FakeSerialControl*> ports;
    Detector detector(
        [&ports](int n) {
            auto serial = std::make_unique<FakeSerialControl>();
            serial->existingPorts = {2, 3, 5, 9}; // the others do not exist
            serial->portsHeldElsewhere = {9};
            serial->setPortNumber(n);
            ports[n] = serial.get();
            return std::unique_ptr<SerialControl>(std::move(serial));
        },
        100ms, false);
    QSignalSpy finished(&detector, &Detector::finished);
    detector.start();
    QCOMPARE(ports.size(), std::size_t(10));
    for (const auto& [n, serial] : ports) {
        const bool opened = n == 2 || n == 3 || n == 5;
        QCOMPARE(serial->isOpen(), opened);
        QCOMPARE(serial->writes,
                 opened ? QList<QByteArray>{statusQueryFrame()} : QList<QByteArray>{});
    }
    ports[3]->feed(reply::status({1, 2, 3, 4}));
    ports[5]->feed("Ack");
    // COM2 stays silent.
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(show(detector.outcome()), show({kOk, "COM3\n", {}}));
    for (const auto& [n, serial] : ports)
        QVERIFY2(!serial->isOpen(), qPrintable(QString::number(n)));
}

void CtlTest::detector_nothingAnswers_failsWithNoReply()
{
    Detector detector(
        [](int n) {
            auto serial = std::make_unique<FakeSerialControl>();
            serial->existingPorts = {1};
            serial->setPortNumber(n);
            return std::unique_ptr<SerialControl>(std::move(serial));
        },
        30ms, true);
    QSignalSpy finished(&detector, &Detector::finished);
    detector.start();
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(show(detector.outcome()),
             show({kNoReply, "{\"ports\":[]}\n", "no switcher answered on COM1 to COM10"}));
}

QTEST_GUILESS_MAIN(CtlTest)
#include "tst_ctl.moc"
