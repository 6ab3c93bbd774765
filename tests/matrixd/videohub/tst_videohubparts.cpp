// The router control surface's pure pieces: cutting a client's bytes into blocks, what a block
// asks for, the blocks matrixd sends, and the [videohub] configuration.

#include "blockreader.h"
#include "config/switcherconfigcompletion.h"
#include "config/switcherconfigdescription.h"
#include "config/switcherconfigreader.h"
#include "daemonoptions.h"
#include "statusblocks.h"
#include "videohubrequest.h"

#include <QtTest>

namespace {

using Fault = BlockReader::Fault;
using Kind = VideohubRequest::Kind;

QList<VideohubBlock> readAll(const QByteArray& bytes, Fault* fault = nullptr)
{
    BlockReader reader;
    const BlockReader::Read read = reader.feed(bytes);
    if (fault)
        *fault = read.fault;
    return read.blocks;
}

VideohubRequest request(const QByteArray& bytes)
{
    const QList<VideohubBlock> blocks = readAll(bytes);
    return blocks.size() == 1 ? VideohubRequest::parse(blocks.first()) : VideohubRequest{};
}

std::variant<SwitcherConfig, ConfigError> loaded(const QByteArray& videohub)
{
    auto result = parseSwitcherConfig("[switcher]\nport = COM3\n[videohub]\n" + videohub,
                                      QStringLiteral("t.conf"));
    if (auto* config = std::get_if<SwitcherConfig>(&result)) {
        if (auto error = completeSwitcherConfig(*config))
            return *error;
    }
    return result;
}

} // namespace

class TestVideohubParts : public QObject {
    Q_OBJECT

private slots:
    void blockReader_cutsBlocksHoweverTheBytesArrive()
    {
        const QByteArray stream = "\nPING:\r\n\r\n\r\nVIDEO OUTPUT ROUTING:\n0 1\r\n3 2\n\n"
                                  "INPUT LABELS:\n0 Caméra\n\nOUTPUT LABELS:\n";
        const QList<VideohubBlock> expected = {
            {"PING:", {}}, {"VIDEO OUTPUT ROUTING:", {"0 1", "3 2"}}, {"INPUT LABELS:", {"0 Caméra"}}};
        QCOMPARE(readAll(stream), expected);
        BlockReader reader;
        QList<VideohubBlock> oneByOne;
        for (const char byte : stream)
            oneByOne += reader.feed(QByteArrayView(&byte, 1)).blocks;
        QCOMPARE(oneByOne, expected);
        QCOMPARE(reader.feed("\n").blocks, (QList<VideohubBlock>{{"OUTPUT LABELS:", {}}}));
    }

