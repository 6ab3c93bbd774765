// Raw chunk from the line to the effects the window applies, with the decoder's invariants.
#include "switcher/replydecoder.h"
#include "switcher/replytext.h"

#include <QByteArray>
#include <QSet>

#include <array>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

const QSet<QString>& knownMessages()
{
    static const QSet<QString> messages = [] {
        QSet<QString> set;
        for (int output = 1; output <= 4; ++output)
            for (int input = 1; input <= 4; ++input)
                set.insert(routeMessage(output, input));
        for (int mode = 0; mode <= 10; ++mode)
            set.insert(edidMessage(mode));
        return set;
    }();
    return messages;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray chunk(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = bytes2BSTR(chunk);

    bool highBit = false;
    for (const char c : chunk)
        highBit |= static_cast<unsigned char>(c) >= 0x80;
    check(highBit ? text.isEmpty() : text.size() == chunk.size(), "one character per byte");
    for (qsizetype i = 0; i < text.size(); ++i)
        check(text.at(i).unicode() == static_cast<unsigned char>(chunk[i]), "bytes unchanged");

    const ReplyEffects effects = decodeReply(text);
    std::array<int, 5> lampsPerOutput{};
    int freeTexts = 0;
    int edidSelections = 0;
    for (const ReplyEffect& effect : effects) {
        switch (effect.kind) {
        case ReplyEffect::Kind::LogEntry:
            check(knownMessages().contains(effect.text), "entries come from the fixed tables");
            break;
        case ReplyEffect::Kind::LineBreak:
            check(&effect == &effects.last(), "the status line break comes last");
            break;
        case ReplyEffect::Kind::FreeText:
            check(effect.text == text, "free text is the reply text unchanged");
            check(effects.size() == 1, "free text stands alone");
            ++freeTexts;
            break;
        case ReplyEffect::Kind::Lamp:
            check(effect.output >= 1 && effect.output <= 4, "lamp output in range");
            check(effect.input >= 1 && effect.input <= 4, "lamp input in range");
            ++lampsPerOutput[static_cast<std::size_t>(effect.output)];
            check(lampsPerOutput[static_cast<std::size_t>(effect.output)] == 1,
                  "at most one lamp per output from one text");
            break;
        case ReplyEffect::Kind::EdidSelection:
            check(effect.mode >= 0 && effect.mode <= 10, "EDID mode in range");
            ++edidSelections;
            break;
        }
    }
    check(freeTexts <= 1 && edidSelections <= 1, "one free text or selection at most");
    return 0;
}
