// matrixd for router control clients: a real matrixd on the simulator's line, and clients
// written from the Videohub Ethernet Protocol's description on real loopback sockets.

#include "support/daemonprocess.h"
#include "support/freeport.h"
#include "support/scratchdirectory.h"
#include "support/simprocess.h"
#include "support/switcher.h"
#include "support/videohubclient.h"

#include <QTcpServer>
#include <QtTest>

#include <sys/socket.h>

using namespace switcher;

namespace {

const QString kRouting = QStringLiteral("VIDEO OUTPUT ROUTING:");
const QString kDevice = QStringLiteral("VIDEOHUB DEVICE:");

// The simulator on <dir>/COM1, matrixd on it with a configuration of its own.
struct Rig {
    explicit Rig(const QStringList& simArguments = {}) : sim{dir.path(), 1, simArguments} {}

    bool start(const QByteArray& videohub = {}, const QByteArray& poll = "0")
    {
        if (!sim.waitForLink() || port == 0)
            return false;
        config = dir.path() + QStringLiteral("/hall.conf");
        scratch::writeFile(config, "[switcher]\nname = Hall matrix\nport = " +
                                       sim.link().toUtf8() + "\npoll = " + poll +
                                       "\n[inputs]\n1 = Blu-ray\n3 = Laptop\n[outputs]\n"
                                       "B = Projector\n[videohub]\nlisten = 127.0.0.1:" +
                                       QByteArray::number(port) + "\n" + videohub);
        daemon = std::make_unique<DaemonProcess>(QStringList{"--config", config, "--trace"});
        return daemon->waitFor("switcher answering") && daemon->waitFor("videohub: listening");
    }

    // A client that has read the whole greeting.
    std::unique_ptr<VideohubClient> client()
    {
        auto c = std::make_unique<VideohubClient>();
        if (!c->connectTo(port) || !c->waitForGreeting())
            return nullptr;
        return c;
    }

    ScratchDirectory dir;
    SimProcess sim;
    int port = freeLoopbackPort();
    QString config;
    std::unique_ptr<DaemonProcess> daemon;
};

QByteArray routingBlock(const QByteArray& items)
{
    return "VIDEO OUTPUT ROUTING:\n" + items + "\n";
}

// A client that never reads, with a small receive window, asking for the device block over and
// over: what matrixd answers piles up on its side. True once matrixd has cut it off.
bool floodWithoutReading(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int window = 4096;
    const timeval wait{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool cut = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        QByteArray requests;
        while (requests.size() < 64 * 1024)
            requests += "VIDEOHUB DEVICE:\n\n";
        // Far more answers than the bound and both kernels hold.
        for (int round = 0; round < 200 && !cut; ++round)
            cut = ::send(fd, requests.constData(), std::size_t(requests.size()), MSG_NOSIGNAL) < 0;
    }
    ::close(fd);
    return cut;
}

} // namespace

