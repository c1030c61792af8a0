#include "transport/relay/stun_message.h"

#include "transport/relay/stun_integrity.h"
#include "transport/rtp/rtp_byte_order.h"

#include <algorithm>
#include <cassert>

namespace relay {
namespace {
using rtp::Read16;
using rtp::Read32;
using rtp::Write16;
using rtp::Write32;

constexpr uint8_t kFamilyIpv4 = 1;
constexpr size_t kIpv4AddressBytes = 8;
constexpr uint16_t kCookieTop = kMagicCookie >> 16;
constexpr uint8_t kEvenPortReserveBit = 0x80;
constexpr size_t kErrorCodeFixedBytes = 4;

// The header with its length field set so that the message ends after the
// MESSAGE-INTEGRITY attribute at `integrityAt`.
std::array<uint8_t, kHeaderBytes> HeaderEndingWithIntegrity(const uint8_t* header, size_t integrityAt) {
    std::array<uint8_t, kHeaderBytes> copy;
    std::copy(header, header + kHeaderBytes, copy.begin());
    Write16(copy.data() + 2,
            static_cast<uint16_t>(integrityAt + kAttributeHeaderBytes + kIntegrityBytes - kHeaderBytes));
    return copy;
}

Sha1Digest IntegrityOf(const uint8_t* message, size_t integrityAt, std::span<const uint8_t> key) {
    const auto header = HeaderEndingWithIntegrity(message, integrityAt);
    return HmacSha1(key, header, std::span(message + kHeaderBytes, integrityAt - kHeaderBytes));
}

// The class bits C1 (bit 8) and C0 (bit 4) of a message type.
StunClass ClassOfType(uint16_t type) { return static_cast<StunClass>(((type >> 4) & 1) | ((type >> 7) & 2)); }
}  // namespace

std::optional<StunClass> ClassOf(std::span<const uint8_t> bytes) {
    if (bytes.size() < kHeaderBytes || (bytes[0] & 0xC0) != 0) return std::nullopt;
    return ClassOfType(Read16(&bytes[0]));
}

uint16_t MessageType(uint16_t method, StunClass stunClass) {
    const auto bits = static_cast<uint16_t>(stunClass);
    return static_cast<uint16_t>((method & 0x000F) | ((method & 0x0070) << 1) | ((method & 0x0F80) << 2) |
                                 ((bits & 1) << 4) | ((bits & 2) << 7));
}

bool IsXorAddress(uint16_t type) {
    return type == attribute::kXorMappedAddress || type == attribute::kXorPeerAddress ||
           type == attribute::kXorRelayedAddress;
}

std::optional<StunMessage> StunMessage::Parse(std::span<const uint8_t> bytes) {
    if (bytes.size() < kHeaderBytes || (bytes[0] & 0xC0) != 0) return std::nullopt;
    const size_t length = Read16(&bytes[2]);
    if (length % 4 != 0 || kHeaderBytes + length != bytes.size() || Read32(&bytes[4]) != kMagicCookie)
        return std::nullopt;
    StunMessage message;
    message.bytes_ = bytes;
    const uint16_t type = Read16(&bytes[0]);
    message.method_ = static_cast<uint16_t>((type & 0x000F) | ((type & 0x00E0) >> 1) | ((type & 0x3E00) >> 2));
    message.class_ = ClassOfType(type);
    size_t at = kHeaderBytes;
    while (at + kAttributeHeaderBytes <= bytes.size()) {
        const uint16_t attributeType = Read16(&bytes[at]);
        const uint16_t valueLength = Read16(&bytes[at + 2]);
        const size_t value = at + kAttributeHeaderBytes;
        if (PaddedLength(valueLength) > bytes.size() - value) return std::nullopt;
        if (message.integrityAt_ == 0 && message.count_ < kMaxAttributes && !message.Find(attributeType)) {
            message.entries_[message.count_++] = {attributeType, valueLength, static_cast<uint32_t>(value)};
            if (attributeType == attribute::kMessageIntegrity) message.integrityAt_ = at;
        }
        at = value + PaddedLength(valueLength);
    }
    if (at != bytes.size()) return std::nullopt;
    return message;
}

TransactionId StunMessage::Id() const {
    TransactionId id;
    std::copy(bytes_.begin() + 8, bytes_.begin() + kHeaderBytes, id.begin());
    return id;
}

std::optional<std::span<const uint8_t>> StunMessage::Find(uint16_t type) const {
    for (size_t i = 0; i < count_; ++i) {
        if (entries_[i].type == type) return bytes_.subspan(entries_[i].offset, entries_[i].length);
    }
    return std::nullopt;
}

std::optional<std::string_view> StunMessage::Text(uint16_t type) const {
    const auto value = Find(type);
    if (!value) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(value->data()), value->size());
}

std::optional<uint32_t> StunMessage::Uint32(uint16_t type) const {
    const auto value = Find(type);
    if (!value || value->size() != 4) return std::nullopt;
    return Read32(value->data());
}

std::optional<rtp::RTPIPv4Address> StunMessage::Address(uint16_t type) const {
    const auto value = Find(type);
    if (!value || value->size() != kIpv4AddressBytes || (*value)[1] != kFamilyIpv4) return std::nullopt;
    uint16_t port = Read16(value->data() + 2);
    uint32_t address = Read32(value->data() + 4);
    if (IsXorAddress(type)) {
        port ^= kCookieTop;
        address ^= kMagicCookie;
    }
    return rtp::RTPIPv4Address(address, port);
}

