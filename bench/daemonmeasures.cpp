#include "daemonmeasures.h"

#include "switcher/wire.h"

#include "switcher/commandframe.h"
#include "switcher/replies.h"
#include "serial/replyintake.h"
#include "rig.h"
#include "window/form1.h"
#include "window/lamp.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// utime + stime of a process in clock ticks, from /proc; -1 when unreadable.
long cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The command name may hold spaces; the fields after it do not. utime and stime are the
    // 14th and 15th fields, the 12th and 13th after the name.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields[11].toLong() + fields[12].toLong();
}

// How long a process has been runnable but waiting for a CPU, in ms; -1 when unreadable.
double runQueueWaitMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(' ');
    return fields.size() < 2 ? -1 : double(fields[1].toLongLong()) / 1e6;
}

// The panel's window as the program builds it, opened in `dir`, whose COM1 someone else
// provides.
class WindowIn {
public:
    explicit WindowIn(const QString& dir)
    {
        const QString previous = QDir::currentPath();
        if (!QDir::setCurrent(dir)) {
            error_ = QStringLiteral("cannot enter %1").arg(dir);
            return;
        }
        form_ = std::make_unique<Form1>(serial_, boxes_);
        form_->load();
        QDir::setCurrent(previous);
        form_->show();
        if (!waitExposed(*form_))
            error_ = QStringLiteral("window not exposed");
        else if (!connectedLamp(*form_)->isLit())
            error_ = QStringLiteral("COM1 in %1 did not open").arg(dir);
    }

    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    Form1& form() { return *form_; }
    SerialControl& serial() { return serial_; }

private:
    QtSerialControl serial_;
    CountingBoxes boxes_;
    std::unique_ptr<Form1> form_;
    QString error_;
};

// One way to the switcher for measure 6a-6c, and what it collected.
struct Way {
    Form1* form = nullptr;
    LampGrid lamps{};
    ReplyIntake* intake = nullptr;
    SerialControl* serial = nullptr;
    PseudoTerminal* line = nullptr; // the switcher's end
    QPushButton* status = nullptr;
    int next = 0; // iteration of this way, for the routing it answers
    std::vector<double> toLamps;
    std::vector<double> pressToFrame;
    std::vector<double> toNotice;
    ShareLampResult::Side result;
};

} // namespace

ShareLampResult measureShareReplyToLamp(const QString& matrixdPath, int iterations)
{
    ShareLampResult r;
    DaemonOnLine daemon(matrixdPath);
    if (!daemon.ok()) {
        r.error = daemon.error();
        return r;
    }
    LiveWindow directWindow;
    if (!directWindow.ok()) {
        r.error = directWindow.error();
        return r;
    }
    WindowIn shareWindow(daemon.dir());
    if (!shareWindow.ok()) {
        r.error = shareWindow.error();
        return r;
    }
    Way direct;
    direct.form = &directWindow.form();
    direct.serial = &directWindow.serial();
    direct.line = &directWindow.line();
    Way share;
    share.form = &shareWindow.form();
    share.serial = &shareWindow.serial();
    share.line = &daemon.line();
    for (Way* way : {&direct, &share}) {
        way->status = way->form->findChild<QPushButton*>(QStringLiteral("Command6"));
        if (!way->status) {
            r.error = QStringLiteral("no status button Command6");
            return r;
        }
    }
    runEventLoopFor(50ms);

    Way* active = nullptr;
    std::array<int, 4> want{};
    int chunks = 0;
    bool done = false;
    bool notified = false;
    Clock::time_point litAt;
    Clock::time_point notifiedAt;
    QEventLoop loop;
    auto check = [&] {
        if (done || !active || !showsRouting(active->lamps, want))
            return;
        litAt = Clock::now();
        done = true;
        loop.quit();
    };
    for (Way* way : {&direct, &share}) {
        // Right after the window has applied a reply text (its own slot was connected first).
        way->lamps = routingLamps(*way->form);
        way->intake = replyIntakeOf(*way->form);
        QObject::connect(way->intake, &ReplyIntake::replyText, &loop, [&, way] {
            if (active != way)
                return;
            ++chunks;
            check();
        });
        QObject::connect(way->serial, &SerialControl::received, &loop, [&, way] {
            if (active == way && !notified) {
                notifiedAt = Clock::now();
                notified = true;
            }
        });
    }
    // ...and every millisecond, should the window ever apply a reply later than that.
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(1ms);
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    QTimer timeout;
    timeout.setSingleShot(true);
    timeout.setInterval(2s);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);

    // The first answers through matrixd wake code paths that are cold; they are not counted.
    constexpr int kWarmup = 3;
    const QByteArray query = statusQueryFrame();
    for (int n = 0; n < 2 * (iterations + kWarmup); ++n) {
        Way& way = n % 2 == 0 ? direct : share;
        const bool counted = n / 2 >= kWarmup;
        active = &way;
        want = routingFor(way.next++);
        const QByteArray status = reply::status(knownRouting(want));
        chunks = 0;
        done = false;
        notified = false;
        QByteArray frame;
        Clock::time_point frameAt;
        Clock::time_point first;
        Clock::time_point last;
        // The switcher: reads the query whole, then answers at 9600 baud.
        std::thread switcher([&] {
            frame = way.line->read(1s, query.size());
            frameAt = Clock::now();
            if (frame != query)
                return;
            first = Clock::now();
            last = writePaced(*way.line, status);
        });
        // The previous iteration's repaints do not belong to this one.
        QCoreApplication::processEvents();
        const auto pressAt = Clock::now();
        way.status->click();
        poll.start();
        timeout.start();
        loop.exec();
        poll.stop();
        timeout.stop();
        switcher.join();
        // Long enough for the rest of a split reply to come in as a second text, and for
        // matrixd's own settle wait to end, so its line is idle for the next press.
        runEventLoopFor(wire::kSettleWait + 10ms);
        active = nullptr;
        if (!counted)
            continue;
        ShareLampResult::Side& side = way.result;
        if (frame != query) {
            ++side.wrongFrames;
            ++side.timeouts;
            continue;
        }
        if (last - first >= wire::kSettleWait) {
            ++side.lineStalls;
            continue;
        }
        way.pressToFrame.push_back(msBetween(pressAt, frameAt));
        if (done) {
            way.toLamps.push_back(msBetween(first, litAt));
            way.toNotice.push_back(msBetween(first, notifiedAt));
        } else
            ++side.timeouts;
        if (chunks != 1)
            ++side.splitReplies;
    }
    for (Way* way : {&direct, &share}) {
        way->result.toLamps = summarize(way->toLamps);
        way->result.pressToFrame = summarize(way->pressToFrame);
        way->result.toNotice = summarize(way->toNotice);
    }
    r.direct = direct.result;
    r.share = share.result;
    r.iterations = iterations;
    r.warmups = kWarmup;
    return r;
}

