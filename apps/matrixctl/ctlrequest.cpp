#include "ctlrequest.h"

#include "config/switcherconfigreader.h"
#include "config/usageline.h"

#include "serial/portfile.h"
#include "serial/portnames.h"
#include "switcher/names.h"

#include <QCommandLineParser>

namespace ctl {

namespace {

const QString kPortOption = QStringLiteral("port");
const QString kTimeoutOption = QStringLiteral("timeout");
const QString kJsonOption = QStringLiteral("json");
const QString kConfigOption = QStringLiteral("config");
constexpr int kMaxTimeoutMs = 3'600'000;

QString description()
{
    QString captions;
    for (int mode = 0; mode < kEdidModeCount; ++mode) {
        captions += QStringLiteral("\"%1\"").arg(edidCaption(mode));
        if (mode + 1 < kEdidModeCount)
            captions += mode % 4 == 3 ? QStringLiteral(",\n                          ")
                                      : QStringLiteral(", ");
    }
    return QStringLiteral(
               "Controls a 4x4 HDMI matrix switcher on a serial line (9600 8N1).\n"
               "\n"
               "Commands:\n"
               "  status                  print the input of outputs A to D\n"
               "  route OUTPUT INPUT      route INPUT (1-4) to OUTPUT (A-D or 1-4)\n"
               "  step OUTPUT left|right  press an arrow button of OUTPUT\n"
               "  edid MODE               set the EDID mode: 0-10 or a caption\n"
               "                          %1\n"
               "  watch                   print every reply as it arrives, until interrupted\n"
               "  detect                  list the ports COM1-COM10 where a switcher answers\n"
               "  preset NAME             route the outputs of a preset of --config, in turn\n"
               "\n"
               "With --config, OUTPUT and INPUT may be the names the file gives them.\n"
               "Without --port the port is --config's first share (else its port), or the one\n"
               "remembered in the file COMPORT of the working directory (COM1 when there is\n"
               "none); matrixctl never writes it.\n"
               "\n"
               "Exit status: 0 confirmed, 2 bad arguments, 3 port cannot be opened or used,\n"
               "4 no reply within the timeout, 5 wrong reply.")
        .arg(captions);
}

ParseResult refuse(const QString& reason)
{
    return {ParseResult::Kind::Error, {}, reason};
}

// Reads the command's own arguments into the request; an error text when they do not fit.
QString readCommand(const QStringList& args, const SwitcherConfig& config, Request& r)
{
    const QString& name = args.first();
    const QStringList rest = args.mid(1);
    auto arity = [&](qsizetype count, const QString& usage) {
        return rest.size() == count ? QString() : QStringLiteral("%1 takes %2").arg(name, usage);
    };
    if (name == u"status" || name == u"watch" || name == u"detect") {
        r.command = name == u"status"  ? Command::Status
                    : name == u"watch" ? Command::Watch
                                       : Command::Detect;
        return arity(0, QStringLiteral("no arguments"));
    }
    if (name == u"route") {
        r.command = Command::Route;
        if (auto e = arity(2, QStringLiteral("OUTPUT INPUT")); !e.isEmpty())
            return e;
        const auto output = config.outputNamed(rest[0]);
        if (!output)
            return QStringLiteral("OUTPUT is A to D, 1 to 4 or a configured name, not \"%1\"")
                .arg(rest[0]);
        const auto input = config.inputNamed(rest[1]);
        if (!input)
            return QStringLiteral("INPUT is 1 to 4 or a configured name, not \"%1\"").arg(rest[1]);
        r.output = *output;
        r.input = *input;
        return {};
    }
    if (name == u"step") {
        r.command = Command::Step;
        if (auto e = arity(2, QStringLiteral("OUTPUT left|right")); !e.isEmpty())
            return e;
        const auto output = config.outputNamed(rest[0]);
        if (!output)
            return QStringLiteral("OUTPUT is A to D, 1 to 4 or a configured name, not \"%1\"")
                .arg(rest[0]);
        const QString direction = rest[1].toLower();
        if (direction != u"left" && direction != u"right")
            return QStringLiteral("step goes left or right, not \"%1\"").arg(rest[1]);
        r.output = *output;
        r.arrow = direction == u"left" ? ButtonRole::LeftArrow : ButtonRole::RightArrow;
        return {};
    }
    if (name == u"edid") {
        r.command = Command::Edid;
        // An unquoted caption arrives as several words.
        const QString mode = rest.join(u' ');
        if (mode.isEmpty())
            return QStringLiteral("edid takes MODE");
        if (const auto named = edidModeNamed(mode))
            r.mode = *named;
        else
            return QStringLiteral("MODE is 0 to 10 or an option's caption such as \"%1\", not "
                                  "\"%2\"")
                .arg(edidCaption(6), mode);
        return {};
    }
    if (name == u"preset") {
        r.command = Command::Preset;
        const QString wanted = rest.join(u' ');
        if (wanted.isEmpty())
            return QStringLiteral("preset takes NAME");
        if (config.file.isEmpty())
            return QStringLiteral("preset needs --config FILE, where presets are named");
        const Preset* preset = config.presetNamed(wanted);
        if (!preset)
            return QStringLiteral("%1 has no preset \"%2\"").arg(config.file, wanted);
        r.presetName = preset->name;
        r.presetRoutes = preset->inputOfOutput;
        return {};
    }
    return QStringLiteral("unknown command \"%1\"").arg(name);
}

} // namespace

ParseResult parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description());
    const auto help = parser.addHelpOption();
    const auto version = parser.addVersionOption();
    parser.addOptions({
        {kPortOption,
         QStringLiteral("COM1 to COM10, or a device path. Default: the port in COMPORT."),
         QStringLiteral("port")},
        {kTimeoutOption,
         QStringLiteral("How long to wait for the switcher's reply, in ms (default %1).")
             .arg(kDefaultTimeout.count()),
         QStringLiteral("ms"), QString::number(kDefaultTimeout.count())},
        {kJsonOption, QStringLiteral("Print JSON instead of text.")},
        {kConfigOption,
         QStringLiteral("matrixd's configuration: names, presets, and the port to use."),
         QStringLiteral("file")},
    });
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("status, route, step, edid, watch, detect or preset."),
                                 QStringLiteral("command [arguments]"));
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        return {ParseResult::Kind::Help, {}, helpNamingProgram(parser, QStringLiteral("matrixctl"))};
    }
    if (parser.isSet(version))
        return {ParseResult::Kind::Version, {}, {}};

    Request r;
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return refuse(QStringLiteral("no command given; see --help"));
    SwitcherConfig config;
    if (parser.isSet(kConfigOption)) {
        auto loaded = loadSwitcherConfig(parser.value(kConfigOption));
        if (auto* error = std::get_if<ConfigError>(&loaded))
            return refuse(error->text);
        config = std::get<SwitcherConfig>(std::move(loaded));
        // The service holds the line: its first virtual port is the way to the switcher.
        const QString port = config.shares.isEmpty() ? config.port : config.shares.first();
        if (!port.isEmpty())
            r.port = parsePortName(port);
    }
    if (auto error = readCommand(positional, config, r); !error.isEmpty())
        return refuse(error);

    r.json = parser.isSet(kJsonOption);
    const auto timeout = wholeNumberIn(parser.value(kTimeoutOption), 1, kMaxTimeoutMs);
    if (!timeout)
        return refuse(QStringLiteral("--timeout takes 1 to %1 ms, not \"%2\"")
                          .arg(kMaxTimeoutMs)
                          .arg(parser.value(kTimeoutOption)));
    r.timeout = std::chrono::milliseconds{*timeout};
    if (parser.isSet(kPortOption)) {
        if (r.command == Command::Detect)
            return refuse(QStringLiteral("detect tries COM1 to COM10 and takes no --port"));
        r.port = parsePortName(parser.value(kPortOption));
        if (!r.port)
            return refuse(QStringLiteral("--port takes COM1 to COM10 or a device path, not \"%1\"")
                              .arg(parser.value(kPortOption)));
    }
    return {ParseResult::Kind::Run, r, {}};
}

PortSpec portFromFile(std::optional<int> rememberedIndex)
{
    return PortSpec{rememberedIndex.value_or(0) + kFirstPortNumber, {}};
}

Request presetStep(const Request& preset, int output, int input)
{
    Request step = preset;
    step.command = Command::Route;
    step.output = output;
    step.input = input;
    return step;
}

std::optional<CommandFrame> requestFrame(const Request& request)
{
    switch (request.command) {
    case Command::Status:
        return statusQueryFrame();
    case Command::Route:
        return buttonCommandFrame(inputButtonIndex(request.output, request.input));
    case Command::Step:
        return buttonCommandFrame(arrowButtonIndex(request.output, request.arrow));
    case Command::Edid:
        return edidModeFrame(request.mode);
    case Command::Watch:
    case Command::Detect:
    case Command::Preset:
        break;
    }
    return std::nullopt;
}

} // namespace ctl
