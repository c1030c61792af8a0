// What the unprotect fuzz target reads, shared with its seeds and their
// test: records of [control][length, 2 bytes big-endian][datagram], each
// opened by one fresh unprotector for a fixed sender of a fixed room.
// Control bit 0: RTCP rather than RTP; bit 1: the sender's next epoch is
// installed first; bits 2-7: the clock first advances by that many tenths
// of a second (up to 6.3 s, past the previous epoch's grace).
#pragma once

#include "transport/srtp/sender_key.h"
#include "transport/srtp/unprotector.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace unprotect_records {

constexpr uint8_t kRtcpBit = 0x01;
constexpr uint8_t kNextEpochBit = 0x02;
constexpr int kAdvanceShift = 2;
constexpr int64_t kAdvanceStepMs = 100;
constexpr uint32_t kFirstEpoch = 1;
constexpr size_t kMaxRecords = 64;

inline srtp::SenderKey RoomKey(uint32_t epoch) {
    static constexpr uint8_t kSecret[] = "a fuzzed room's secret, 32 bytes";
    static constexpr uint8_t kRoomId[] = {'f', 'u', 'z', 'z'};
    return *srtp::DeriveSenderKey({std::span(kSecret, 32), kRoomId, epoch}, 7, srtp::KeyMedium::kVideo);
}

constexpr uint8_t Control(srtp::PacketKind kind, bool nextEpoch = false, int advanceSteps = 0) {
    return static_cast<uint8_t>((kind == srtp::PacketKind::kRtcp ? kRtcpBit : 0) | (nextEpoch ? kNextEpochBit : 0) |
                                advanceSteps << kAdvanceShift);
}

inline void AppendRecord(std::vector<uint8_t>& input, uint8_t control, std::span<const uint8_t> datagram) {
    input.push_back(control);
    input.push_back(static_cast<uint8_t>(datagram.size() >> 8));
    input.push_back(static_cast<uint8_t>(datagram.size()));
    input.insert(input.end(), datagram.begin(), datagram.end());
}

// Calls seen(kind, datagram as it came, result, datagram as it was left)
// for each record; a record longer than what is left takes what is left.
template <typename Seen>
void OpenRecords(std::span<const uint8_t> input, Seen&& seen) {
    auto unprotector = srtp::Unprotector::Create();
    if (!unprotector) return;
    uint32_t epoch = kFirstEpoch;
    int64_t nowMs = 0;
    unprotector->InstallEpoch(RoomKey(epoch), nowMs);
    static std::array<uint8_t, srtp::kMaxDatagramBytes> buffer;
    for (size_t records = 0; records < kMaxRecords && input.size() >= 3; ++records) {
        const uint8_t control = input[0];
        const size_t length = std::min<size_t>(size_t{input[1]} << 8 | input[2], input.size() - 3);
        const std::span<const uint8_t> datagram = input.subspan(3, length);
        input = input.subspan(3 + length);
        nowMs += (control >> kAdvanceShift) * kAdvanceStepMs;
        if (control & kNextEpochBit) unprotector->InstallEpoch(RoomKey(++epoch), nowMs);
        const srtp::PacketKind kind = control & kRtcpBit ? srtp::PacketKind::kRtcp : srtp::PacketKind::kRtp;
        std::copy(datagram.begin(), datagram.end(), buffer.begin());
        const std::span<uint8_t> opened(buffer.data(), datagram.size());
        seen(kind, datagram, unprotector->Unprotect(kind, opened, nowMs), std::span<const uint8_t>(opened));
    }
}

}  // namespace unprotect_records
