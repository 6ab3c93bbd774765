#pragma once

#include "replyshaper.h"
#include "switcher/switchermodel.h"

#include <QCommandLineParser>
#include <QString>

#include <optional>

struct SimOptions {
    int port = 1;
    QString dir; // empty: the working directory
    SwitcherModel::Routes routes{1, 1, 1, 1};
    int edidMode = 0;
    bool pacing = true;
    Faults faults;
    std::optional<int> hangupAfter;
    bool quiet = false;
};

// Declares the simulator's options on the parser.
void addSimOptions(QCommandLineParser& parser);
// Reads the options of a parsed command line; nothing and a message when one is out of range.
std::optional<SimOptions> readSimOptions(const QCommandLineParser& parser, QString& error);
