#include "transport/srtp/protected_packet.h"

#include <cassert>

namespace srtp {
namespace {
constexpr uint8_t kVersionMask = 0xC0;
constexpr uint8_t kVersion2 = 0x80;
}  // namespace

bool HasHeader(std::span<const uint8_t> packet, PacketKind kind) {
    return packet.size() >= HeaderBytes(kind) && (packet[0] & kVersionMask) == kVersion2;
}

uint32_t SenderSsrc(std::span<const uint8_t> packet, PacketKind kind) {
    assert(HasHeader(packet, kind));
    const size_t at = kind == PacketKind::kRtp ? 8 : 4;
    return uint32_t{packet[at]} << 24 | uint32_t{packet[at + 1]} << 16 | uint32_t{packet[at + 2]} << 8 | packet[at + 3];
}

}  // namespace srtp
