#pragma once

#include "config/switcherconfig.h"

#include <optional>

// Settles what depends on other keys (default client id and topic, the TLS port, a password
// file's content). Call after command-line overrides.
std::optional<ConfigError> completeSwitcherConfig(SwitcherConfig& config);
