#include "edidechoes.h"

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
