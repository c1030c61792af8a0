// Random source of a session: SSRC, initial sequence number and timestamp,
// and the RTCP interval randomisation. Tests substitute a scripted source.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>

namespace rtp {

class RTPRandom {
public:
    virtual ~RTPRandom() = default;
    virtual uint32_t GetRandom32() = 0;
    // Uniform in [0, 1).
    virtual double GetRandomDouble() = 0;
};

// Mersenne twister seeded from the system's entropy source; thread-safe.
class RTPSystemRandom : public RTPRandom {
public:
    RTPSystemRandom();
    uint32_t GetRandom32() override;
    double GetRandomDouble() override;

    // The process-wide instance sessions use unless given another.
    static RTPSystemRandom& Instance();

private:
    std::mutex mutex_;
    std::mt19937 engine_;
};

}  // namespace rtp
