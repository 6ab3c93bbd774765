#pragma once

#include <QString>

// Where an error is, as every configuration error begins: "FILE:LINE: ", "FILE: " when no
// line applies, nothing without a file.
QString configPlace(const QString& file, int line);
