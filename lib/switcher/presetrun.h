#pragma once

#include "switcher/commandframe.h"

#include <QString>

#include <array>
#include <functional>
#include <optional>

// A preset's routes, one confirmed route after another in output order, stopping at the first
// that fails. matrixd and matrixctl run presets through this, so both stop and say so alike.
namespace presetrun {

// The input (1..4) each output (1..4) takes; nothing for outputs the preset leaves alone.
using Routes = std::array<std::optional<int>, kOutputCount>;
// Routes output to input; `confirmed(false, why)` when it fails (`why` may be empty).
using StepDone = std::function<void(bool confirmed, const QString& why)>;
using RouteStep = std::function<void(int output, int input, StepDone done)>;
// Once: all routes confirmed, or the words of the stop ("preset "x" stopped at B <- 3: why").
using Finished = std::function<void(bool applied, const QString& stop)>;

void run(const QString& name, const Routes& routes, RouteStep step, Finished finished);

// `preset "x" stopped at B <- 3`, with ": why" when there is a why.
QString stoppedAt(const QString& name, int output, int input, const QString& why = {});

} // namespace presetrun
