#include "tests/codec/support/counting_packet_releaser.h"

namespace codec_test {

ReceivedFragment CountingPacketReleaser::Make(uint32_t timestamp, const std::vector<uint8_t>& payload) {
    packets_.push_back(std::make_unique<std::vector<uint8_t>>(payload));
    std::vector<uint8_t>* packet = packets_.back().get();
    releases_[packet] = 0;
    return ReceivedFragment{packet->data(), packet->size(), timestamp, packet};
}

void CountingPacketReleaser::ReleaseFragment(void* token) {
    auto found = releases_.find(token);
    if (found == releases_.end() || ++found->second > 1) ++faults_;
}

int CountingPacketReleaser::Releases(const void* token) const {
    auto found = releases_.find(token);
    return found == releases_.end() ? 0 : found->second;
}

size_t CountingPacketReleaser::Unreleased() const {
    size_t count = 0;
    for (const auto& [packet, releases] : releases_)
        if (releases == 0) ++count;
    return count;
}

}  // namespace codec_test