class TestVideohub : public QObject {
    Q_OBJECT

private slots:
    void greeting_isTheSwitcherAndRequestsAreAnsweredInTheirOrder()
    {
        Rig rig({"--routes", "2413"});
        QVERIFY(rig.start());
        auto client = rig.client();
        QVERIFY(client);
        QCOMPARE(client->headers(),
                 (QStringList{"PROTOCOL PREAMBLE:", kDevice, "INPUT LABELS:", "OUTPUT LABELS:",
                              "VIDEO OUTPUT LOCKS:", kRouting, "CONFIGURATION:", "END PRELUDE:"}));
        const auto& blocks = client->blocks;
        QCOMPARE(blocks[0].items.size(), 1);
        QVERIFY(blocks[0].items[0].startsWith("Version: 2."));
        const QStringList device = blocks[1].items;
        QCOMPARE(device.size(), 9);
        QCOMPARE(device[0], "Device present: true");
        QVERIFY(device[1].startsWith("Model name: ") && device[1].size() > 12);
        QCOMPARE(device[2], "Friendly name: Hall matrix");
        QVERIFY2(QRegularExpression("^Unique ID: [0-9A-F]{12}$").match(device[3]).hasMatch(),
                 qPrintable(device[3]));
        QCOMPARE(device.mid(4), (QStringList{"Video inputs: 4", "Video processing units: 0",
                                             "Video outputs: 4", "Video monitoring outputs: 0",
                                             "Serial ports: 0"}));
        QCOMPARE(blocks[2].items, (QStringList{"0 Blu-ray", "1 Input 2", "2 Laptop", "3 Input 4"}));
        QCOMPARE(blocks[3].items,
                 (QStringList{"0 Output A", "1 Projector", "2 Output C", "3 Output D"}));
        QCOMPARE(blocks[4].items, (QStringList{"0 U", "1 U", "2 U", "3 U"}));
        QCOMPARE(blocks[5].items, (QStringList{"0 1", "1 3", "2 0", "3 2"}));
        QCOMPARE(blocks[6].items, QStringList{"Take Mode: false"});
        QVERIFY(blocks[7].items.isEmpty());
        // LF only, and the whole greeting in one read: one write on matrixd's side.
        QVERIFY(!client->raw.contains('\r'));
        QCOMPARE(client->reads.size(), 1);

        // Several blocks in one write, CR LF or LF, answered one by one in order; a label or
        // lock change is refused and followed by the block as it stands.
        const qsizetype from = client->blocks.size();
        QVERIFY(client->send("PING:\r\n\r\nOUTPUT LABELS:\r\n\r\nVIDEO OUTPUT LOCKS:\n0 L\n\n"
                             "WHAT IS THIS:\n\nINPUT LABELS:\n0 DVD\n\n"));
        QVERIFY(client->waitForBlocks(from + 8));
        QCOMPARE(client->headers(from), (QStringList{"ACK", "ACK", "OUTPUT LABELS:", "NAK",
                                                     "VIDEO OUTPUT LOCKS:", "NAK", "NAK",
                                                     "INPUT LABELS:"}));
        QCOMPARE(client->blocks[from + 2].items, blocks[3].items);
        QCOMPARE(client->blocks[from + 4].items, blocks[4].items);
        QCOMPARE(client->blocks[from + 7].items, blocks[2].items);
        QVERIFY(!client->raw.contains('\r'));
        QCOMPARE(rig.sim.framesReceived(), QList<QByteArray>{kStatusQuery});
        QVERIFY(rig.daemon->waitFor("videohub: 127.0.0.1:", 4)); // connected, three refusals
    }

    void route_isAckedPutOnTheLineAndToldToEveryClient()
    {
        Rig rig;
        QVERIFY(rig.start());
        auto x = rig.client();
        auto y = rig.client();
        QVERIFY(x && y);
        const qsizetype xFrom = x->blocks.size();
        const qsizetype yFrom = y->blocks.size();

        QVERIFY(x->send(routingBlock("1 2\n")));
        QVERIFY(x->waitForBlocks(xFrom + 2) && y->waitForBlocks(yFrom + 1));
        QCOMPARE(x->headers(xFrom), (QStringList{"ACK", kRouting}));
        QCOMPARE(x->blocks.last().items, QStringList{"1 2"});
        QCOMPARE(y->blocks.last().items, QStringList{"1 2"});
        QCOMPARE(rig.sim.framesReceived().mid(1), QList<QByteArray>{buttonFrame(inputIndex(2, 3))});
        QVERIFY(rig.daemon->waitFor(QStringLiteral("videohub: 127.0.0.1:%1: route B <- 3")
                                        .arg(x->socket().localPort())));

        // A button with several actions: blocks back to back, one of two routes.
        QVERIFY(x->send(routingBlock("2 3\n") + routingBlock("3 3\n0 1\n")));
        QVERIFY(y->waitFor([&] { return y->routing == QMap<int, int>{{0, 1}, {1, 2}, {2, 3}, {3, 3}}; }));
        QCOMPARE(x->headers(xFrom + 2).mid(0, 2), (QStringList{"ACK", "ACK"}));
        QVERIFY(rig.sim.waitForFrames(5));
        QCOMPARE(rig.sim.framesReceived().mid(2),
                 (QList<QByteArray>{buttonFrame(inputIndex(3, 4)), buttonFrame(inputIndex(4, 4)),
                                    buttonFrame(inputIndex(1, 2))}));
        // Each update names only what changed.
        for (const auto& block : y->blocksNamed(kRouting, yFrom))
            QCOMPARE(block.items.size(), 1);
    }

