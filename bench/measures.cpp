#include "measures.h"

#include "switcher/wire.h"

#include "switcher/commandframe.h"
#include "switcher/replies.h"
#include "switcher/replydecoder.h"
#include "serial/replyintake.h"
#include "switcher/replytext.h"
#include "rig.h"
#include "window/form1.h"
#include "window/lamp.h"
#include "window/messagelog.h"
#include "window/twips.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>

#include <cstdio>
#include <thread>

using namespace std::chrono_literals;

namespace {

QString entryFor(int n)
{
    return routeMessage(n % 4 + 1, n / 4 % 4 + 1);
}

// Realistic log content: route entries, CR LF before each, as the window appends them.
QString logFiller(qsizetype chars)
{
    QString text;
    text.reserve(chars + 64);
    for (int n = 0; text.size() < chars; ++n)
        text += QStringLiteral("\r\n") + entryFor(n);
    return text;
}

void selectWholeText(QPlainTextEdit& box)
{
    QTextCursor cursor(box.document());
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    box.setTextCursor(cursor);
    box.ensureCursorVisible();
}

// Notes the moment a widget first paints.
class PaintWatch : public QObject {
public:
    bool painted = false;
    Clock::time_point at;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !painted) {
            painted = true;
            at = Clock::now();
        }
        return QObject::eventFilter(watched, event);
    }
};

volatile qsizetype g_sink = 0; // keeps the decoder's work observable

} // namespace

ClickResult measureClickToWire(int clicks)
{
    ClickResult r;
    LiveWindow w;
    if (!w.ok()) {
        r.error = w.error();
        return r;
    }
    runEventLoopFor(50ms);
    constexpr int kWarmup = 10;
    std::vector<double> samples;
    for (int n = 0; n < clicks + kWarmup; ++n) {
        const int index = inputButtonIndex(n % 4 + 1, n / 4 % 4 + 1);
        auto* button = w.form().findChild<QPushButton*>(QStringLiteral("Command1_%1").arg(index));
        if (!button) {
            r.error = QStringLiteral("no button Command1_%1").arg(index);
            return r;
        }
        const CommandFrame expected = buttonCommandFrame(index);
        // The previous click's repaint does not belong to this one.
        QCoreApplication::processEvents();
        const auto t0 = Clock::now();
        button->click();
        const QByteArray got = w.line().read(500ms, expected.size());
        const auto t1 = Clock::now();
        if (got != expected)
            ++r.wrongFrames;
        if (n >= kWarmup)
            samples.push_back(msBetween(t0, t1));
    }
    r.toWire = summarize(samples);
    r.failureBoxes = w.failureBoxes();
    return r;
}

