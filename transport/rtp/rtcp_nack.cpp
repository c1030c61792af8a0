#include "transport/rtp/rtcp_nack.h"

#include "transport/rtp/rtp_byte_order.h"

namespace rtp {
namespace {
constexpr int kBitsPerMask = 16;
}

std::vector<RTCPNACKEntry> PackNACKEntries(const uint16_t* lost, size_t count) {
    std::vector<RTCPNACKEntry> entries;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t distance = static_cast<uint16_t>(lost[i] - (entries.empty() ? 0 : entries.back().pid));
        if (!entries.empty() && distance == 0) continue;
        if (!entries.empty() && distance <= kBitsPerMask) {
            entries.back().blp = static_cast<uint16_t>(entries.back().blp | (1u << (distance - 1)));
            continue;
        }
        entries.push_back({lost[i], 0});
    }
    return entries;
}

bool RTCPNACKReader::Parse(const RTCPPacket& packet) {
    entryCount_ = 0;
    if (!header_.Parse(packet) || header_.GetPacketType() != kRTCPTransportFeedback ||
        header_.GetFormat() != kRTCPFeedbackGenericNACK)
        return false;
    entryCount_ = static_cast<int>(header_.GetFCILength() / kRTCPNACKEntryBytes);
    return entryCount_ > 0;
}

RTCPNACKEntry RTCPNACKReader::GetEntry(int index) const {
    const uint8_t* entry = header_.GetFCI() + size_t(index) * kRTCPNACKEntryBytes;
    return {Read16(entry), Read16(entry + 2)};
}

std::vector<uint16_t> RTCPNACKReader::GetLostSequenceNumbers() const {
    std::vector<uint16_t> lost;
    for (int i = 0; i < entryCount_; ++i) {
        const RTCPNACKEntry entry = GetEntry(i);
        lost.push_back(entry.pid);
        for (int bit = 0; bit < kBitsPerMask; ++bit)
            if (entry.blp & (1u << bit)) lost.push_back(static_cast<uint16_t>(entry.pid + bit + 1));
    }
    return lost;
}

}  // namespace rtp
