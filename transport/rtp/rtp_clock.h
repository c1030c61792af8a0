// Time source of a session. Tests give a session a clock they step by hand so
// that RTCP timing and time-outs are deterministic without sleeping.
#pragma once

namespace rtp {

class RTPClock {
public:
    virtual ~RTPClock() = default;
    // Seconds since 1970-01-01 UTC. Must never go backwards; RTCP sender
    // reports derive their NTP timestamps from it.
    virtual double Now() = 0;
};

// Wall-clock time at start-up advanced by the monotonic clock, so that a
// clock adjustment cannot move a session's time backwards.
class RTPSystemClock : public RTPClock {
public:
    RTPSystemClock();
    double Now() override;

    // The process-wide instance sessions use unless given another.
    static RTPSystemClock& Instance();

private:
    double wallAtStart_;
    double steadyAtStart_;
};

}  // namespace rtp