LampResult measureReplyToLamp(int iterations)
{
    LampResult r;
    LiveWindow w;
    if (!w.ok()) {
        r.error = w.error();
        return r;
    }
    Form1& form = w.form();
    runEventLoopFor(50ms);

    std::array<int, 4> want{};
    int chunks = 0;
    bool done = false;
    Clock::time_point litAt;
    QEventLoop loop;
    const LampGrid lamps = routingLamps(form);
    ReplyIntake* intake = replyIntakeOf(form);
    auto check = [&] {
        if (done || !showsRouting(lamps, want))
            return;
        litAt = Clock::now();
        done = true;
        loop.quit();
    };
    // Right after each reply text is applied (the window's own slot was connected first)...
    QObject::connect(intake, &ReplyIntake::replyText, &loop, [&] {
        ++chunks;
        check();
    });
    // The first receive notification of a reply starts the settle wait.
    Clock::time_point notifiedAt;
    bool notified = false;
    QObject::connect(&w.serial(), &SerialControl::received, &loop, [&] {
        if (!notified) {
            notifiedAt = Clock::now();
            notified = true;
        }
    });
    // ...and every millisecond, should the window ever apply a reply later than that.
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(1ms);
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    QTimer timeout;
    timeout.setSingleShot(true);
    timeout.setInterval(1s);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);

    std::vector<double> toLamps;
    std::vector<double> spans;
    std::vector<double> toNotice;
    std::vector<double> noticeToLamps;
    for (int n = 0; n < iterations; ++n) {
        want = routingFor(n);
        const QByteArray status = reply::status(knownRouting(want));
        chunks = 0;
        done = false;
        notified = false;
        Clock::time_point first;
        Clock::time_point last;
        poll.start();
        timeout.start();
        std::thread line([&] {
            first = Clock::now();
            last = writePaced(w.line(), status);
        });
        loop.exec();
        poll.stop();
        timeout.stop();
        line.join();
        // Long enough for the rest of a split reply to come in as a second text.
        runEventLoopFor(wire::kSettleWait + 10ms);
        spans.push_back(msBetween(first, last));
        // A writer stalled past the settle wait split the reply on the line itself, which no
        // settle wait can mend; such runs say nothing about the panel.
        if (last - first >= wire::kSettleWait) {
            ++r.lineStalls;
            continue;
        }
        if (done) {
            toLamps.push_back(msBetween(first, litAt));
            toNotice.push_back(msBetween(first, notifiedAt));
            noticeToLamps.push_back(msBetween(notifiedAt, litAt));
        } else
            ++r.timeouts;
        if (chunks != 1)
            ++r.splitReplies;
    }
    // The same kind of timer alone in this event loop: how late a 30 ms wait ends by itself.
    std::vector<double> timerAlone;
    for (int n = 0; n < iterations; ++n) {
        QTimer settle;
        settle.setSingleShot(true);
        settle.setTimerType(Qt::PreciseTimer);
        settle.setInterval(wire::kSettleWait);
        QObject::connect(&settle, &QTimer::timeout, &loop, &QEventLoop::quit);
        const auto t0 = Clock::now();
        settle.start();
        loop.exec();
        timerAlone.push_back(msBetween(t0, Clock::now()));
    }
    r.settleTimerAlone = summarize(timerAlone);

    // Applying a status reply text by itself: what the window does once the settle wait ends.
    QObject::disconnect(intake, nullptr, &loop, nullptr);
    std::vector<double> applying;
    for (int n = 0; n < iterations; ++n) {
        const QString text = QString::fromLatin1(reply::status(knownRouting(routingFor(n))));
        runEventLoopFor(2ms);
        const auto t0 = Clock::now();
        emit intake->replyText(text);
        applying.push_back(msBetween(t0, Clock::now()));
    }
    r.applyAlone = summarize(applying);
    r.iterations = iterations;
    r.toLamps = summarize(toLamps);
    r.writeSpan = summarize(spans);
    r.toNotification = summarize(toNotice);
    r.notificationToLamps = summarize(noticeToLamps);
    return r;
}

AppendResult measureLogAppend(const std::array<qsizetype, 3>& sizes, int appends, int rewrites)
{
    AppendResult r;
    r.sizes = sizes;
    const QSize boxSize(twipsToPixels(5055), twipsToPixels(3255)); // the window's Text1

    QPlainTextEdit logBox;
    logBox.resize(boxSize);
    MessageLog log(logBox);
    QPlainTextEdit wholeBox;
    wholeBox.resize(boxSize);
    wholeBox.setUndoRedoEnabled(false);
    wholeBox.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    logBox.show();
    wholeBox.show();
    if (!waitExposed(logBox) || !waitExposed(wholeBox)) {
        r.error = QStringLiteral("log box not exposed");
        return r;
    }
    QString whole; // what the rewriting box shows

    // First appends warm font and glyph caches; they would weigh on the empty-log figure.
    int entry = 0;
    for (; entry < 20; ++entry) {
        log.appendEntry(entryFor(entry));
        log.selectAll();
        QCoreApplication::processEvents();
    }
    log.clear();
    runEventLoopFor(50ms);
    for (std::size_t s = 0; s < sizes.size(); ++s) {
        if (log.text().size() < sizes[s]) {
            const QString filler = logFiller(sizes[s] - log.text().size());
            log.appendText(filler);
            log.selectAll();
            whole += logToDisplay(filler);
            wholeBox.setPlainText(whole);
            selectWholeText(wholeBox);
            runEventLoopFor(100ms);
        }
        std::vector<double> full;
        std::vector<double> call;
        for (int n = 0; n < appends; ++n) {
            const QString message = entryFor(entry++);
            const auto t0 = Clock::now();
            log.appendEntry(message);
            log.selectAll();
            const auto t1 = Clock::now();
            QCoreApplication::processEvents();
            const auto t2 = Clock::now();
            call.push_back(msBetween(t0, t1));
            full.push_back(msBetween(t0, t2));
        }
        std::vector<double> rewritten;
        for (int n = 0; n < rewrites; ++n) {
            const QString message = entryFor(entry++);
            const auto t0 = Clock::now();
            whole += logToDisplay(QStringLiteral("\r\n") + message);
            wholeBox.setPlainText(whole);
            selectWholeText(wholeBox);
            QCoreApplication::processEvents();
            rewritten.push_back(msBetween(t0, Clock::now()));
        }
        r.append[s] = summarize(full);
        r.appendCall[s] = summarize(call);
        r.rewrite[s] = summarize(rewritten);
    }
    return r;
}

