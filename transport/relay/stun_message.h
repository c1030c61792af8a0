// STUN messages as a relay client sends and reads them: a 20-byte header,
// then attributes, each padded to a multiple of 4 bytes. Fields are
// big-endian.
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |0 0|      message type         |  length of what follows (4n)  |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                    magic cookie 0x2112A442                    |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                   transaction id (96 bits)                    |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |        attribute type         |   value length (unpadded)     |
//   |               value, padded to 4 bytes ...                    |
//
// The message type interleaves the class bits C1 C0 with the method's:
// M11..M7 C1 M6..M4 C0 M3..M0. An address attribute holds a zero byte, the
// family (1 IPv4, 2 IPv6), the port and the address; in the XOR- kinds the
// port is XORed with the cookie's top half and an IPv4 address with the
// cookie. MESSAGE-INTEGRITY is an HMAC-SHA1 of everything before it, the
// header's length counted as if it ended the message.
#pragma once

#include "transport/rtp/rtp_ipv4_address.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace relay {

constexpr uint32_t kMagicCookie = 0x2112A442;
constexpr size_t kHeaderBytes = 20;
constexpr size_t kAttributeHeaderBytes = 4;
constexpr size_t kTransactionIdBytes = 12;
constexpr size_t kIntegrityBytes = 20;
constexpr size_t kMaxMessageBytes = kHeaderBytes + 0xFFFF;
// However long a hostile message, no reader walks more attributes than this.
constexpr size_t kMaxAttributes = 32;

using TransactionId = std::array<uint8_t, kTransactionIdBytes>;
using ReservationToken = std::array<uint8_t, 8>;

enum class StunClass : uint8_t { kRequest = 0, kIndication = 1, kSuccess = 2, kError = 3 };

namespace method {
constexpr uint16_t kBinding = 0x001;
constexpr uint16_t kAllocate = 0x003;
constexpr uint16_t kRefresh = 0x004;
constexpr uint16_t kSend = 0x006;
constexpr uint16_t kData = 0x007;
constexpr uint16_t kCreatePermission = 0x008;
constexpr uint16_t kChannelBind = 0x009;
}  // namespace method

namespace attribute {
constexpr uint16_t kMappedAddress = 0x0001;
constexpr uint16_t kUsername = 0x0006;
constexpr uint16_t kMessageIntegrity = 0x0008;
constexpr uint16_t kErrorCode = 0x0009;
constexpr uint16_t kChannelNumber = 0x000C;
constexpr uint16_t kLifetime = 0x000D;
constexpr uint16_t kXorPeerAddress = 0x0012;
constexpr uint16_t kData = 0x0013;
constexpr uint16_t kRealm = 0x0014;
constexpr uint16_t kNonce = 0x0015;
constexpr uint16_t kXorRelayedAddress = 0x0016;
constexpr uint16_t kEvenPort = 0x0018;
constexpr uint16_t kRequestedTransport = 0x0019;
constexpr uint16_t kXorMappedAddress = 0x0020;
constexpr uint16_t kReservationToken = 0x0022;
constexpr uint16_t kSoftware = 0x8022;
constexpr uint16_t kAlternateServer = 0x8023;
}  // namespace attribute

namespace error {
constexpr int kTryAlternate = 300;
constexpr int kUnauthorized = 401;
constexpr int kAllocationMismatch = 437;
constexpr int kStaleNonce = 438;
}  // namespace error

// REQUESTED-TRANSPORT: the relay talks to peers over UDP.
constexpr uint8_t kTransportUdp = 17;

constexpr size_t PaddedLength(size_t length) { return (length + 3) & ~size_t{3}; }
uint16_t MessageType(uint16_t method, StunClass stunClass);
// Whether an address attribute of this type is XORed with the cookie.
bool IsXorAddress(uint16_t type);
// The class of the message `bytes` begin with, from its type alone; nothing
// when they begin with no STUN header.
std::optional<StunClass> ClassOf(std::span<const uint8_t> bytes);

// A received message, read in place: the datagram must outlive it.
class StunMessage {
public:
    // Nothing unless `bytes` is exactly one message: two zero bits, the
    // cookie, a length that is a multiple of 4 and matches, attributes that
    // each fit. Attributes after MESSAGE-INTEGRITY are ignored, as are
    // repeats (the first counts) and those beyond kMaxAttributes.
    static std::optional<StunMessage> Parse(std::span<const uint8_t> bytes);

    uint16_t Method() const { return method_; }
    StunClass Class() const { return class_; }
    TransactionId Id() const;

    // The value of an attribute, unpadded.
    std::optional<std::span<const uint8_t>> Find(uint16_t type) const;
    std::optional<std::string_view> Text(uint16_t type) const;
    std::optional<uint32_t> Uint32(uint16_t type) const;
    // An IPv4 address attribute (IPv6 ones read as none), un-XORed when its
    // type is an XOR kind.
    std::optional<rtp::RTPIPv4Address> Address(uint16_t type) const;
    // The class and number of ERROR-CODE as one number, 300..699.
    std::optional<int> ErrorCode() const;
    std::optional<uint16_t> ChannelNumber() const;
    std::optional<ReservationToken> Token() const;

    bool HasIntegrity() const { return integrityAt_ != 0; }
    // Whether MESSAGE-INTEGRITY is there and matches under `key`.
    bool IntegrityMatches(std::span<const uint8_t> key) const;

private:
    struct Entry {
        uint16_t type;
        uint16_t length;
        uint32_t offset;  // of the value
    };
    std::span<const uint8_t> bytes_;
    uint16_t method_ = 0;
    StunClass class_ = StunClass::kRequest;
    std::array<Entry, kMaxAttributes> entries_{};
    size_t count_ = 0;
    size_t integrityAt_ = 0;  // offset of its attribute header; 0: none
};

// Builds a message attribute by attribute, zero-padding each.
class StunWriter {
public:
    StunWriter(uint16_t method, StunClass stunClass, const TransactionId& id);

    StunWriter& Add(uint16_t type, std::span<const uint8_t> value);
    StunWriter& AddText(uint16_t type, std::string_view text);
    StunWriter& AddUint32(uint16_t type, uint32_t value);
    // XORed when the type is an XOR kind.
    StunWriter& AddAddress(uint16_t type, const rtp::RTPIPv4Address& address);
    StunWriter& AddChannelNumber(uint16_t channel);
    // EVEN-PORT; with reserveNext (the R bit) the server keeps the port above.
    StunWriter& AddEvenPort(bool reserveNext);
    StunWriter& AddRequestedTransport(uint8_t protocol);
    StunWriter& AddErrorCode(int code, std::string_view reason);

    // The message, with MESSAGE-INTEGRITY under `integrityKey` last unless
    // the key is empty.
    std::vector<uint8_t> Finish(std::span<const uint8_t> integrityKey = {});
    // The message up to the value of a last attribute `type` of
    // `valueLength` bytes, which the caller sends after it with its padding.
    std::vector<uint8_t> FinishBefore(uint16_t type, size_t valueLength);

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace relay
