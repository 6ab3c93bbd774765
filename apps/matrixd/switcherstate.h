#pragma once

#include "switcher/commandframe.h"
#include "switcher/replydecoder.h"

#include <QObject>

#include <array>
#include <optional>

// What the service knows of the switcher: the input of each output and the EDID mode, each
// unknown until a reply or a confirmed command names it, and whether the switcher answers.
// Every client (virtual ports, MQTT) observes this one model.
struct SwitcherFacts {
    std::array<std::optional<int>, kOutputCount> inputOfOutput{}; // 1..4
    std::optional<int> edidMode;                                   // 0..10

    std::optional<int> input(int output) const { return inputOfOutput.at(std::size_t(output - 1)); }
    // Applies the lamps and EDID selections of a decoded reply, as the panel would.
    void apply(const ReplyEffects& effects);

    friend bool operator==(const SwitcherFacts&, const SwitcherFacts&) = default;
};

class SwitcherState : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const SwitcherFacts& facts() const { return facts_; }
    std::optional<int> input(int output) const { return facts_.input(output); }
    std::optional<int> edidMode() const { return facts_.edidMode; }
    bool isAnswering() const { return answering_; }

    // Applies a decoded reply; emits changed() when anything is new.
    void apply(const ReplyEffects& effects);
    void setAnswering(bool answering);

signals:
    // Routes or EDID mode differ from `before`.
    void changed(const SwitcherFacts& before);
    void answeringChanged(bool answering);

private:
    SwitcherFacts facts_;
    bool answering_ = false;
};
