#include "outcomestatus.h"

int statusForOutcome(const SwitcherCommands::Outcome& outcome)
{
    if (outcome.confirmed)
        return 200;
    if (outcome.replaced)
        return 409;
    // The service tells outcomes apart by their words only.
    if (outcome.problem.contains(QStringLiteral("no reply within")))
        return 504;
    if (outcome.problem.startsWith(QStringLiteral("no preset")))
        return 404;
    return 503;
}
