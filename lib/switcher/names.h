#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// How people name the switcher's outputs, inputs and EDID modes, in every program alike.

// A plain decimal number from low to high; nothing for anything else ("3x", "-1", " 3").
std::optional<int> wholeNumberIn(QStringView text, int low, int high);

// "A".."D" for outputs 1..4.
QString outputLetter(int output);
// 1..4 for the letter A..D in either case; nothing otherwise.
std::optional<int> outputForLetter(QStringView text);
// 1..4 for the letter A..D in either case or the digit 1..4.
std::optional<int> outputForLetterOrNumber(QStringView text);

// The caption of EDID option 0..10, as the window shows it ("EDID MIX", "copy from A", ...).
QString edidCaption(int mode);
// The mode whose caption this is, ignoring case and surrounding blanks.
std::optional<int> edidModeForCaption(QStringView caption);
// A mode given as its number 0..10 or its caption.
std::optional<int> edidModeNamed(QStringView text);