ShareFrameResult measureShareFrameToLine(const QString& matrixdPath, int frames)
{
    ShareFrameResult r;
    DaemonOnLine daemon(matrixdPath);
    if (!daemon.ok()) {
        r.error = daemon.error();
        return r;
    }
    const int client = ::open(QFile::encodeName(daemon.sharePath()).constData(),
                              O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (client < 0) {
        r.error = QStringLiteral("cannot open the share: %1").arg(qt_error_string(errno));
        return r;
    }
    auto drain = [client] {
        char buffer[256];
        while (::read(client, buffer, sizeof buffer) > 0) {
        }
    };
    // matrixd notices the client by its open.
    runEventLoopFor(50ms);
    constexpr int kWarmup = 5;
    const qint64 pid = daemon.daemon().pid();
    const qint64 self = QCoreApplication::applicationPid(); // the thread that reads the line
    struct Sample {
        double ms;
        double waitMs;
        double selfWaitMs;
    };
    std::vector<Sample> samples;
    for (int n = 0; n < frames + kWarmup; ++n) {
        const int output = n % 4 + 1;
        const int input = (n / 4 + output) % 4 + 1;
        const CommandFrame frame = buttonCommandFrame(inputButtonIndex(output, input));
        drain();
        const double wait0 = runQueueWaitMs(pid);
        const double selfWait0 = runQueueWaitMs(self);
        const auto t0 = Clock::now();
        const ssize_t written = ::write(client, frame.constData(), std::size_t(frame.size()));
        const QByteArray got = daemon.line().read(500ms, frame.size());
        const auto t1 = Clock::now();
        const double wait1 = runQueueWaitMs(pid);
        const double selfWait1 = runQueueWaitMs(self);
        if (written != frame.size() || got != frame)
            ++r.wrongFrames;
        else if (n >= kWarmup)
            samples.push_back({msBetween(t0, t1), wait1 - wait0, selfWait1 - selfWait0});
        // The switcher confirms, and matrixd's settle wait ends: the line is idle again.
        daemon.line().write(reply::route(output, input));
        runEventLoopFor(wire::kSettleWait + 15ms);
    }
    drain();
    ::close(client);
    runEventLoopFor(20ms);
    r.unconfirmed = int(daemon.daemon().log().count(QStringLiteral("not confirmed")));
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.ms < b.ms; });
    std::vector<double> all;
    std::vector<double> slow;
    std::vector<double> slowWait;
    std::vector<double> slowSelfWait;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        all.push_back(samples[i].ms);
        if (i >= samples.size() - std::max<std::size_t>(1, samples.size() / 10)) {
            slow.push_back(samples[i].ms);
            slowWait.push_back(samples[i].waitMs);
            slowSelfWait.push_back(samples[i].selfWaitMs);
        }
    }
    r.toLine = summarize(all);
    r.slowTenth = summarize(slow);
    r.slowTenthWait = summarize(slowWait);
    r.slowTenthSelfWait = summarize(slowSelfWait);
    return r;
}

