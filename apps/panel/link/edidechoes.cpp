#include "edidechoes.h"

#include "switcher/commandframe.h"

#include <algorithm>

void EdidEchoes::sent(int mode, Clock::time_point now)
{
    if (pending_.size() == kMostPending)
        pending_.pop_front();
    pending_.push_back({mode, now});
}

bool EdidEchoes::answers(int mode, Clock::time_point now)
{
    while (!pending_.empty() && now - pending_.front().sentAt > kAnswerTime)
        pending_.pop_front();
    const auto found = std::find_if(pending_.begin(), pending_.end(),
                                    [mode](const Pending& p) { return p.mode == mode; });
    if (found == pending_.end())
        return false;
    pending_.erase(found);
    return true;
}

EdidFollow EdidEchoes::replied(int mode, int selected, Clock::time_point now)
{
    if (mode < 0 || mode >= kEdidModeCount)
        return EdidFollow::Nothing;
    // Answered even when nothing changes, so that a later answer is not taken for this one's.
    const bool ours = answers(mode, now);
    if (mode == selected)
        return EdidFollow::Nothing;
    if (ours)
        return EdidFollow::Select;
    sent(mode, now);
    return EdidFollow::SelectAndSend;
}
