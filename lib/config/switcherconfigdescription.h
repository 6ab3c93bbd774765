#pragma once

#include "config/switcherconfig.h"

#include <QString>

// The effective configuration as INI text, every key with its value; the password is masked.
QString describeSwitcherConfig(const SwitcherConfig& config);
