#pragma once

#include "config/switcherconfig.h"
#include "switchercommands.h"
#include "switcherline.h"
#include "switcherstate.h"
#include "virtualport.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

class SerialControl;

// The service's heart: one line, one state, the virtual ports around them. Frames from a
// virtual port go on the line in turn and the switcher's answer goes back to that port as it
// arrives; what changed is told to every other port as the switcher's own reply texts.
class Switchboard : public QObject, public SwitcherCommands {
    Q_OBJECT
public:
    // Announcements to one client keep at least this far apart, and this far from the
    // client's own reply: longer than a client's settle wait, so each is read as its own text.
    static constexpr std::chrono::milliseconds kAnnouncementGap{60};

    Switchboard(const SwitcherConfig& config, SerialControl& serial, SwitcherLine::Aim aim,
                SwitcherLine::Diagnose diagnose, SwitcherLine::Timing timing,
                QObject* parent = nullptr);
    ~Switchboard() override;

    // Links every virtual port; on failure nothing stays linked and `error` names the share.
    bool openShares(QString& error);
    void start();
    void stop();

    SwitcherState& state() { return state_; }
    SwitcherLine& line() { return line_; }

    void route(int output, int input, Done done) override;
    void selectEdidMode(int mode, Done done) override;
    void refresh(Done done) override;
    void applyPreset(const QString& name, Done done) override;

signals:
    void logLine(const QString& line);
    void traffic(const QString& line);

private:
    struct Client {
        std::unique_ptr<VirtualPort> port;
        SwitcherFacts known; // what this client has been told or read itself
        std::chrono::steady_clock::time_point quietUntil{};
        QTimer announceLater;
    };

    void onFrame(int index, const QByteArray& frame);
    void onReplyText(Origin origin, const QString& text);
    void announce(int index);
    void announceToAll();
    void runPresetStep(const Preset& preset, int output, Done done);

    const SwitcherConfig& config_;
    SwitcherState state_;
    SwitcherLine line_;
    std::vector<std::unique_ptr<Client>> clients_;
};
