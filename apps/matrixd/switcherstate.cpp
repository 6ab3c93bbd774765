#include "switcherstate.h"

void SwitcherFacts::apply(const ReplyEffects& effects)
{
    for (const ReplyEffect& effect : effects) {
        if (effect.kind == ReplyEffect::Kind::Lamp)
            inputOfOutput.at(std::size_t(effect.output - 1)) = effect.input;
        else if (effect.kind == ReplyEffect::Kind::EdidSelection)
            edidMode = effect.mode;
    }
}

void SwitcherState::apply(const ReplyEffects& effects)
{
    const SwitcherFacts before = facts_;
    facts_.apply(effects);
    if (facts_ != before)
        emit changed(before);
}

void SwitcherState::setAnswering(bool answering)
{
    if (answering_ == answering)
        return;
    answering_ = answering;
    emit answeringChanged(answering);
}
