#include "announcement.h"

#include "switcher/replies.h"

QByteArray nextAnnouncement(const SwitcherFacts& known, const SwitcherFacts& now)
{
    QList<int> changed;
    for (int output = 1; output <= kOutputCount; ++output) {
        if (now.input(output) && now.input(output) != known.input(output))
            changed.append(output);
    }
    if (changed.size() == 1)
        return reply::route(changed.first(), *now.input(changed.first()));
    if (changed.size() > 1)
        return reply::status(now.inputOfOutput);
    if (now.edidMode && now.edidMode != known.edidMode)
        return reply::edid(*now.edidMode);
    return {};
}
