#include "tests/codec/support/counting_packet_releaser.h"

#include <algorithm>
#include <cstdlib>

namespace codec_test {
namespace {
constexpr size_t kRtpHeaderBytes = 12;
constexpr uint8_t kRtpVersion2 = 0x80;
constexpr uint8_t kVideoPayloadType = 34;
constexpr uint32_t kTestSsrc = 0x5eed5eed;

void Put32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}
}  // namespace

rtp::RTPPacket* CountingPacketReleaser::Make(uint32_t timestamp, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> datagram(kRtpHeaderBytes + payload.size());
    datagram[0] = kRtpVersion2;
    datagram[1] = kVideoPayloadType;
    datagram[2] = static_cast<uint8_t>(sequence_ >> 8);
    datagram[3] = static_cast<uint8_t>(sequence_);
    ++sequence_;
    Put32(&datagram[4], timestamp);
    Put32(&datagram[8], kTestSsrc);
    std::copy(payload.begin(), payload.end(), datagram.begin() + kRtpHeaderBytes);

    auto packet = std::make_unique<rtp::RTPPacket>();
    if (!packet->Parse(datagram.data(), datagram.size(), 0.0)) std::abort();
    packets_.push_back(std::move(packet));
    releases_[packets_.back().get()] = 0;
    return packets_.back().get();
}

void CountingPacketReleaser::DeleteVideoPacket(rtp::RTPPacket* packet) {
    auto found = releases_.find(packet);
    if (found == releases_.end() || ++found->second > 1) ++faults_;
}

void CountingPacketReleaser::DeleteAudioPacket(rtp::RTPPacket*) { ++faults_; }

int CountingPacketReleaser::Releases(const rtp::RTPPacket* packet) const {
    auto found = releases_.find(packet);
    return found == releases_.end() ? 0 : found->second;
}

size_t CountingPacketReleaser::Unreleased() const {
    size_t count = 0;
    for (const auto& [packet, releases] : releases_)
        if (releases == 0) ++count;
    return count;
}

}  // namespace codec_test
