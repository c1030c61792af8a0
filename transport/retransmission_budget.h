// How much one peer may be sent again: within any window of the sent
// history's length, at most a share of the video bytes sent in that window.
// A lossy peer thus costs at most half as much video again, and cannot turn
// us into an amplifier of its requests. Not locked: its owner locks.
#pragma once

#include <cstddef>
#include <deque>

class RetransmissionBudget {
public:
    // Spends `bytes` at `now` when what was spent within the window plus
    // `bytes` stays within the share of streamBytes (the video sent within
    // the window); false, spending nothing, otherwise.
    bool TrySpend(size_t bytes, size_t streamBytes, double now);

private:
    struct Spent {
        double time;
        size_t bytes;
    };
    std::deque<Spent> spent_;
    size_t spentBytes_ = 0;
};
