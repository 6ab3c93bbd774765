#pragma once

#include "config/switcherconfig.h"

#include <QStringList>

#include <variant>

// What the command line asks of matrixd.
struct DaemonOptions {
    SwitcherConfig config;
    bool check = false; // print the effective configuration and exit
    bool trace = false; // log the traffic too
};

struct DaemonExit {
    int status = 0;
    QString text; // for standard output when status is 0, else the one error line
};

// Reads --config FILE, or --port/--share/--poll without one; --mqtt HOST[:PORT],
// --videohub HOST[:PORT], --check, --trace. Every fault is found before any port is touched.
std::variant<DaemonOptions, DaemonExit> parseDaemonArguments(const QStringList& arguments);

