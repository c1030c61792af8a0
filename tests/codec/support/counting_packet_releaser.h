// Makes received video packets for tests, owns them, and counts how often
// each one is given back, so a test can prove every packet returns exactly once.
#pragma once

#include "engine/internal_interfaces.h"
#include "transport/rtp/rtp_packet.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace codec_test {

class CountingPacketReleaser : public ITavolinPacketReleaser {
public:
    // A parsed RTP packet (payload type 34) with this timestamp and payload.
    rtp::RTPPacket* Make(uint32_t timestamp, const std::vector<uint8_t>& payload);

    void DeleteVideoPacket(rtp::RTPPacket* packet) override;
    // Video packets only ever go back as video; any call here is a fault.
    void DeleteAudioPacket(rtp::RTPPacket* packet) override;

    int Releases(const rtp::RTPPacket* packet) const;
    size_t Made() const { return packets_.size(); }
    size_t Unreleased() const;
    // Packets given back more than once, unknown packets and audio releases.
    int Faults() const { return faults_; }
    // Every packet made so far was given back exactly once.
    bool AllReleasedOnce() const { return faults_ == 0 && Unreleased() == 0; }

private:
    std::vector<std::unique_ptr<rtp::RTPPacket>> packets_;
    std::unordered_map<const rtp::RTPPacket*, int> releases_;
    uint16_t sequence_ = 0;
    int faults_ = 0;
};

}  // namespace codec_test
