#include "simoptions.h"

namespace {

const QString kPort = QStringLiteral("port");
const QString kDir = QStringLiteral("dir");
const QString kRoutes = QStringLiteral("routes");
const QString kEdid = QStringLiteral("edid");
const QString kNoPacing = QStringLiteral("no-pacing");
const QString kSplitGap = QStringLiteral("split-gap");
const QString kNoise = QStringLiteral("noise");
const QString kHighBit = QStringLiteral("high-bit");
const QString kSilent = QStringLiteral("silent");
const QString kDelay = QStringLiteral("delay");
const QString kHangupAfter = QStringLiteral("hangup-after");
const QString kQuiet = QStringLiteral("quiet");

// The option's value as a whole number within [low, high], if it is one.
std::optional<int> number(const QCommandLineParser& parser, const QString& name, int low, int high,
                          QString& error)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < low || value > high) {
        error = QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                    .arg(name)
                    .arg(low)
                    .arg(high)
                    .arg(parser.value(name));
        return std::nullopt;
    }
    return value;
}

} // namespace

void addSimOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {kPort, QStringLiteral("Link the line as COM<n> (default 1)."), QStringLiteral("n"),
         QStringLiteral("1")},
        {kDir, QStringLiteral("Make the link in this directory (default: the working directory)."),
         QStringLiteral("dir")},
        {kRoutes,
         QStringLiteral("Initial input of outputs 1 to 4, four digits 1-4 (default 1111)."),
         QStringLiteral("digits"), QStringLiteral("1111")},
        {kEdid, QStringLiteral("Initial EDID mode 0-10 (default 0)."), QStringLiteral("mode"),
         QStringLiteral("0")},
        {kNoPacing, QStringLiteral("Send replies at once instead of about 1.04 ms a byte.")},
        {kSplitGap, QStringLiteral("Send each reply in two halves, this many ms apart."),
         QStringLiteral("ms")},
        {kNoise, QStringLiteral("Put the noise bytes \"#?%\" before each reply.")},
        {kHighBit, QStringLiteral("Put a byte 0xFF into the middle of each reply.")},
        {kSilent, QStringLiteral("Answer nothing.")},
        {kDelay, QStringLiteral("Answer this many ms late."), QStringLiteral("ms"),
         QStringLiteral("0")},
        {kHangupAfter,
         QStringLiteral("Hang up after answering n frames, then exit and remove the link."),
         QStringLiteral("n")},
        {kQuiet, QStringLiteral("Do not log the traffic.")},
    });
}

std::optional<SimOptions> readSimOptions(const QCommandLineParser& parser, QString& error)
{
    SimOptions options;
    const auto port = number(parser, kPort, 1, 255, error);
    if (!port)
        return std::nullopt;
    options.port = *port;
    options.dir = parser.value(kDir);

    const QString routes = parser.value(kRoutes);
    if (routes.size() != kOutputCount) {
        error = QStringLiteral("--routes takes four digits 1-4, not \"%1\"").arg(routes);
        return std::nullopt;
    }
    for (int output = 0; output < kOutputCount; ++output) {
        const int input = routes.at(output).digitValue();
        if (input < 1 || input > kInputCount) {
            error = QStringLiteral("--routes takes four digits 1-4, not \"%1\"").arg(routes);
            return std::nullopt;
        }
        options.routes[static_cast<std::size_t>(output)] = input;
    }

    const auto edid = number(parser, kEdid, 0, kEdidModeCount - 1, error);
    if (!edid)
        return std::nullopt;
    options.edidMode = *edid;

    options.pacing = !parser.isSet(kNoPacing);
    options.faults.noise = parser.isSet(kNoise);
    options.faults.highBit = parser.isSet(kHighBit);
    options.faults.silent = parser.isSet(kSilent);
    constexpr int kMaxMs = 600'000;
    const auto delay = number(parser, kDelay, 0, kMaxMs, error);
    if (!delay)
        return std::nullopt;
    options.faults.delay = std::chrono::milliseconds{*delay};
    if (parser.isSet(kSplitGap)) {
        const auto gap = number(parser, kSplitGap, 0, kMaxMs, error);
        if (!gap)
            return std::nullopt;
        options.faults.splitGap = std::chrono::milliseconds{*gap};
    }
    if (parser.isSet(kHangupAfter)) {
        const auto frames = number(parser, kHangupAfter, 1, 1'000'000'000, error);
        if (!frames)
            return std::nullopt;
        options.hangupAfter = *frames;
    }
    options.quiet = parser.isSet(kQuiet);
    return options;
}
