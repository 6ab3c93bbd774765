#pragma once

#include <QList>
#include <QString>

// What one reply text does to the window, in the order the window must apply it.
struct ReplyEffect {
    enum class Kind {
        LogEntry,     // CR LF + text
        LineBreak,    // CR LF
        FreeText,     // text, unchanged
        Lamp,         // light input `input` (1..4) of output `output` (1..4)
        EdidSelection // select EDID option `mode` (0..10)
    };
    Kind kind = Kind::FreeText;
    QString text;
    int output = 0;
    int input = 0;
    int mode = 0;

    static ReplyEffect logEntry(const QString& message) { return {Kind::LogEntry, message}; }
    static ReplyEffect lineBreak() { return {Kind::LineBreak, {}}; }
    static ReplyEffect freeText(const QString& text) { return {Kind::FreeText, text}; }
    static ReplyEffect lamp(int output, int input) { return {Kind::Lamp, {}, output, input}; }
    static ReplyEffect edidSelection(int mode) { return {Kind::EdidSelection, {}, 0, 0, mode}; }

    friend bool operator==(const ReplyEffect&, const ReplyEffect&) = default;
};

using ReplyEffects = QList<ReplyEffect>;

// "HDMI Out<output> -> HDMI In <input>", output and input numbered from 1.
QString routeMessage(int output, int input);
// The log message of EDID mode 0..10.
QString edidMessage(int mode);

// Classifies a reply text by fixed character positions. Pure: no state, no side effects.
ReplyEffects decodeReply(const QString& text);
