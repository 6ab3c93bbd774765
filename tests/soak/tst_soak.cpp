// Thousands of connect/disconnect cycles, status replies and routes against the simulator:
// open files and resident memory must not grow. Run by ./scripts/soak, under LeakSanitizer too.
#include "support/fakes/fakemessageboxes.h"
#include "serial/qtserialcontrol.h"
#include "support/simprocess.h"
#include "support/formcontrols.h"
#include "support/scratchdirectory.h"
#include "window/form1.h"
#include "window/lamp.h"
#include "window/messagelog.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MATRIX_UNDER_ASAN 1
#endif
#endif
#ifdef MATRIX_UNDER_ASAN
// Freed memory waits in the sanitizer's quarantine: resident size says nothing about leaks there,
// LeakSanitizer does at exit.
constexpr bool kResidentSizeMeansLeaks = false;
#else
constexpr bool kResidentSizeMeansLeaks = true;
#endif

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

qsizetype openFiles()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size();
}

int cyclesWanted()
{
    bool ok = false;
    const int cycles = qEnvironmentVariableIntValue("MATRIX_SOAK_CYCLES", &ok);
    return ok && cycles > 0 ? cycles : 2000;
}

} // namespace

class SoakTest : public QObject {
    Q_OBJECT
private slots:
    void connectCyclesAndReplies_growNeitherFilesNorMemory();
};

void SoakTest::connectCyclesAndReplies_growNeitherFilesNorMemory()
{
    ScratchDirectory dir;
    QVERIFY(dir.isValid());
    SimProcess sim(dir.path(), 1, {QStringLiteral("--quiet"), QStringLiteral("--no-pacing")});
    QVERIFY(sim.waitForLink());

    QtSerialControl serial;
    FakeMessageBoxes boxes;
    Form1 form(serial, boxes);
    form.load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QSignalSpy texts(controls::find<ReplyIntake>(form), &ReplyIntake::replyText);
    QPushButton* connectButton = controls::find<QPushButton>(form, QStringLiteral("Command7"));
    QPushButton* clearButton = controls::find<QPushButton>(form, QStringLiteral("Command2"));

    auto cycle = [&](int n) {
        connectButton->click(); // disconnect
        QVERIFY(!serial.isOpen());
        connectButton->click(); // connect: the status query goes out
        QVERIFY(serial.isOpen());
        QVERIFY(texts.wait(kReplyTimeoutMs));
        const int output = n % 4 + 1;
        const int input = n / 4 % 4 + 1;
        controls::command1(form, inputButtonIndex(output, input))->click();
        QVERIFY(texts.wait(kReplyTimeoutMs));
        QVERIFY(controls::find<Lamp>(form, QStringLiteral("Shape%1_%2").arg(16 + output).arg(input - 1))
                    ->isLit());
        clearButton->click(); // the log may grow without bound by design; keep it out
        texts.clear();        // and so would the test's own record of reply texts
    };

    for (int n = 0; n < 100; ++n) {
        cycle(n);
        if (QTest::currentTestFailed())
            return;
    }
    const qint64 rssBefore = residentKb();
    const qsizetype filesBefore = openFiles();

    const int cycles = cyclesWanted();
    for (int n = 0; n < cycles; ++n) {
        cycle(n);
        if (QTest::currentTestFailed())
            return;
    }
    const qint64 rssAfter = residentKb();
    const qsizetype filesAfter = openFiles();
    qInfo("%d cycles: open files %lld -> %lld, resident memory %lld kB -> %lld kB", cycles,
          qint64(filesBefore), qint64(filesAfter), rssBefore, rssAfter);
    QVERIFY(boxes.shown.isEmpty());
    QCOMPARE(filesAfter, filesBefore);
    if (!kResidentSizeMeansLeaks)
        return;
    // Allocator noise stays far below this; a leak of a few hundred bytes a cycle does not.
    QVERIFY2(rssAfter - rssBefore < 2048, "resident memory grew by more than 2 MB");
}

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
