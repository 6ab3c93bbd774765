#pragma once

#include "fakeserialcontrol.h"
#include "switcher/switchermodel.h"

#include <QTimer>

#include <chrono>
#include <deque>

// The switcher in process, behind the serial interface: every frame written is answered by the
// switcher model, unpaced, `replyDelay` later. Faults on demand: a silent switcher, a failed
// write or open, a device that goes away (see FakeSerialControl).
class SimulatedSerialControl : public FakeSerialControl {
    Q_OBJECT
public:
    explicit SimulatedSerialControl(QObject* parent = nullptr);

    bool write(const QByteArray& bytes) override;

    // A change on the switcher's own front panel, announced on the line.
    void frontPanelRoute(int output, int input);

    SwitcherModel model;
    bool silent = false; // takes frames, answers nothing
    std::chrono::milliseconds replyDelay{0};

private:
    void answer(const QByteArray& reply);

    std::deque<QByteArray> replies_;
    QTimer replyTimer_;
};