PollMemoryResult measurePollMemory(const QString& matrixdPath, const QString& simPath, int polls)
{
    PollMemoryResult r;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        r.error = QStringLiteral("no temporary directory");
        return r;
    }
    // The simulator's traffic log counts the polls it answered; matrixd itself logs nothing
    // per poll, so the count costs it nothing.
    Tool sim(dir.filePath(QStringLiteral("sim.log")));
    r.error = startSimulator(sim, simPath, dir, {QStringLiteral("--no-pacing")}, true);
    if (!r.error.isEmpty())
        return r;
    Tool daemon(dir.filePath(QStringLiteral("matrixd.log")));
    const auto t0 = Clock::now();
    if (!daemon.start(matrixdPath, daemonArguments(dir, QStringLiteral("0.001")))) {
        r.error = QStringLiteral("%1 did not start").arg(matrixdPath);
        return r;
    }
    const QByteArray mark = QByteArrayLiteral(" <- ") + statusQueryFrame().toHex(' ').toUpper();
    QProcess& out = sim.process();
    r.firstAt = std::max(1, std::min(1000, polls / 10));
    long firstTicks = 0;
    Clock::time_point firstTime;
    int count = 0;
    while (count < polls) {
        if (!out.canReadLine() && !out.waitForReadyRead(2000)) {
            r.error = QStringLiteral("no poll for 2 s after %1: %2").arg(count).arg(daemon.tail());
            return r;
        }
        while (count < polls && out.canReadLine()) {
            if (!out.readLine().contains(mark))
                continue;
            ++count;
            if (count == r.firstAt) {
                r.firstKb = residentKb(daemon.pid());
                firstTicks = cpuTicks(daemon.pid());
                firstTime = Clock::now();
                r.maxKb = r.firstKb;
            }
            if (count % 1000 == 0) {
                r.maxKb = std::max(r.maxKb, residentKb(daemon.pid()));
                std::fprintf(stderr, "matrix-bench: 6e %d of %d polls\n", count, polls);
            }
        }
    }
    r.lastKb = residentKb(daemon.pid());
    const long lastTicks = cpuTicks(daemon.pid());
    const auto end = Clock::now();
    r.maxKb = std::max(r.maxKb, r.lastKb);
    r.seconds = msBetween(t0, end) / 1000;
    const double span = msBetween(firstTime, end) / 1000;
    if (span > 0)
        r.cpuPercent =
            100.0 * double(lastTicks - firstTicks) / double(::sysconf(_SC_CLK_TCK)) / span;
    r.polls = count;
    if (r.firstKb <= 0 || r.lastKb <= 0)
        r.error = QStringLiteral("matrixd's memory unreadable");
    return r;
}

IdleCpuResult measureIdleCpu(const QString& matrixdPath, const QString& simPath,
                             std::chrono::seconds span)
{
    IdleCpuResult r;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        r.error = QStringLiteral("no temporary directory");
        return r;
    }
    Tool sim(dir.filePath(QStringLiteral("sim.log")));
    r.error = startSimulator(sim, simPath, dir, {QStringLiteral("--quiet")}, false);
    if (!r.error.isEmpty())
        return r;
    Tool daemon(dir.filePath(QStringLiteral("matrixd.log")));
    if (!daemon.start(matrixdPath, daemonArguments(dir, QStringLiteral("5")))) {
        r.error = QStringLiteral("%1 did not start").arg(matrixdPath);
        return r;
    }
    // Start-up (loading, the line opened, the first status query answered) is not idling.
    runEventLoopFor(1500ms);
    if (!daemon.log().contains(QStringLiteral("switcher answering"))) {
        r.error = QStringLiteral("matrixd did not reach the switcher: %1").arg(daemon.tail());
        return r;
    }
    const long ticks0 = cpuTicks(daemon.pid());
    const auto t0 = Clock::now();
    runEventLoopFor(span);
    const long ticks1 = cpuTicks(daemon.pid());
    r.seconds = msBetween(t0, Clock::now()) / 1000;
    r.residentKb = residentKb(daemon.pid());
    if (ticks0 < 0 || ticks1 < 0 || !daemon.running()) {
        r.error = QStringLiteral("matrixd's CPU time unreadable: %1").arg(daemon.tail());
        return r;
    }
    r.ticks = ticks1 - ticks0;
    r.ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    r.percent = 100.0 * double(r.ticks) / double(r.ticksPerSecond) / r.seconds;
    return r;
}