    void unconfirmedRoute_showsTheAskerTheRealRoutingAndNobodyElseAnything()
    {
        Rig rig;
        QVERIFY(rig.start());
        auto asker = rig.client();
        auto other = rig.client();
        QVERIFY(asker && other);
        // Powered off, and with no poll to notice: the route goes out and is never confirmed.
        QVERIFY(rig.sim.control("power 4500", "power off"));
        const qsizetype from = asker->blocks.size();
        const qsizetype otherFrom = other->blocks.size();
        QVERIFY(asker->send(routingBlock("1 2\n")));
        QVERIFY(asker->waitForBlocks(from + 2));
        QCOMPARE(asker->headers(from), (QStringList{"ACK", kRouting}));
        QCOMPARE(asker->blocks.last().items, QStringList{"1 0"});
        QVERIFY(rig.daemon->waitFor("route B <- 3 failed: no reply within 500 ms"));
        QVERIFY(other->send("PING:\n\n"));
        QVERIFY(other->waitForBlocks(otherFrom + 1));
        QCOMPARE(other->headers(otherFrom), QStringList{"ACK"});
    }

    void invalidRoutes_nakAndNothingOnTheLine()
    {
        Rig rig;
        QVERIFY(rig.start());
        auto client = rig.client();
        QVERIFY(client);
        const QList<QByteArray> invalid = {"4 0\n", "0 4\n", "0\n", "a b\n", "0 1 2\n", "-1 0\n",
                                           "0 1\n5 5\n"};
        const qsizetype from = client->blocks.size();
        for (const QByteArray& items : invalid)
            QVERIFY(client->send(routingBlock(items)));
        QVERIFY(client->waitForBlocks(from + invalid.size()));
        QCOMPARE(client->headers(from), QStringList(invalid.size(), "NAK"));
        QVERIFY(client->send("PING:\n\n"));
        QVERIFY(client->waitForBlocks(from + invalid.size() + 1));
        QVERIFY(rig.daemon->waitFor("refused VIDEO OUTPUT ROUTING:", int(invalid.size())));
        QCOMPARE(rig.daemon->count("refused VIDEO OUTPUT ROUTING:"), invalid.size());
        QCOMPARE(rig.sim.framesReceived(), QList<QByteArray>{kStatusQuery});
    }

    void silentFrontPanelChange_reachesEveryClientWithinAPoll()
    {
        Rig rig;
        QVERIFY(rig.start({}, "1"));
        auto x = rig.client();
        auto y = rig.client();
        QVERIFY(x && y);
        const qsizetype from = x->blocks.size();
        QVERIFY(rig.sim.control("front C 2 silent", "front panel"));
        QVERIFY(x->waitFor([&] { return x->blocks.size() > from; }, 2500));
        QVERIFY(y->waitFor([&] { return y->routing.value(2) == 1; }, 2500));
        QCOMPARE(x->headers(from), QStringList{kRouting});
        QCOMPARE(x->blocks.last().items, QStringList{"2 1"});
    }

    void unplugAndReplug_deviceAbsentThenPresentWithTheRoutingReadAgain()
    {
        Rig rig;
        QVERIFY(rig.start());
        auto client = rig.client();
        QVERIFY(client);
        QVERIFY(rig.sim.control("unplug", "unplugged"));
        QVERIFY(client->waitFor([&] { return client->devicePresent == false; }));
        // Still every count: clients take a missing one as 12.
        QVERIFY(client->blocksNamed(kDevice).last().items.contains("Video outputs: 4"));

        const qsizetype from = client->blocks.size();
        QVERIFY(client->send(routingBlock("0 3\n")));
        QVERIFY(client->waitForBlocks(from + 1));
        QCOMPARE(client->headers(from), QStringList{"NAK"});
        QVERIFY(rig.daemon->waitFor("route A <- 4: the switcher is not answering"));
        auto late = rig.client();
        QVERIFY(late);
        QCOMPARE(late->devicePresent, false);

        QVERIFY(rig.sim.control("front B 4 silent", "front panel"));
        QVERIFY(rig.sim.control("replug", "replugged"));
        QVERIFY(client->waitFor([&] { return client->devicePresent == true; }, 5000));
        QVERIFY(client->waitFor([&] { return client->routing.value(1) == 3; }));
        QVERIFY(late->waitFor([&] { return late->routing == QMap<int, int>{{0, 0}, {1, 3}, {2, 0}, {3, 0}}; }));
        QCOMPARE(rig.sim.framesReceived().count(buttonFrame(inputIndex(1, 4))), 0);
    }

