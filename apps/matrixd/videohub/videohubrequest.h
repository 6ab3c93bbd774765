#pragma once

#include "videohubblock.h"

#include <QList>
#include <QString>

// What a block from a client asks for. Only a routing block whose every item is valid leads to
// commands; everything else is answered from what the service already knows.
struct VideohubRequest {
    enum class Kind {
        Ping,
        StatusDump,     // a status block's header alone: send that block
        Routes,         // routes to make, in order
        InvalidRoutes,  // a routing block with an item that names no output or input
        ReadOnlyChange, // labels, locks, the device or its configuration: not ours to change
        Unknown,
    };
    struct Route {
        int output = 0; // 1..4
        int input = 0;  // 1..4
        friend bool operator==(const Route&, const Route&) = default;
    };

    Kind kind = Kind::Unknown;
    QString header;      // the block's header line
    QList<Route> routes; // Routes
    QString problem;     // InvalidRoutes: which item, for the log line

    static VideohubRequest parse(const VideohubBlock& block);
};
