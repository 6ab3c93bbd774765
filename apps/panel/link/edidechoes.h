#pragma once

#include <chrono>
#include <deque>

// What an EDID reply does to the options.
enum class EdidFollow {
    Nothing,      // the mode is selected already, or no mode at all
    Select,       // select its option
    SelectAndSend // select its option and send its command, as a click on it would
};

// EDID mode commands the panel sent and the switcher has not answered yet.
//
// The switcher answers every EDID command with the mode it then has, and an answer that selects
// another option sends that option's command. Two commands sent closer together than an answer
// takes would then be echoed back and forth without end; an answer to one of the panel's own
// commands therefore only moves the selection.
class EdidEchoes {
public:
    using Clock = std::chrono::steady_clock;
    // Far longer than a switcher takes to answer; a command unanswered by then never will be.
    static constexpr std::chrono::milliseconds kAnswerTime{1000};
    static constexpr std::size_t kMostPending = 32;

    void sent(int mode, Clock::time_point now = Clock::now());
    // Whether an answer naming `mode` answers a command of ours; that command is then answered.
    bool answers(int mode, Clock::time_point now = Clock::now());
    // A reply names `mode` while option `selected` is selected (-1: none). A mode the switcher
    // took on its own is sent, and so counted as sent.
    EdidFollow replied(int mode, int selected, Clock::time_point now = Clock::now());

private:
    struct Pending {
        int mode;
        Clock::time_point sentAt;
    };
    std::deque<Pending> pending_;
};
