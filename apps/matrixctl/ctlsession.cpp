#include "ctlsession.h"

#include "switcher/wire.h"

#include "ctlreply.h"
#include "serial/portnames.h"
#include "serial/serialcontrol.h"

#include <QDateTime>

#include <algorithm>

namespace ctl {

Session::Session(SerialControl& serial, const Request& request, const QString& portName,
                 QObject* parent)
    : QObject(parent), serial_(serial), request_(request), portName_(portName), intake_(serial)
{
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        finish(kNoReply, {},
               QStringLiteral("no reply from %1 within %2 ms")
                   .arg(portName_)
                   .arg(request_.timeout.count()));
    });
    connect(&intake_, &ReplyIntake::replyText, this, &Session::onReply);
    connect(&serial_, &SerialControl::deviceLost, this,
            [this] { finish(kPortFailed, {}, QStringLiteral("%1 went away").arg(portName_)); });
}

void Session::start()
{
    serial_.setSettings(wire::kLineSettings);
    serial_.setInputLength(0);
    serial_.setReceiveThreshold(1);
    if (!serial_.open()) {
        finish(kPortFailed, {},
               QStringLiteral("cannot open %1: missing, held by another program, or not permitted")
                   .arg(portName_));
        return;
    }
    const auto frame = requestFrame(request_);
    if (!frame)
        return; // watch: only listens
    if (!serial_.write(*frame)) {
        finish(kPortFailed, {}, QStringLiteral("cannot write to %1").arg(portName_));
        return;
    }
    deadline_.start(request_.timeout);
}

void Session::stop()
{
    finish(kOk, {});
}

void Session::onReply(const QString& text)
{
    if (isFinished())
        return;
    if (request_.command == Command::Watch) {
        const QString lines = watchLines(text, QDateTime::currentDateTime(), request_.json);
        if (!lines.isEmpty())
            emit printed(lines);
        return;
    }
    const Judgement judgement = judgeReply(request_, text);
    if (judgement.confirmed)
        finish(kOk, judgement.output);
    else
        finish(kWrongReply, {}, QStringLiteral("%1 from %2").arg(judgement.problem, portName_));
}

void Session::finish(int exitCode, const QString& output, const QString& error)
{
    if (isFinished())
        return;
    deadline_.stop();
    serial_.close();
    outcome_ = Outcome{exitCode, output, error};
    emit finished();
}

Detector::Detector(PortFactory factory, std::chrono::milliseconds timeout, bool json,
                   QObject* parent)
    : QObject(parent), factory_(std::move(factory)), timeout_(timeout), json_(json)
{
}

Detector::~Detector() = default;

void Detector::start()
{
    Request status;
    status.command = Command::Status;
    status.timeout = timeout_;
    for (int n = kFirstPortNumber; n <= kLastPortNumber; ++n) {
        Probe probe{n, factory_(n), nullptr};
        probe.session = std::make_unique<Session>(*probe.serial, status, portLabel(n));
        connect(probe.session.get(), &Session::finished, this, &Detector::probeFinished);
        probes_.push_back(std::move(probe));
    }
    // Every probe is waiting before the first can end the detection.
    for (auto& probe : probes_)
        probe.session->start();
}

void Detector::probeFinished()
{
    if (isFinished() || probes_.size() != std::size_t(kLastPortNumber) ||
        !std::all_of(probes_.begin(), probes_.end(),
                     [](const Probe& p) { return p.session->isFinished(); }))
        return;
    QStringList found;
    for (const auto& probe : probes_) {
        if (probe.session->outcome().exitCode == kOk)
            found << portLabel(probe.portNumber);
    }
    outcome_ = found.isEmpty() ? Outcome{kNoReply, detectOutput(found, json_),
                                         QStringLiteral("no switcher answered on COM%1 to COM%2")
                                             .arg(kFirstPortNumber)
                                             .arg(kLastPortNumber)}
                               : Outcome{kOk, detectOutput(found, json_), {}};
    emit finished();
}

} // namespace ctl