    void hostileClients_areClosedAndOnlyThey()
    {
        Rig rig;
        QVERIFY(rig.start());
        auto keeper = rig.client();
        QVERIFY(keeper);
        const QList<QByteArray> hostile = {
            QByteArray(1100, 'A') + "\n",                          // a line too long
            QByteArray(5000, 'A'),                                 // ... that never ends
            routingBlock(QByteArray("0 0\n").repeated(65)),        // too many items
            "PING:\n\x01\n\n",                                     // a control character
            "INPUT LABELS:\n0 \xff\xfe\n\n",                       // not UTF-8
        };
        for (const QByteArray& bytes : hostile) {
            auto client = rig.client();
            QVERIFY(client);
            const qsizetype from = client->blocks.size();
            QVERIFY(client->send(bytes));
            QVERIFY(client->waitForClose());
            QCOMPARE(client->headers(from), QStringList{"NAK"});
        }
        QVERIFY(rig.daemon->waitFor(": closed: it sent ", int(hostile.size())));
        QVERIFY(floodWithoutReading(rig.port));
        QVERIFY(rig.daemon->waitFor(": closed: it does not read"));

        QVERIFY(keeper->isConnected());
        const qsizetype from = keeper->blocks.size();
        QVERIFY(keeper->send("PING:\n\n"));
        QVERIFY(keeper->waitForBlocks(from + 1));
        QCOMPARE(keeper->headers(from), QStringList{"ACK"});
        QCOMPARE(rig.sim.framesReceived(), QList<QByteArray>{kStatusQuery});
    }

    void allowListAndMaxClients_refuseAtOnceWithOneLogLine()
    {
        {
            Rig rig;
            QVERIFY(rig.start("allow = 127.0.0.2, 10.0.0.0/8\n"));
            VideohubClient stranger;
            QVERIFY(stranger.connectTo(rig.port));
            const quint16 from = stranger.socket().localPort();
            QVERIFY(stranger.waitForClose());
            QVERIFY(stranger.raw.isEmpty());
            QVERIFY(rig.daemon->waitFor(QStringLiteral("videohub: 127.0.0.1:%1: refused: not in allow")
                                            .arg(from)));
        }
        Rig rig;
        QVERIFY(rig.start("allow = 127.0.0.0/8\nmax_clients = 2\n"));
        auto first = rig.client();
        auto second = rig.client();
        QVERIFY(first && second);
        VideohubClient third;
        QVERIFY(third.connectTo(rig.port));
        QVERIFY(third.waitForClose());
        QVERIFY(third.raw.isEmpty());
        QVERIFY(rig.daemon->waitFor("refused: 2 clients already (max_clients)"));
        first.reset();
        QVERIFY(rig.daemon->waitFor("disconnected"));
        QVERIFY(rig.client());
    }

    void listenAddressTaken_exitTwoWithTheKeysLine()
    {
        ScratchDirectory dir;
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        const QString config = dir.path() + "/hall.conf";
        // A port that is not there: the line is never reached.
        scratch::writeFile(config, "[switcher]\nport = " + dir.path().toUtf8() +
                                       "/COM1\n[videohub]\nlisten = 127.0.0.1:" +
                                       QByteArray::number(holder.serverPort()) + "\n");
        DaemonProcess daemon({"--config", config});
        QCOMPARE(daemon.waitForExit(), 2);
        const QString out = daemon.output();
        QVERIFY2(out.startsWith("matrixd: " + config + ":4: [videohub] cannot listen on 127.0.0.1:") &&
                     out.count('\n') == 1,
                 qPrintable(out));
    }
};

QTEST_MAIN(TestVideohub)
#include "tst_videohub.moc"
