#pragma once

#include "switcherstate.h"

#include <QByteArray>

// What a client that last knew `known` must be told to know `now`, one reply text at a time,
// written as the switcher's own replies so that the panel follows with no change: one changed
// output as a route reply, several as a whole status reply (a client reads a route reply by
// position, so "s22s30" would lose C), the EDID mode as an EDID reply. Empty when the client
// knows everything there is to know. Texts must reach the client more than a settle wait apart.
QByteArray nextAnnouncement(const SwitcherFacts& known, const SwitcherFacts& now);
