#pragma once

#include "switcher/escaping.h"
#include "switcher/routing.h"

#include "ctlrequest.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <optional>

namespace ctl {

// What one reply text means for a waiting request.
struct Judgement {
    bool confirmed = false;
    QString output;  // on confirmation: what to print, ending in a line break
    QString problem; // otherwise: why the reply does not confirm the request
};

// The first reply text after a request decides it: the reply the request asks for confirms it,
// any other text is a wrong reply. Only status, route, step and edid wait for replies.
Judgement judgeReply(const Request& request, const QString& text);

// "A <- 1" ... one line per output; "?" where the reply carried no usable input.
QString statusText(const Routing& routing);
// {"A":1,"B":3,"C":null,"D":4}
QString statusJson(const Routing& routing);


// What `watch` prints for one reply text: one time-stamped line per line the panel's log gains
// (free text escaped), nothing for a reply the log does not show; with json, one JSON line for
// every reply text.
QString watchLines(const QString& text, const QDateTime& time, bool json);

// The ports where a switcher answered: one "COM<n>" a line, or {"ports":[...]}.
QString detectOutput(const QStringList& ports, bool json);

} // namespace ctl
