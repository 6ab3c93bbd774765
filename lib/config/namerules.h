#pragma once

#include <QString>

// A name is what a user types and what MQTT payloads carry: printable, not a bare number or
// output letter (those already mean something), and short. What is wrong with `name`, or empty.
QString nameProblem(const QString& name);
