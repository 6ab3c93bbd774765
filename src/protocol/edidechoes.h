#pragma once

#include <chrono>
#include <deque>

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

private:
    struct Pending {
        int mode;
        Clock::time_point sentAt;
    };
    std::deque<Pending> pending_;
};
