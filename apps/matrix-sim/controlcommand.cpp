#include "controlcommand.h"

#include "switcher/commandframe.h"
#include "switcher/names.h"

#include <QStringList>

std::optional<ControlCommand> parseControlLine(const QString& line)
{
    QStringList words = line.simplified().toLower().split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return std::nullopt;
    ControlCommand command;
    const QString verb = words.takeFirst();
    if ((verb == u"front" || verb == u"edid") && !words.isEmpty() && words.last() == u"silent") {
        command.silent = true;
        words.removeLast();
    }
    if (verb == u"front" && words.size() == 2) {
        const auto output = outputForLetterOrNumber(words.at(0));
        const auto input = wholeNumberIn(words.at(1), 1, kInputCount);
        if (!output || !input)
            return std::nullopt;
        command.output = *output;
        command.value = *input;
        return command;
    }
    if (verb == u"edid" && words.size() == 1) {
        const auto mode = wholeNumberIn(words.at(0), 0, kEdidModeCount - 1);
        if (!mode)
            return std::nullopt;
        command.kind = ControlCommand::Kind::Edid;
        command.value = *mode;
        return command;
    }
    if (verb == u"power" && words.size() == 1) {
        const auto ms = wholeNumberIn(words.at(0), 1, 600'000);
        if (!ms)
            return std::nullopt;
        command.kind = ControlCommand::Kind::Power;
        command.offFor = std::chrono::milliseconds{*ms};
        return command;
    }
    if (words.isEmpty() && (verb == u"unplug" || verb == u"replug")) {
        command.kind =
            verb == u"unplug" ? ControlCommand::Kind::Unplug : ControlCommand::Kind::Replug;
        return command;
    }
    return std::nullopt;
}
