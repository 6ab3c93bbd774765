#include "presetrun.h"

#include "switcher/names.h"

#include <memory>

namespace presetrun {
namespace {

struct Run {
    QString name;
    Routes routes;
    RouteStep step;
    Finished finished;
};

// A step may finish before it returns (matrixctl's do) or later (matrixd's): both recurse
// at most once per output.
void stepFrom(const std::shared_ptr<Run>& run, int output)
{
    while (output <= kOutputCount && !run->routes.at(std::size_t(output - 1)))
        ++output;
    if (output > kOutputCount) {
        run->finished(true, {});
        return;
    }
    const int input = *run->routes.at(std::size_t(output - 1));
    run->step(output, input, [run, output, input](bool confirmed, const QString& why) {
        if (!confirmed)
            run->finished(false, stoppedAt(run->name, output, input, why));
        else
            stepFrom(run, output + 1);
    });
}

} // namespace

void run(const QString& name, const Routes& routes, RouteStep step, Finished finished)
{
    stepFrom(std::make_shared<Run>(Run{name, routes, std::move(step), std::move(finished)}), 1);
}

QString stoppedAt(const QString& name, int output, int input, const QString& why)
{
    QString text = QStringLiteral("preset \"%1\" stopped at %2 <- %3")
                       .arg(name, outputLetter(output))
                       .arg(input);
    if (!why.isEmpty())
        text += QStringLiteral(": ") + why;
    return text;
}

} // namespace presetrun
