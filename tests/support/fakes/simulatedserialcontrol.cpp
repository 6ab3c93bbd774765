#include "simulatedserialcontrol.h"

SimulatedSerialControl::SimulatedSerialControl(QObject* parent) : FakeSerialControl(parent)
{
    replyTimer_.setSingleShot(true);
    connect(&replyTimer_, &QTimer::timeout, this, [this] {
        if (replies_.empty())
            return;
        feed(replies_.front());
        replies_.pop_front();
        if (!replies_.empty())
            replyTimer_.start(replyDelay);
    });
}

bool SimulatedSerialControl::write(const QByteArray& bytes)
{
    if (!FakeSerialControl::write(bytes))
        return false;
    for (const SwitcherModel::Exchange& exchange : model.receive(bytes)) {
        if (!silent)
            answer(exchange.reply);
    }
    return true;
}

void SimulatedSerialControl::frontPanelRoute(int output, int input)
{
    answer(model.frontPanelRoute(output, input));
}

void SimulatedSerialControl::answer(const QByteArray& reply)
{
    if (reply.isEmpty())
        return;
    replies_.push_back(reply);
    if (!replyTimer_.isActive())
        replyTimer_.start(replyDelay);
}
