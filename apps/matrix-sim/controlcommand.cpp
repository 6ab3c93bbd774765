#include "controlcommand.h"

#include "switcher/commandframe.h"

#include <QStringList>

namespace {

// A whole number within [low, high], if the word is one.
std::optional<int> number(const QString& word, int low, int high)
{
    bool ok = false;
    const int value = word.toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<int> outputOf(const QString& word)
{
    if (word.size() == 1 && word.at(0).toUpper() >= u'A' &&
        word.at(0).toUpper() < QChar(u'A' + kOutputCount))
        return word.at(0).toUpper().unicode() - u'A' + 1;
    return number(word, 1, kOutputCount);
}

} // namespace

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
        const auto output = outputOf(words.at(0));
        const auto input = number(words.at(1), 1, kInputCount);
        if (!output || !input)
            return std::nullopt;
        command.output = *output;
        command.value = *input;
        return command;
    }
    if (verb == u"edid" && words.size() == 1) {
        const auto mode = number(words.at(0), 0, kEdidModeCount - 1);
        if (!mode)
            return std::nullopt;
        command.kind = ControlCommand::Kind::Edid;
        command.value = *mode;
        return command;
    }
    if (verb == u"power" && words.size() == 1) {
        const auto ms = number(words.at(0), 1, 600'000);
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
