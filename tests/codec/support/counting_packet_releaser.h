// Makes received video fragments for tests, owns the packets behind them, and
// counts how often each one is given back, so a test can prove every packet
// returns exactly once.
#pragma once

#include "codec/frame_assembler.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace codec_test {

class CountingPacketReleaser : public IFragmentReleaser {
public:
    // A fragment with this timestamp and payload; its token names a packet
    // this releaser owns.
    ReceivedFragment Make(uint32_t timestamp, const std::vector<uint8_t>& payload);

    void ReleaseFragment(void* token) override;

    int Releases(const void* token) const;
    size_t Made() const { return packets_.size(); }
    size_t Unreleased() const;
    // Packets given back more than once and unknown packets.
    int Faults() const { return faults_; }
    // Every packet made so far was given back exactly once.
    bool AllReleasedOnce() const { return faults_ == 0 && Unreleased() == 0; }

private:
    std::vector<std::unique_ptr<std::vector<uint8_t>>> packets_;
    std::unordered_map<const void*, int> releases_;
    int faults_ = 0;
};

}  // namespace codec_test
