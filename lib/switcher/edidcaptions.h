#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The caption of EDID option 0..10, as the window shows it ("EDID MIX", "copy from A", ...).
QString edidCaption(int mode);
// The mode whose caption this is, ignoring case and surrounding blanks.
std::optional<int> edidModeForCaption(QStringView caption);
