// matrixd's pure pieces: its configuration file and what a client is told of changes made by
// others.

#include "announcement.h"
#include "config/switcherconfigcompletion.h"
#include "config/switcherconfigdescription.h"
#include "config/switcherconfigreader.h"
#include "config/valueparsers.h"
#include "support/switcher.h"

#include <QtTest>

using namespace switcher;

namespace {

SwitcherFacts facts(const QString& routes, std::optional<int> edid = {})
{
    SwitcherFacts f;
    for (int output = 1; output <= 4; ++output) {
        const int input = routes.at(output - 1).digitValue();
        if (input > 0)
            f.inputOfOutput.at(std::size_t(output - 1)) = input;
    }
    f.edidMode = edid;
    return f;
}

SwitcherConfig parsed(const QByteArray& text)
{
    auto result = parseSwitcherConfig(text, QStringLiteral("t.conf"));
    if (auto* error = std::get_if<ConfigError>(&result))
        qFatal("%s", qPrintable(error->text));
    return std::get<SwitcherConfig>(result);
}

} // namespace

class TestDaemonParts : public QObject {
    Q_OBJECT

private slots:
    void announcements_tellEachChangeSoThatAClientReadsItWhole()
    {
        const SwitcherFacts now = facts("1324", 5);
        QCOMPARE(nextAnnouncement(now, now), QByteArray());
        QCOMPARE(nextAnnouncement(facts("1314", 5), now), QByteArray("s31"));
        // Two changes as one status reply; an output nobody knows is not a digit.
        QCOMPARE(nextAnnouncement(facts("2314", 5), now), QByteArray("\r\ns10s22s31s43"));
        QCOMPARE(nextAnnouncement(facts("0000"), facts("1300")), QByteArray("\r\ns10s22s3?s4?"));
        // Routes first, then the EDID mode as a text of its own.
        SwitcherFacts known = facts("1314", 2);
        QByteArray text = nextAnnouncement(known, now);
        known.apply(decodeReply(QString::fromLatin1(text)));
        QCOMPARE(nextAnnouncement(known, now), QByteArray("EE5"));
        QCOMPARE(nextAnnouncement(facts("1324", 2), facts("1324", 10)), QByteArray("EE:"));
    }

    void configuration_namesPresetsAndDefaults()
    {
        const SwitcherConfig c = parsed("[switcher]\nport = com3\n[inputs]\n1 = Blu-ray\n"
                                        "[outputs]\nB = Projector\n[preset Movie night]\n"
                                        "projector = blu-ray\nD = 4\n[mqtt]\nhost = h\ncafile = ca\n");
        QCOMPARE(c.id, "t");
        QCOMPARE(c.poll, std::chrono::milliseconds{5000});
        QCOMPARE(parsePollSeconds("0.25"), std::chrono::milliseconds{250});
        QCOMPARE(parsePollSeconds("1.2345"), std::nullopt);
        QCOMPARE(c.inputNamed("BLU-RAY"), 1);
        QCOMPARE(c.inputNamed("Input 4"), 4);
        QCOMPARE(c.inputNamed("5"), std::nullopt);
        QCOMPARE(c.outputNamed("projector"), 2);
        QCOMPARE(c.outputNamed("c"), 3);
        QVERIFY(c.presetNamed("movie NIGHT"));
        QCOMPARE(c.presetNamed("Movie night")->inputOfOutput,
                 (std::array<std::optional<int>, 4>{std::nullopt, 1, std::nullopt, 4}));
        QCOMPARE(c.mqtt->port, 8883); // TLS without a port given
    }

    void configuration_checkOutputMasksThePassword()
    {
        SwitcherConfig c = parsed("[switcher]\nport = /dev/ttyUSB0\n[mqtt]\nhost = h\n"
                                  "username = av\npassword = s3cret\n");
        QVERIFY(!completeSwitcherConfig(c));
        const QString text = describeSwitcherConfig(c);
        QVERIFY(text.contains("client_id = matrixd-t\n") && text.contains("topic = matrix/t\n"));
        QVERIFY(text.contains("password = (set)"));
        QVERIFY(!text.contains("s3cret"));
    }

    void configuration_passwordFiles_oneReadForMqttAndHttp_firstLineOrRefusedWhole()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("secret"));
        const QByteArray text =
            "[switcher]\nport = COM3\n[mqtt]\nhost = h\npassword_file = " + file.toUtf8() +
            "\n[http]\nlisten = 0.0.0.0:8080\npassword_file = " + file.toUtf8() + "\n";
        const auto write = [&file](const QByteArray& content) {
            QFile out(file);
            return out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                   out.write(content) == content.size();
        };
        // Without a final newline the one line is still the password.
        for (const QByteArray& content : {QByteArray("s3cret"), QByteArray(" s3cret \nnext\n")}) {
            QVERIFY(write(content));
            SwitcherConfig c = parsed(text);
            const auto error = completeSwitcherConfig(c);
            QVERIFY2(!error, error ? qPrintable(error->text) : "");
            QCOMPARE(c.mqtt->password, "s3cret");
            QCOMPARE(c.http->password, "s3cret");
        }
        // Too large is refused, never cut; [http] is checked first, at its key's line.
        QVERIFY(write(QByteArray(5000, 'x')));
        SwitcherConfig c = parsed(text);
        const auto error = completeSwitcherConfig(c);
        QVERIFY(error);
        QCOMPARE(error->text,
                 "t.conf:8: cannot read password_file " + file + ": more than 4 KiB, too large");
    }

    void configuration_faultsNameTheirLine_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("key twice") << QByteArray("[switcher]\npoll = 1\npoll = 2\n") << "t.conf:3: poll is given twice";
        QTest::newRow("section twice") << QByteArray("[inputs]\n[inputs]\n") << "t.conf:2: section [inputs] is given twice";
        QTest::newRow("name is a number") << QByteArray("[inputs]\n1 = 2\n") << "t.conf:2: \"2\" is a number";
        QTest::newRow("another's label") << QByteArray("[inputs]\n1 = input 2\n") << "t.conf:2: \"input 2\" already names input 2";
        QTest::newRow("bad port") << QByteArray("[switcher]\nport = COM11\n") << "t.conf:2: port is COM1 to COM10";
        QTest::newRow("empty preset") << QByteArray("[preset X]\n") << "t.conf:1: preset \"X\" routes no output";
        QTest::newRow("no equals") << QByteArray("[switcher]\nport\n") << "t.conf:2: expected KEY = VALUE";
        QTest::newRow("both passwords") << QByteArray("[mqtt]\npassword = a\npassword_file = b\n") << "t.conf:3: give password or";
    }
    void configuration_faultsNameTheirLine()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        auto result = parseSwitcherConfig(text, QStringLiteral("t.conf"));
        QVERIFY(std::holds_alternative<ConfigError>(result));
        QVERIFY2(std::get<ConfigError>(result).text.startsWith(error),
                 qPrintable(std::get<ConfigError>(result).text));
    }
};

QTEST_MAIN(TestDaemonParts)
#include "tst_daemonparts.moc"
