// The shares around the service, in process: real pseudo-terminals, the panel's own serial
// control as the client, the switcher model as the line.

#include "sharehub.h"
#include "support/fakes/simulatedserialcontrol.h"
#include "support/panelend.h"
#include "support/scratchdirectory.h"
#include "support/switcher.h"

#include <QtTest>

using namespace switcher;
using namespace std::chrono_literals;

class TestShareHub : public QObject {
    Q_OBJECT
private slots:
    void announcements_keepTheirGapSoThatAClientReadsEachAlone()
    {
        ScratchDirectory dir;
        SwitcherConfig config;
        config.port = QStringLiteral("COM1");
        config.shares = {dir.path() + QStringLiteral("/COM1"), dir.path() + QStringLiteral("/COM2")};
        SimulatedSerialControl serial;
        SwitcherLine::Timing timing;
        timing.settle = 5ms;
        timing.poll = 0ms;
        SwitcherService service(config, serial, [](SerialControl& s) { s.setPortNumber(1); },
                                [] { return QString(); }, timing);
        ShareHub hub(service);
        QString error;
        QVERIFY2(hub.open(error), qPrintable(error));
        service.start();
        QTRY_VERIFY(service.state().isAnswering());

        PanelEnd asker(config.shares.at(0));
        PanelEnd other(config.shares.at(1));
        QVERIFY(asker.open() && other.open());
        QVERIFY(asker.ask(buttonFrame(inputIndex(2, 3)), 1));
        QVERIFY(other.waitForTexts(1));
        QCOMPARE(asker.texts, QStringList{"s22"});
        QCOMPARE(other.texts, QStringList{"s22"});

        // Two changes made elsewhere, confirmed a few ms apart on the unpaced line: run
        // together, "s11EE5" would be one text that no client reads as two.
        service.route(1, 2, {});
        service.selectEdidMode(5, {});
        QVERIFY(asker.waitForTexts(3) && other.waitForTexts(3));
        QCOMPARE(asker.texts.mid(1), (QStringList{"s11", "EE5"}));
        QCOMPARE(other.texts.mid(1), (QStringList{"s11", "EE5"}));
    }
};

QTEST_GUILESS_MAIN(TestShareHub)
#include "tst_sharehub.moc"
