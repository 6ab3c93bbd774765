#pragma once

#include "config/switcherconfig.h"
#include "switcher/replydecoder.h"
#include "switchercommands.h"
#include "switcherline.h"
#include "switcherstate.h"

#include <QObject>

class SerialControl;

// The service's core: one line, one state. Every surface sends through its commands and learns
// of changes from its state; each reply is decoded here, once.
class SwitcherService : public QObject, public SwitcherCommands {
    Q_OBJECT
public:
    SwitcherService(const SwitcherConfig& config, SerialControl& serial, SwitcherLine::Aim aim,
                    SwitcherLine::Diagnose diagnose, SwitcherLine::Timing timing,
                    QObject* parent = nullptr);
    ~SwitcherService() override;

    void start();
    void stop();

    const SwitcherConfig& config() const { return config_; }
    SwitcherState& state() { return state_; }
    SwitcherLine& line() { return line_; }

    void route(int output, int input, Done done) override;
    void selectEdidMode(int mode, Done done) override;
    void refresh(Done done) override;
    void applyPreset(const QString& name, Done done) override;

    // A client's own frame, which it reads the answer to itself.
    void submitFrame(const CommandFrame& frame, Origin origin, Done done);

signals:
    // A reply, decoded, with the origin of the command then on the line; the state has not
    // taken it yet, so whoever asked may note what it read before others hear of the change.
    void replyDecoded(Origin origin, const ReplyEffects& effects);
    void logLine(const QString& line);
    void traffic(const QString& line);

private:
    const SwitcherConfig& config_;
    SwitcherState state_;
    SwitcherLine line_;
};