    void blockReader_boundsLinesItemsAndText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("blocks"); // read before the fault
        QTest::addColumn<Fault>("fault");
        const QByteArray longest(1024, 'x');
        QTest::newRow("1024 bytes") << "PING:\n" + longest + "\n\n" << 1 << Fault::None;
        QTest::newRow("1024 bytes, CR LF") << "PING:\n" + longest + "\r\n\n" << 1 << Fault::None;
        QTest::newRow("1025 bytes") << "PING:\n\n" + longest + "x\n" << 1 << Fault::LineTooLong;
        QTest::newRow("no line end") << QByteArray(1026, 'x') << 0 << Fault::LineTooLong;
        const QByteArray items = QByteArray("0 0\n").repeated(64);
        QTest::newRow("64 items") << "ROUTES:\n" + items + "\n" << 1 << Fault::None;
        QTest::newRow("65 items") << "ROUTES:\n" + items + "0 0\n" << 0 << Fault::TooManyItems;
        QTest::newRow("NUL") << QByteArray("PING:\n\nPI\0NG:\n\n", 15) << 1 << Fault::NotText;
        QTest::newRow("DEL") << QByteArray("PING\x7f:\n\n") << 0 << Fault::NotText;
        QTest::newRow("CR inside") << QByteArray("PING:\rX\n\n") << 0 << Fault::NotText;
        QTest::newRow("bad UTF-8") << QByteArray("LABELS:\n0 \xc3\x28\n\n") << 0 << Fault::NotText;
        QTest::newRow("tab") << QByteArray("LABELS:\n0\tA\n\n") << 1 << Fault::None;
    }
    void blockReader_boundsLinesItemsAndText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Fault, fault);
        BlockReader reader;
        const BlockReader::Read read = reader.feed(bytes);
        QTEST(int(read.blocks.size()), "blocks");
        QCOMPARE(read.fault, fault);
        // Nothing after a fault counts.
        if (fault != Fault::None)
            QVERIFY(reader.feed("PING:\n\n").blocks.isEmpty());
    }

    void request_whatEachBlockAsksFor_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Kind>("kind");
        QTest::newRow("ping") << QByteArray("PING:\n\n") << Kind::Ping;
        QTest::newRow("dump") << QByteArray("VIDEO OUTPUT LOCKS:\n\n") << Kind::StatusDump;
        QTest::newRow("routes") << QByteArray("VIDEO OUTPUT ROUTING:\n0 3\n3 0\n\n") << Kind::Routes;
        QTest::newRow("output 4") << QByteArray("VIDEO OUTPUT ROUTING:\n4 0\n\n") << Kind::InvalidRoutes;
        QTest::newRow("one bad of two") << QByteArray("VIDEO OUTPUT ROUTING:\n0 1\n1 x\n\n") << Kind::InvalidRoutes;
        QTest::newRow("sign") << QByteArray("VIDEO OUTPUT ROUTING:\n+0 1\n\n") << Kind::InvalidRoutes;
        QTest::newRow("label") << QByteArray("INPUT LABELS:\n0 DVD\n\n") << Kind::ReadOnlyChange;
        QTest::newRow("lock") << QByteArray("VIDEO OUTPUT LOCKS:\n0 O\n\n") << Kind::ReadOnlyChange;
        QTest::newRow("take mode") << QByteArray("CONFIGURATION:\nTake Mode: true\n\n") << Kind::ReadOnlyChange;
        QTest::newRow("monitoring") << QByteArray("VIDEO MONITORING OUTPUT ROUTING:\n0 1\n\n") << Kind::Unknown;
        QTest::newRow("lower case") << QByteArray("ping:\n\n") << Kind::Unknown;
        QTest::newRow("end prelude") << QByteArray("END PRELUDE:\n\n") << Kind::Unknown;
    }
    void request_whatEachBlockAsksFor()
    {
        QFETCH(QByteArray, bytes);
        const VideohubRequest parsed = request(bytes);
        QTEST(parsed.kind, "kind");
        if (parsed.kind == Kind::Routes)
            QCOMPARE(parsed.routes, (QList<VideohubRequest::Route>{{1, 4}, {4, 1}}));
        else
            QVERIFY(parsed.routes.isEmpty());
    }

    void statusBlocks_labelsRoutingAndAStableId()
    {
        auto result = parseSwitcherConfig("[switcher]\nid = hall\n[inputs]\n2 = Caméra\n", "t.conf");
        const SwitcherConfig config = std::get<SwitcherConfig>(result);
        const StatusBlocks blocks(config);
        QCOMPARE(blocks.inputLabels().encoded(),
                 QByteArray("INPUT LABELS:\n0 Input 1\n1 Caméra\n2 Input 3\n3 Input 4\n\n"));
        SwitcherFacts facts;
        facts.inputOfOutput = {2, std::nullopt, 4, 1};
        QCOMPARE(StatusBlocks::routing(facts).items, (QStringList{"0 1", "2 3", "3 0"}));
        QCOMPARE(StatusBlocks::routing(facts, {2, 3}).items, QStringList{"2 3"});
        QCOMPARE(StatusBlocks::uniqueId("hall"), StatusBlocks::uniqueId("hall"));
        QVERIFY(StatusBlocks::uniqueId("hall") != StatusBlocks::uniqueId("hall2"));
        QCOMPARE(StatusBlocks::uniqueId("hall").size(), 12);
        QVERIFY(blocks.device(false).items.contains("Device present: false"));
        QVERIFY(blocks.greeting(facts, true).endsWith("CONFIGURATION:\nTake Mode: false\n\n"
                                                      "END PRELUDE:\n\n"));
    }

    void configuration_listenAllowAndTheCommandLine()
    {
        auto plain = std::get<SwitcherConfig>(loaded(""));
        QCOMPARE(plain.videohub->listen.text(), "127.0.0.1:9990");
        QCOMPARE(plain.videohub->maxClients, 32);
        QCOMPARE(parseListenAddress("192.168.1.5", kDefaultVideohubPort)->text(), "192.168.1.5:9990");
        QCOMPARE(parseListenAddress("localhost:9991", kDefaultVideohubPort)->text(), "127.0.0.1:9991");
        QCOMPARE(parseListenAddress("::1", kDefaultVideohubPort)->text(), "[::1]:9990");
        QCOMPARE(parseListenAddress("[::]:9992", kDefaultVideohubPort)->text(), "[::]:9992");
        // The web surface reads the same form, with its own default port, and * for every address.
        QCOMPARE(parseListenAddress("*", 8080)->text(), "*:8080");
        QVERIFY(parseListenAddress("*:80", 8080)->hostAddress() == QHostAddress(QHostAddress::Any));
        QVERIFY(!parseListenAddress("*:80", 8080)->isLoopback());
        QCOMPARE(parseListenAddress("LOCALHOST", 8080)->text(), "127.0.0.1:8080");
        for (const char* bad : {"", "host.example", "1.2.3", "1.2.3.4:", "1.2.3.4:0", "[::1",
                                "1.2.3.4:99999", "01.2.3.4", "[1.2.3.4]"})
            QVERIFY2(!parseListenAddress(bad, kDefaultVideohubPort), bad);

        auto open = std::get<SwitcherConfig>(
            loaded("listen = 0.0.0.0\nallow = 192.168.1.0/24 , 10.0.0.7, fd00::/8\nmax_clients = 4\n"));
        QCOMPARE(describeVideohubSettings(*open.videohub),
                 "[videohub]\nlisten = 0.0.0.0:9990\nallow = 192.168.1.0/24, 10.0.0.7, fd00::/8\n"
                 "max_clients = 4\n");
        QVERIFY(describeSwitcherConfig(open).endsWith(describeVideohubSettings(*open.videohub)));

        const auto fromLine = parseDaemonArguments({"matrixd", "--port", "COM2", "--videohub", "[::1]:9000"});
        QCOMPARE(std::get<DaemonOptions>(fromLine).config.videohub->listen.text(), "[::1]:9000");
        const auto beyond = parseDaemonArguments({"matrixd", "--port", "COM2", "--videohub", "0.0.0.0"});
        QVERIFY(std::get<DaemonExit>(beyond).text.startsWith("[videohub] listens on 0.0.0.0:9990"));
        const auto bad = parseDaemonArguments({"matrixd", "--port", "COM2", "--videohub", "x:1"});
        QCOMPARE(std::get<DaemonExit>(bad).text, "--videohub takes HOST[:PORT], not \"x:1\"");
    }

    void configuration_faultsNameTheirLine_data()
    {
        QTest::addColumn<QByteArray>("videohub");
        QTest::addColumn<QString>("error");
        QTest::newRow("listen") << QByteArray("listen = 10.0.0.300\n") << "t.conf:4: listen is HOST:PORT";
        QTest::newRow("allow") << QByteArray("allow = 10.0.0.0/33\n") << "t.conf:4: allow is a list";
        QTest::newRow("allow, empty entry") << QByteArray("allow = 10.0.0.1,\n") << "t.conf:4: allow is a list";
        QTest::newRow("max_clients") << QByteArray("max_clients = 0\n") << "t.conf:4: max_clients is 1 to";
        QTest::newRow("unknown key") << QByteArray("port = 9990\n") << "t.conf:4: unknown key port in [videohub]";
        QTest::newRow("beyond loopback, no allow")
            << QByteArray("max_clients = 3\nlisten = [::]:9990\n")
            << "t.conf:5: [videohub] listens on [::]:9990, beyond this machine";
    }
    void configuration_faultsNameTheirLine()
    {
        QFETCH(QByteArray, videohub);
        QFETCH(QString, error);
        const auto result = loaded(videohub);
        QVERIFY(std::holds_alternative<ConfigError>(result));
        QVERIFY2(std::get<ConfigError>(result).text.startsWith(error),
                 qPrintable(std::get<ConfigError>(result).text));
    }
};

QTEST_MAIN(TestVideohubParts)
#include "tst_videohubparts.moc"
