#include "rig.h"

#include "serial/replyintake.h"
#include "switcher/commandframe.h"
#include "switcher/replies.h"
#include "switcher/wire.h"
#include "window/form1.h"
#include "window/lamp.h"
#include "window/messagelog.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QWindow>

#include <thread>
#include <unistd.h>

namespace {

template <typename T> T* control(const QWidget& form, const QString& name = {})
{
    T* found = form.findChild<T*>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

} // namespace

LampGrid routingLamps(const QWidget& form)
{
    LampGrid lamps{};
    for (int output = 1; output <= 4; ++output) {
        for (int input = 1; input <= 4; ++input)
            lamps[std::size_t(output - 1)][std::size_t(input - 1)] = control<Lamp>(
                form, QStringLiteral("Shape%1_%2").arg(16 + output).arg(input - 1));
    }
    return lamps;
}

bool showsRouting(const LampGrid& lamps, const std::array<int, 4>& inputOfOutput)
{
    for (std::size_t o = 0; o < 4; ++o) {
        const int input = inputOfOutput[o];
        if (input < 1 || input > 4 || !lamps[o][std::size_t(input - 1)]->isLit())
            return false;
    }
    return true;
}

Lamp* connectedLamp(const QWidget& form)
{
    return control<Lamp>(form, QStringLiteral("Shape15"));
}

ReplyIntake* replyIntakeOf(const QWidget& form)
{
    return control<ReplyIntake>(form);
}

MessageLog* messageLogOf(const QWidget& form)
{
    return control<MessageLog>(form);
}

void runEventLoopFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        runEventLoopFor(std::chrono::milliseconds{5});
    }
    return true;
}

bool waitExposed(QWidget& widget, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!widget.windowHandle() || !widget.windowHandle()->isExposed()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
        // Short, so the moment of exposure is not blurred by the wait.
        std::this_thread::sleep_for(std::chrono::microseconds{100});
    }
    return true;
}

std::array<int, 4> routingFor(int iteration)
{
    std::array<int, 4> inputs{};
    for (int o = 0; o < 4; ++o)
        inputs[std::size_t(o)] = (iteration + o) % 4 + 1;
    return inputs;
}

Clock::time_point writePaced(PseudoTerminal& line, const QByteArray& bytes)
{
    line.write(bytes, wire::kByteTime);
    return Clock::now();
}

long residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

long residentKbSelf()
{
    return residentKb(QCoreApplication::applicationPid());
}

LiveWindow::LiveWindow() : previousDir_(QDir::currentPath())
{
    if (!dir_.isValid() || !QDir::setCurrent(dir_.path())) {
        error_ = QStringLiteral("no temporary directory");
        return;
    }
    if (!pty_.open() || !pty_.linkAs(dir_.filePath(QStringLiteral("COM1")))) {
        error_ = QStringLiteral("no pseudo-terminal");
        return;
    }
    form_ = std::make_unique<Form1>(serial_, boxes_);
    form_->load();
    form_->show();
    if (!waitExposed(*form_))
        error_ = QStringLiteral("window not exposed");
    else if (!connectedLamp(*form_)->isLit())
        error_ = QStringLiteral("COM1 did not open");
}

LiveWindow::~LiveWindow()
{
    form_.reset();
    QDir::setCurrent(previousDir_);
}

QString lineLink(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("line/COM1"));
}

QString shareLink(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("COM1"));
}

QStringList daemonArguments(const QTemporaryDir& dir, const QString& poll)
{
    return {QStringLiteral("--port"), lineLink(dir), QStringLiteral("--share"), shareLink(dir),
            QStringLiteral("--poll"), poll};
}

QString startSimulator(Tool& sim, const QString& simPath, const QTemporaryDir& dir,
                       const QStringList& extra, bool keepStdout)
{
    if (!QDir(dir.path()).mkpath(QStringLiteral("line")))
        return QStringLiteral("no temporary directory");
    if (!sim.start(simPath,
                   QStringList{QStringLiteral("--dir"), dir.filePath(QStringLiteral("line"))} +
                       extra,
                   keepStdout))
        return QStringLiteral("%1 did not start").arg(simPath);
    if (!waitUntil([&] { return QFileInfo(lineLink(dir)).isSymLink(); }, std::chrono::seconds{5}))
        return QStringLiteral("matrix-sim made no link: %1").arg(sim.tail());
    return {};
}

DaemonOnLine::DaemonOnLine(const QString& matrixdPath, const QStringList& moreArguments)
    : daemon_(dir_.filePath(QStringLiteral("matrixd.log")))
{
    using namespace std::chrono_literals;
    if (!dir_.isValid() || !QDir(dir_.path()).mkpath(QStringLiteral("line"))) {
        error_ = QStringLiteral("no temporary directory");
        return;
    }
    if (!line_.open() || !line_.linkAs(lineLink(dir_))) {
        error_ = QStringLiteral("no pseudo-terminal");
        return;
    }
    if (!daemon_.start(matrixdPath, daemonArguments(dir_, QStringLiteral("0")) + moreArguments)) {
        error_ = QStringLiteral("%1 did not start").arg(matrixdPath);
        return;
    }
    const QByteArray query = line_.read(5s, statusQueryFrame().size());
    if (query != statusQueryFrame()) {
        error_ = QStringLiteral("matrixd sent no status query at start-up: %1").arg(daemon_.tail());
        return;
    }
    line_.write(reply::status({1, 1, 1, 1}));
    // Past matrixd's settle wait: its line is idle again.
    runEventLoopFor(wire::kSettleWait + 70ms);
    if (!daemon_.running() || !QFileInfo(shareLink(dir_)).isSymLink())
        error_ = QStringLiteral("matrixd made no share: %1").arg(daemon_.tail());
}