DecodeResult measureDecoding(int blocks, int repliesPerBlock)
{
    const std::array<QByteArray, 9> mix = {
        reply::route(1, 2),
        reply::route(4, 3),
        reply::status({1, 2, 3, 4}),
        reply::edid(3),
        reply::edid(10),
        reply::ack(),
        QByteArrayLiteral("READY v1.02"),                // free text
        QByteArray("s1\xB2", 3),                         // a high-bit byte empties the chunk
        QByteArray("\r\ns10s2", 7) + reply::route(3, 1), // a status cut short
    };
    DecodeResult r;
    r.forms = int(mix.size());
    std::vector<double> rates;
    qsizetype sink = 0;
    for (int b = 0; b < blocks + 1; ++b) {
        const auto t0 = Clock::now();
        for (int n = 0; n < repliesPerBlock; ++n)
            sink += decodeReply(bytes2BSTR(mix[std::size_t(n) % mix.size()])).size();
        const double seconds = msBetween(t0, Clock::now()) / 1000;
        if (b > 0) // the first block warms caches and the allocator
            rates.push_back(repliesPerBlock / seconds);
    }
    g_sink = sink;
    r.perSecond = summarize(rates);
    return r;
}

StartupResult measurePanelStartup(const QString& panelPath, int runs)
{
    StartupResult r;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        r.error = QStringLiteral("no temporary directory");
        return r;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The widget painter logs each flush to the screen; the first one of Form1 is its first frame.
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.widgets.painting=true"));

    std::vector<double> toFrame;
    std::vector<double> resident;
    for (int n = 0; n < runs + 1; ++n) {
        // A fresh line each run, so no port lock or buffered byte carries over.
        PseudoTerminal pty;
        if (!pty.open() || !pty.linkAs(dir.filePath(QStringLiteral("COM1")))) {
            r.error = QStringLiteral("no pseudo-terminal");
            return r;
        }
        QProcess panel;
        panel.setWorkingDirectory(dir.path());
        panel.setProcessEnvironment(env);
        panel.setStandardOutputFile(QProcess::nullDevice());
        panel.setReadChannel(QProcess::StandardError);
        const auto t0 = Clock::now();
        panel.start(panelPath, {});
        bool shown = false;
        Clock::time_point t1;
        const auto deadline = t0 + 10s;
        while (!shown && Clock::now() < deadline && panel.state() != QProcess::NotRunning) {
            if (!panel.waitForReadyRead(100))
                continue;
            while (!shown && panel.canReadLine()) {
                const QByteArray line = panel.readLine();
                if (line.contains("Flushing QRegion") && line.contains("name=\"Form1\"")) {
                    t1 = Clock::now();
                    shown = true;
                }
            }
        }
        const long kb = shown ? residentKb(panel.processId()) : -1;
        panel.terminate();
        if (!panel.waitForFinished(3000)) {
            panel.kill();
            panel.waitForFinished(3000);
        }
        if (!shown) {
            r.error = QStringLiteral("%1 showed no window").arg(panelPath);
            return r;
        }
        if (n > 0) { // the first run fills the page cache
            toFrame.push_back(msBetween(t0, t1));
            resident.push_back(double(kb));
        }
    }
    r.runs = runs;
    r.toFirstFrame = summarize(toFrame);
    r.residentKb = summarize(resident);
    return r;
}

