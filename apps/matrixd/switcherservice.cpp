#include "switcherservice.h"

#include "switcher/presetrun.h"

SwitcherService::SwitcherService(const SwitcherConfig& config, SerialControl& serial,
                                 SwitcherLine::Aim aim, SwitcherLine::Diagnose diagnose,
                                 SwitcherLine::Timing timing, QObject* parent)
    : QObject(parent), config_(config),
      line_(serial, std::move(aim), std::move(diagnose), timing)
{
    connect(&line_, &SwitcherLine::logLine, this, &SwitcherService::logLine);
    connect(&line_, &SwitcherLine::traffic, this, &SwitcherService::traffic);
    connect(&line_, &SwitcherLine::opened, this,
            [this] { emit logLine(QStringLiteral("line open: %1").arg(config_.port)); });
    connect(&line_, &SwitcherLine::closed, this, [this](const QString& why) {
        emit logLine(QStringLiteral("line closed: %1").arg(why));
    });
    connect(&line_, &SwitcherLine::answeringChanged, &state_, &SwitcherState::setAnswering);
    connect(&line_, &SwitcherLine::replyText, this, [this](Origin origin, const QString& text) {
        const ReplyEffects effects = decodeReply(text);
        emit replyDecoded(origin, effects);
        state_.apply(effects);
    });
}

SwitcherService::~SwitcherService()
{
    stop();
}

void SwitcherService::start()
{
    line_.start();
}

void SwitcherService::stop()
{
    line_.stop();
}

void SwitcherService::route(int output, int input, Done done)
{
    line_.submit(buttonCommandFrame(inputButtonIndex(output, input)), kServiceOrigin,
                 std::move(done));
}

void SwitcherService::selectEdidMode(int mode, Done done)
{
    line_.submit(edidModeFrame(mode), kServiceOrigin, std::move(done));
}

void SwitcherService::refresh(Done done)
{
    line_.submit(statusQueryFrame(), kServiceOrigin, std::move(done));
}

void SwitcherService::submitFrame(const CommandFrame& frame, Origin origin, Done done)
{
    line_.submit(frame, origin, std::move(done));
}

void SwitcherService::applyPreset(const QString& name, Done done)
{
    const Preset* preset = config_.presetNamed(name);
    if (!preset) {
        if (done)
            done({false, QStringLiteral("no preset \"%1\"").arg(name)});
        return;
    }
    const QString presetName = preset->name;
    presetrun::run(
        presetName, preset->inputOfOutput,
        [this](int output, int input, const presetrun::StepDone& stepDone) {
            route(output, input,
                  [stepDone](const Outcome& outcome) { stepDone(outcome.confirmed, outcome.problem); });
        },
        [this, presetName, done = std::move(done)](bool applied, const QString& stop) {
            if (applied)
                emit logLine(QStringLiteral("preset \"%1\" applied").arg(presetName));
            if (done)
                done({applied, stop});
        });
}
