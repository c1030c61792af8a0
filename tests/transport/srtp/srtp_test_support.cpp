#include "tests/transport/srtp/srtp_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

namespace srtp_test {

std::vector<uint8_t> FreshSecret() {
    static std::atomic<uint32_t> drawn{0};
    const uint32_t serial = ++drawn;
    std::vector<uint8_t> secret(32, 0xC3);
    std::memcpy(secret.data(), &serial, sizeof serial);
    return secret;
}

srtp::SenderKey KeyFor(const std::vector<uint8_t>& secret, uint32_t epoch, int32_t user, srtp::KeyMedium medium) {
    const uint8_t roomId[] = {'r', 'o', 'o', 'm'};
    return *srtp::DeriveSenderKey({secret, roomId, epoch}, user, medium);
}

std::unique_ptr<srtp::Protector> ProtectorFor(const srtp::SenderKey& key) {
    std::unique_ptr<srtp::Protector> protector = srtp::Protector::Create(key);
    EXPECT_TRUE(protector);
    return protector;
}

namespace {
Datagram Make(srtp::PacketKind kind, std::vector<uint8_t> packet) {
    Datagram datagram{kind, std::move(packet), 0};
    datagram.length = datagram.buffer.size();
    datagram.buffer.resize(datagram.length + srtp::OverheadBytes(kind));
    return datagram;
}

void PutBigEndian32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}
}  // namespace

Datagram Rtp(uint16_t sequence, uint32_t ssrc, size_t payloadBytes) {
    std::vector<uint8_t> packet = {0x80, 96, static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence)};
    PutBigEndian32(packet, 160u * sequence);
    PutBigEndian32(packet, ssrc);
    for (size_t i = 0; i < payloadBytes; ++i) packet.push_back(static_cast<uint8_t>(sequence + i));
    return Make(srtp::PacketKind::kRtp, std::move(packet));
}

Datagram Rtcp(uint32_t ssrc) {
    std::vector<uint8_t> packet = {0x81, 201, 0, 7};  // 32 bytes: one report block
    PutBigEndian32(packet, ssrc);
    PutBigEndian32(packet, ~ssrc);  // the source reported on
    for (uint8_t i = 12; i < 32; ++i) packet.push_back(i);
    return Make(srtp::PacketKind::kRtcp, std::move(packet));
}

Datagram& Protect(srtp::Protector& protector, Datagram& datagram) {
    const srtp::Protected result = protector.Protect(datagram.kind, datagram.buffer, datagram.length);
    EXPECT_EQ(result.status, srtp::ProtectStatus::kProtected);
    datagram.length = result.length;
    return datagram;
}

}  // namespace srtp_test
