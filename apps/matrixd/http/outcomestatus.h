#pragma once

#include "switchercommands.h"

// The HTTP status that tells a client how its command ended: 200 confirmed, 504 when the
// switcher did not confirm in time, 404 for what does not exist, else 503 (the switcher or its
// line cannot take commands now).
int statusForOutcome(const SwitcherCommands::Outcome& outcome);