std::optional<int> StunMessage::ErrorCode() const {
    const auto value = Find(attribute::kErrorCode);
    if (!value || value->size() < kErrorCodeFixedBytes) return std::nullopt;
    const int hundreds = (*value)[2] & 0x07;
    const int number = (*value)[3];
    if (hundreds < 3 || hundreds > 6 || number > 99) return std::nullopt;
    return hundreds * 100 + number;
}

std::optional<uint16_t> StunMessage::ChannelNumber() const {
    const auto value = Find(attribute::kChannelNumber);
    if (!value || value->size() != 4) return std::nullopt;
    return Read16(value->data());
}

std::optional<ReservationToken> StunMessage::Token() const {
    const auto value = Find(attribute::kReservationToken);
    ReservationToken token;
    if (!value || value->size() != token.size()) return std::nullopt;
    std::copy(value->begin(), value->end(), token.begin());
    return token;
}

bool StunMessage::IntegrityMatches(std::span<const uint8_t> key) const {
    const auto received = Find(attribute::kMessageIntegrity);
    if (!received || received->size() != kIntegrityBytes) return false;
    return DigestsEqual(IntegrityOf(bytes_.data(), integrityAt_, key), *received);
}

StunWriter::StunWriter(uint16_t method, StunClass stunClass, const TransactionId& id) : bytes_(kHeaderBytes) {
    Write16(&bytes_[0], MessageType(method, stunClass));
    Write32(&bytes_[4], kMagicCookie);
    std::copy(id.begin(), id.end(), bytes_.begin() + 8);
}

StunWriter& StunWriter::Add(uint16_t type, std::span<const uint8_t> value) {
    assert(value.size() <= 0xFFFF);
    const size_t at = bytes_.size();
    bytes_.resize(at + kAttributeHeaderBytes + PaddedLength(value.size()));
    Write16(&bytes_[at], type);
    Write16(&bytes_[at + 2], static_cast<uint16_t>(value.size()));
    std::copy(value.begin(), value.end(), bytes_.begin() + static_cast<ptrdiff_t>(at + kAttributeHeaderBytes));
    return *this;
}

StunWriter& StunWriter::AddText(uint16_t type, std::string_view text) {
    return Add(type, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

StunWriter& StunWriter::AddUint32(uint16_t type, uint32_t value) {
    uint8_t bytes[4];
    Write32(bytes, value);
    return Add(type, bytes);
}

StunWriter& StunWriter::AddAddress(uint16_t type, const rtp::RTPIPv4Address& address) {
    const bool xored = IsXorAddress(type);
    uint8_t value[kIpv4AddressBytes] = {0, kFamilyIpv4};
    Write16(value + 2, static_cast<uint16_t>(address.GetPort() ^ (xored ? kCookieTop : 0)));
    Write32(value + 4, address.GetIP() ^ (xored ? kMagicCookie : 0));
    return Add(type, value);
}

StunWriter& StunWriter::AddChannelNumber(uint16_t channel) {
    uint8_t value[4] = {};
    Write16(value, channel);
    return Add(attribute::kChannelNumber, value);
}

StunWriter& StunWriter::AddEvenPort(bool reserveNext) {
    const uint8_t value[1] = {reserveNext ? kEvenPortReserveBit : uint8_t{0}};
    return Add(attribute::kEvenPort, value);
}

StunWriter& StunWriter::AddRequestedTransport(uint8_t protocol) {
    const uint8_t value[4] = {protocol};
    return Add(attribute::kRequestedTransport, value);
}

StunWriter& StunWriter::AddErrorCode(int code, std::string_view reason) {
    std::vector<uint8_t> value(kErrorCodeFixedBytes);
    value[2] = static_cast<uint8_t>(code / 100);
    value[3] = static_cast<uint8_t>(code % 100);
    value.insert(value.end(), reason.begin(), reason.end());
    return Add(attribute::kErrorCode, value);
}

std::vector<uint8_t> StunWriter::Finish(std::span<const uint8_t> integrityKey) {
    if (!integrityKey.empty()) {
        const size_t integrityAt = bytes_.size();
        const Sha1Digest digest = IntegrityOf(bytes_.data(), integrityAt, integrityKey);
        Add(attribute::kMessageIntegrity, digest);
    }
    assert(bytes_.size() <= kMaxMessageBytes);
    Write16(&bytes_[2], static_cast<uint16_t>(bytes_.size() - kHeaderBytes));
    return std::move(bytes_);
}

std::vector<uint8_t> StunWriter::FinishBefore(uint16_t type, size_t valueLength) {
    const size_t at = bytes_.size();
    const size_t length = at - kHeaderBytes + kAttributeHeaderBytes + PaddedLength(valueLength);
    assert(valueLength <= 0xFFFF && length <= 0xFFFF);
    bytes_.resize(at + kAttributeHeaderBytes);
    Write16(&bytes_[at], type);
    Write16(&bytes_[at + 2], static_cast<uint16_t>(valueLength));
    Write16(&bytes_[2], static_cast<uint16_t>(length));
    return std::move(bytes_);
}

}  // namespace relay
