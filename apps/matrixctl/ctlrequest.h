#pragma once

#include "switcher/presetrun.h"

#include "config/switcherconfig.h"
#include "switcher/commandframe.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace ctl {

// The exit status of matrixctl; scripts rely on these numbers.
enum ExitCode : int {
    kOk = 0,
    kBadArguments = 2,
    kPortFailed = 3, // cannot be opened, written, or went away
    kNoReply = 4,
    kWrongReply = 5,
};

enum class Command { Status, Route, Step, Edid, Watch, Detect, Preset };

using PortSpec = PortName;

inline constexpr std::chrono::milliseconds kDefaultTimeout{500};

struct Request {
    Command command = Command::Status;
    int output = 0;                           // route, step: 1..4
    int input = 0;                            // route: 1..4
    ButtonRole arrow = ButtonRole::LeftArrow; // step
    int mode = 0;                             // edid: 0..10
    bool json = false;
    std::optional<PortSpec> port; // --port; else --config's first share or port; else "COMPORT"
    QString presetName;                           // preset
    presetrun::Routes presetRoutes;               // preset: the input of each output it sets
    std::chrono::milliseconds timeout = kDefaultTimeout;
};

struct ParseResult {
    enum class Kind { Run, Help, Version, Error };
    Kind kind = Kind::Error;
    Request request;
    QString text; // help text, or the reason the arguments were refused
};

// arguments[0] is the program name, as QCoreApplication::arguments() gives it.
ParseResult parseCommandLine(const QStringList& arguments);

// The port "COMPORT" names: its index plus one, COM1 when the file is missing (nullopt).
PortSpec portFromFile(std::optional<int> rememberedIndex);

// The request of one route of a preset.
Request presetStep(const Request& preset, int output, int input);

// The frame a request sends; nothing for watch, detect and preset (a series of routes).
std::optional<CommandFrame> requestFrame(const Request& request);

} // namespace ctl
