#include "tests/transport/srtp/srtp_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace srtp_test {

std::vector<uint8_t> FromHex(std::string_view hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

std::vector<uint8_t> FreshSecret() {
    static std::atomic<uint32_t> drawn{0};
    const uint32_t serial = ++drawn;
    std::vector<uint8_t> secret(32, 0xC3);
    for (int i = 0; i < 4; ++i) secret[static_cast<size_t>(i)] = static_cast<uint8_t>(serial >> (8 * i));
    return secret;
}

srtp::SenderKey KeyFor(const std::vector<uint8_t>& secret, uint32_t epoch, int32_t user, srtp::KeyMedium medium) {
    const uint8_t roomId[] = {'r', 'o', 'o', 'm'};
    return *srtp::DeriveSenderKey({secret, roomId, epoch}, user, medium);
}

namespace {
void PutBigEndian(std::vector<uint8_t>& bytes, size_t at, uint32_t value, int count) {
    for (int i = 0; i < count; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * (count - 1 - i)));
}
}  // namespace

Datagram Rtp(uint16_t sequence, uint32_t ssrc, size_t payloadBytes) {
    Datagram datagram;
    datagram.length = srtp::kRtpHeaderBytes + payloadBytes;
    datagram.buffer.assign(datagram.length + srtp::kRtpOverheadBytes, 0);
    datagram.buffer[0] = 0x80;
    datagram.buffer[1] = 96;
    PutBigEndian(datagram.buffer, 2, sequence, 2);
    PutBigEndian(datagram.buffer, 4, 160u * sequence, 4);
    PutBigEndian(datagram.buffer, 8, ssrc, 4);
    for (size_t i = 0; i < payloadBytes; ++i)
        datagram.buffer[srtp::kRtpHeaderBytes + i] = static_cast<uint8_t>(sequence + i);
    return datagram;
}

Datagram Rtcp(uint32_t ssrc) {
    Datagram datagram;
    datagram.kind = srtp::PacketKind::kRtcp;
    datagram.length = 32;
    datagram.buffer.assign(datagram.length + srtp::kRtcpOverheadBytes, 0);
    datagram.buffer[0] = 0x81;  // one report block
    datagram.buffer[1] = 201;
    PutBigEndian(datagram.buffer, 2, datagram.length / 4 - 1, 2);
    PutBigEndian(datagram.buffer, 4, ssrc, 4);
    PutBigEndian(datagram.buffer, 8, ~ssrc, 4);  // the source reported on
    for (size_t i = 12; i < datagram.length; ++i) datagram.buffer[i] = static_cast<uint8_t>(i);
    return datagram;
}

Datagram& Protect(srtp::Protector& protector, Datagram& datagram) {
    const srtp::Protected result = protector.Protect(datagram.kind, datagram.buffer, datagram.length);
    EXPECT_EQ(result.status, srtp::ProtectStatus::kProtected);
    datagram.length = result.length;
    return datagram;
}

}  // namespace srtp_test
