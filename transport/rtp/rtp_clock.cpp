#include "transport/rtp/rtp_clock.h"

#include <chrono>

namespace rtp {
namespace {
double SecondsOf(std::chrono::nanoseconds time) { return std::chrono::duration<double>(time).count(); }
}  // namespace

RTPSystemClock::RTPSystemClock()
    : wallAtStart_(SecondsOf(std::chrono::system_clock::now().time_since_epoch())),
      steadyAtStart_(SecondsOf(std::chrono::steady_clock::now().time_since_epoch())) {}

double RTPSystemClock::Now() {
    return wallAtStart_ + SecondsOf(std::chrono::steady_clock::now().time_since_epoch()) - steadyAtStart_;
}

RTPSystemClock& RTPSystemClock::Instance() {
    static RTPSystemClock clock;
    return clock;
}

}  // namespace rtp
