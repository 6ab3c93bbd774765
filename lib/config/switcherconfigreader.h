#pragma once

#include "config/switcherconfig.h"

#include <QByteArray>
#include <QString>

#include <variant>

// Reads the INI text of `fileName`. Every section and key is checked; the first fault found is
// the error, with its line number.
std::variant<SwitcherConfig, ConfigError> parseSwitcherConfig(const QByteArray& text,
                                                              const QString& fileName);
// Reads the file; an unreadable file is an error too.
std::variant<SwitcherConfig, ConfigError> loadSwitcherConfig(const QString& fileName);
