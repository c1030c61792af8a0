// RTP sequence numbers: wrap-aware comparison and the source validation of
// RFC 3550 A.1 (probation, cycle counting, restart after a large jump).
#pragma once

#include <cstdint>

namespace rtp {

// Signed distance from b to a in 16-bit sequence space (-32768..32767).
constexpr int32_t SequenceDistance(uint16_t a, uint16_t b) {
    return static_cast<int16_t>(static_cast<uint16_t>(a - b));
}
// True when a comes after b, modulo 2^16.
constexpr bool SequenceIsNewer(uint16_t a, uint16_t b) { return SequenceDistance(a, b) > 0; }

class RTPSequenceValidator {
public:
    enum class Result {
        kHeld,                // in probation, in order so far: keep the packet back
        kProbationRestarted,  // out of order during probation: drop what was held, hold this one
        kValidated,           // probation just ended: release what was held, then this one
        kAccepted,            // a valid source's packet (also duplicates and late ones)
        kRejected,            // a large jump seen once: drop it
    };

    // A new source whose first packet carries `sequence`; `probation` is the
    // number of in-order packets still needed (0 for a source already known valid).
    void Start(uint16_t sequence, int probation);
    Result Update(uint16_t sequence);

    bool InProbation() const { return probation_ > 0; }
    uint32_t GetBaseSequence() const { return baseSequence_; }
    // Highest sequence number seen, with the wrap count in the high 16 bits.
    uint32_t GetExtendedHighest() const { return cycles_ + maxSequence_; }
    uint32_t GetReceived() const { return received_; }
    // Expected minus received, clamped to the signed 24-bit field of a report block.
    int32_t GetCumulativeLost() const;
    // Fraction lost since the previous call, in 1/256 (A.3); advances the interval.
    uint8_t TakeFractionLost();

private:
    void Init(uint16_t sequence);

    uint16_t maxSequence_ = 0;
    uint32_t cycles_ = 0;
    uint32_t baseSequence_ = 0;
    uint32_t badSequence_ = 0;
    int probation_ = 0;
    uint32_t received_ = 0;
    uint32_t expectedPrior_ = 0;
    uint32_t receivedPrior_ = 0;
};

}  // namespace rtp