MemoryResult measureMemoryInChild(const QString& benchPath, int entries)
{
    MemoryResult r;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(benchPath, {QStringLiteral("--memory-child"), QString::number(entries)});
    if (!child.waitForFinished(100'000) || child.exitCode() != 0) {
        child.kill();
        child.waitForFinished(3000);
        r.error = QStringLiteral("memory child failed");
        return r;
    }
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> kv = line.split(' ');
        if (kv.size() != 2)
            continue;
        const QByteArray& key = kv[0];
        const QByteArray& value = kv[1];
        if (key == "main_to_first_paint_ms")
            r.mainToFirstPaintMs = value.toDouble();
        else if (key == "rss_after_start_kb")
            r.residentAfterStartKb = value.toLong();
        else if (key == "rss_after_entries_kb")
            r.residentAfterEntriesKb = value.toLong();
        else if (key == "entries_s")
            r.entriesSeconds = value.toDouble();
        else if (key == "first_replies_ms")
            r.firstRepliesMs = value.toDouble();
        else if (key == "last_replies_ms")
            r.lastRepliesMs = value.toDouble();
        else if (key == "edge_replies")
            r.edgeReplies = value.toInt();
        else if (key == "log_chars")
            r.logChars = value.toLongLong();
    }
    r.entries = entries;
    return r;
}

int runMemoryChild(int entries, Clock::time_point mainEntered)
{
    QTemporaryDir dir;
    PseudoTerminal pty;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()) || !pty.open() ||
        !pty.linkAs(dir.filePath(QStringLiteral("COM1"))))
        return 2;
    // The same steps as the panel's main().
    QtSerialControl serial;
    CountingBoxes boxes;
    Form1 window(serial, boxes);
    PaintWatch watch;
    window.installEventFilter(&watch);
    window.load();
    window.show();
    const auto deadline = Clock::now() + 5s;
    while (!watch.painted && Clock::now() < deadline) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(100us);
    }
    if (!watch.painted)
        return 3;
    std::printf("main_to_first_paint_ms %.3f\n", msBetween(mainEntered, watch.at));
    runEventLoopFor(200ms);
    std::printf("rss_after_start_kb %ld\n", residentKbSelf());

    // Status replies through the window's own path (decode, four entries, lamps, select all),
    // each followed by the event loop as when it arrives from the line.
    MessageLog& log = *messageLogOf(window);
    ReplyIntake* intake = replyIntakeOf(window);
    const int replies = entries / 4;
    const int edge = std::max(1, std::min(1000, replies / 10));
    std::vector<double> firstReplies;
    std::vector<double> lastReplies;
    const auto t0 = Clock::now();
    for (int n = 0; n < replies; ++n) {
        const auto r0 = Clock::now();
        emit intake->replyText(QString::fromLatin1(reply::status(knownRouting(routingFor(n)))));
        QCoreApplication::processEvents();
        const double ms = msBetween(r0, Clock::now());
        if (n < edge)
            firstReplies.push_back(ms);
        else if (n >= replies - edge)
            lastReplies.push_back(ms);
    }
    std::printf("first_replies_ms %.4f\n", summarize(firstReplies).median);
    std::printf("last_replies_ms %.4f\n", summarize(lastReplies).median);
    std::printf("edge_replies %d\n", edge);
    std::printf("entries_s %.3f\n", msBetween(t0, Clock::now()) / 1000);
    runEventLoopFor(200ms);
    std::printf("rss_after_entries_kb %ld\n", residentKbSelf());
    std::printf("log_chars %lld\n", static_cast<long long>(log.text().size()));
    return 0;
}
