// The relay client's formats against fixed bytes: the published STUN test
// vectors (RFC 5769) for MESSAGE-INTEGRITY and XOR-MAPPED-ADDRESS, the
// attributes a relay allocation uses, hostile input, ChannelData, the
// first-byte demultiplexing and the deframing of a TCP stream.
#include "transport/relay/channel_data.h"
#include "transport/relay/relay_demux.h"
#include "transport/relay/stream_deframer.h"
#include "transport/relay/stun_integrity.h"
#include "transport/relay/stun_message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace relay;

namespace {
using Bytes = std::vector<uint8_t>;

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

// RFC 5769 2.1: a Binding request with SOFTWARE, PRIORITY, ICE-CONTROLLED,
// USERNAME, MESSAGE-INTEGRITY and FINGERPRINT (padding is spaces).
const Bytes kSampleRequest = FromText(
    std::string("\x00\x01\x00\x58\x21\x12\xa4\x42\xb7\xe7\xa7\x01\xbc\x34\xd6\x86\xfa\x87\xdf\xae"
                "\x80\x22\x00\x10STUN test client"
                "\x00\x24\x00\x04\x6e\x00\x01\xff"
                "\x80\x29\x00\x08\x93\x2f\xf9\xb1\x51\x26\x3b\x36"
                "\x00\x06\x00\x09\x65\x76\x74\x6a\x3a\x68\x36\x76\x59\x20\x20\x20"
                "\x00\x08\x00\x14\x9a\xea\xa7\x0c\xbf\xd8\xcb\x56\x78\x1e\xf2\xb5\xb2\xd3\xf2\x49\xc1\xb5\x71\xa2"
                "\x80\x28\x00\x04\xe5\x7a\x3b\xcf",
                108));
// RFC 5769 2.2: its answer, 192.0.2.1 port 32853 in XOR-MAPPED-ADDRESS.
const Bytes kSampleIpv4Response = FromText(
    std::string("\x01\x01\x00\x3c\x21\x12\xa4\x42\xb7\xe7\xa7\x01\xbc\x34\xd6\x86\xfa\x87\xdf\xae"
                "\x80\x22\x00\x0b\x74\x65\x73\x74\x20\x76\x65\x63\x74\x6f\x72\x20"
                "\x00\x20\x00\x08\x00\x01\xa1\x47\xe1\x12\xa6\x43"
                "\x00\x08\x00\x14\x2b\x91\xf5\x99\xfd\x9e\x90\xc3\x8c\x74\x89\xf9\x2a\xf9\xba\x53\xf0\x6b\xe7\xd7"
                "\x80\x28\x00\x04\xc0\x7d\x4c\x96",
                80));
const std::string kShortTermPassword = "VOkJxbRl1RmTxUk/WvJxBt";
// RFC 5769 2.4: a Binding request with long-term credentials (zero padding).
const Bytes kSampleLongTermRequest = FromText(
    std::string("\x00\x01\x00\x60\x21\x12\xa4\x42\x78\xad\x34\x33\xc6\xad\x72\xc0\x29\xda\x41\x2e"
                "\x00\x06\x00\x12\xe3\x83\x9e\xe3\x83\x88\xe3\x83\xaa\xe3\x83\x83\xe3\x82\xaf\xe3\x82\xb9\x00\x00"
                "\x00\x15\x00\x1c"
                "f//499k954d6OL34oL9FSTvy64sA"
                "\x00\x14\x00\x0b"
                "example.org\x00"
                "\x00\x08\x00\x14\xf6\x70\x24\x65\x6d\xd6\x4a\x3e\x02\xb8\xe0\x71\x2e\x85\xc9\xa2\x8c\xa8\x96\x66",
                116));
// "マトリックス" in UTF-8, which SASLprep leaves as it is; the password is
// the RFC's after SASLprep.
const std::string kLongTermUsername = "\xe3\x83\x9e\xe3\x83\x88\xe3\x83\xaa\xe3\x83\x83\xe3\x82\xaf\xe3\x82\xb9";

std::span<const uint8_t> AsBytes(const std::string& text) {
    return std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}
}  // namespace

TEST(StunVectorTest, TheSampleRequestAndResponseCheckOutUnderTheShortTermPassword) {
    ASSERT_EQ(kSampleRequest.size(), 108u);
    const auto request = StunMessage::Parse(kSampleRequest);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Method(), method::kBinding);
    EXPECT_EQ(request->Class(), StunClass::kRequest);
    EXPECT_EQ(request->Text(attribute::kUsername), "evtj:h6vY");
    EXPECT_EQ(request->Text(attribute::kSoftware), "STUN test client");
    // The digest covers what precedes it with the length cut before FINGERPRINT.
    EXPECT_TRUE(request->IntegrityMatches(AsBytes(kShortTermPassword)));
    EXPECT_FALSE(request->IntegrityMatches(AsBytes("VOkJxbRl1RmTxUk/WvJxBT")));

    Bytes altered = kSampleRequest;
    altered[30] ^= 1;  // inside PRIORITY
    EXPECT_FALSE(StunMessage::Parse(altered)->IntegrityMatches(AsBytes(kShortTermPassword)));

    const auto response = StunMessage::Parse(kSampleIpv4Response);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->Class(), StunClass::kSuccess);
    EXPECT_EQ(response->Id(), request->Id());
    EXPECT_EQ(response->Address(attribute::kXorMappedAddress), rtp::RTPIPv4Address(0xC0000201, 32853));
    EXPECT_TRUE(response->IntegrityMatches(AsBytes(kShortTermPassword)));
}

TEST(StunVectorTest, TheLongTermSampleIsBuiltByteForByteUnderTheMd5Key) {
    const LongTermKey key = MakeLongTermKey(kLongTermUsername, "example.org", "TheMatrIX");
    const TransactionId id = {0x78, 0xad, 0x34, 0x33, 0xc6, 0xad, 0x72, 0xc0, 0x29, 0xda, 0x41, 0x2e};
    const Bytes built = StunWriter(method::kBinding, StunClass::kRequest, id)
                            .AddText(attribute::kUsername, kLongTermUsername)
                            .AddText(attribute::kNonce, "f//499k954d6OL34oL9FSTvy64sA")
                            .AddText(attribute::kRealm, "example.org")
                            .Finish(key);
    EXPECT_EQ(built, kSampleLongTermRequest);
    EXPECT_TRUE(StunMessage::Parse(kSampleLongTermRequest)->IntegrityMatches(key));
    EXPECT_FALSE(StunMessage::Parse(kSampleLongTermRequest)
                     ->IntegrityMatches(MakeLongTermKey(kLongTermUsername, "example.org", "TheMatrix")));
}

TEST(StunMessageTest, TypesAndThePlainAttributesAreTheFixedBytes) {
    EXPECT_EQ(MessageType(method::kAllocate, StunClass::kSuccess), 0x0103);
    EXPECT_EQ(MessageType(method::kChannelBind, StunClass::kError), 0x0119);
    EXPECT_EQ(MessageType(method::kData, StunClass::kIndication), 0x0017);
    const rtp::RTPIPv4Address server(0xC6120001, 3478);
    const Bytes bytes = StunWriter(method::kAllocate, StunClass::kError, {})
                            .AddAddress(attribute::kAlternateServer, server)
                            .AddErrorCode(438, "Stale Nonce")
                            .Finish();
    EXPECT_EQ(Bytes(bytes.begin() + kHeaderBytes, bytes.begin() + kHeaderBytes + 20),
              (Bytes{0x80, 0x23, 0, 8, 0, 1, 0x0D, 0x96, 0xC6, 0x12, 0, 1, 0, 9, 0, 15, 0, 0, 4, 38}));
    EXPECT_EQ(StunMessage::Parse(bytes)->Address(attribute::kAlternateServer), server);
    EXPECT_EQ(StunMessage::Parse(bytes)->ErrorCode(), 438);
}

TEST(StunMessageTest, HostileMessagesAreRefusedOrReadSafely) {
    for (size_t length = 0; length < kSampleRequest.size(); ++length) {
        EXPECT_FALSE(StunMessage::Parse(std::span(kSampleRequest.data(), length))) << length;
    }
    const auto refused = [](size_t at, uint8_t value) {
        Bytes bytes = kSampleIpv4Response;
        bytes[at] = value;
        return !StunMessage::Parse(bytes);
    };
    EXPECT_TRUE(refused(0, 0x41)) << "top bits set";
    EXPECT_TRUE(refused(3, 0x3d)) << "length not a multiple of 4";
    EXPECT_TRUE(refused(4, 0x22)) << "cookie";
    EXPECT_TRUE(refused(23, 0x40)) << "SOFTWARE running past the end";

    // Nothing after MESSAGE-INTEGRITY is read: nobody vouches for it.
    const uint8_t key[] = {1};
    Bytes signedThenMore = StunWriter(method::kAllocate, StunClass::kSuccess, {}).Finish(key);
    const Bytes lifetime =
        StunWriter(method::kAllocate, StunClass::kSuccess, {}).AddUint32(attribute::kLifetime, 9).Finish();
    signedThenMore.insert(signedThenMore.end(), lifetime.begin() + kHeaderBytes, lifetime.end());
    signedThenMore[3] = static_cast<uint8_t>(signedThenMore.size() - kHeaderBytes);
    EXPECT_FALSE(StunMessage::Parse(signedThenMore)->Uint32(attribute::kLifetime));

    const uint8_t ipv6[20] = {0, 2, 0x12, 0x34};
    const Bytes six =
        StunWriter(method::kAllocate, StunClass::kSuccess, {}).Add(attribute::kXorRelayedAddress, ipv6).Finish();
    EXPECT_FALSE(StunMessage::Parse(six)->Address(attribute::kXorRelayedAddress)) << "IPv6 reads as none";
}

TEST(ChannelDataTest, FramingDemultiplexingAndTheStream) {
    uint8_t frame[8] = {};
    WriteChannelDataHeader(frame, 0x4ABC, 3);
    EXPECT_EQ(Bytes(frame, frame + 4), (Bytes{0x4A, 0xBC, 0x00, 0x03}));
    const auto view = ParseChannelData(std::span(frame, 8));  // UDP: padding after the payload is ignored
    ASSERT_TRUE(view);
    EXPECT_EQ(view->channel, 0x4ABC);
    EXPECT_EQ(view->payload.size(), 3u);
    EXPECT_FALSE(ParseChannelData(std::span(frame, 6))) << "payload cut short";
    frame[0] = 0x50;
    EXPECT_FALSE(ParseChannelData(std::span(frame, 8))) << "not a channel";

    const std::pair<uint8_t, DatagramKind> kinds[] = {
        {0x00, DatagramKind::kStun},  {0x03, DatagramKind::kStun},        {0x04, DatagramKind::kOther},
        {0x3F, DatagramKind::kOther}, {0x40, DatagramKind::kChannelData}, {0x4F, DatagramKind::kChannelData},
        {0x50, DatagramKind::kOther}, {0x7F, DatagramKind::kOther},       {0x80, DatagramKind::kRtp},
        {0xBF, DatagramKind::kRtp},   {0xC0, DatagramKind::kOther},       {0xFF, DatagramKind::kOther}};
    for (const auto& [first, kind] : kinds) EXPECT_EQ(Classify(first), kind) << int(first);

    // A stream of a STUN message, ChannelData of 5 bytes (3 of padding) and
    // another message, read whole and a byte at a time.
    Bytes stream = kSampleIpv4Response;
    const Bytes channelData = {0x40, 0x00, 0x00, 0x05, 'h', 'e', 'l', 'l', 'o', 0, 0, 0};
    stream.insert(stream.end(), channelData.begin(), channelData.end());
    stream.insert(stream.end(), kSampleRequest.begin(), kSampleRequest.end());
    const std::vector<Bytes> expected = {kSampleIpv4Response, Bytes(channelData.begin(), channelData.begin() + 9),
                                         kSampleRequest};
    for (const size_t chunk : {stream.size(), size_t{1}, size_t{7}}) {
        StreamDeframer deframer;
        std::vector<Bytes> messages;
        for (size_t at = 0; at < stream.size(); at += chunk) {
            const size_t count = std::min(chunk, stream.size() - at);
            std::copy_n(stream.begin() + static_cast<ptrdiff_t>(at), count, deframer.Space().begin());
            deframer.Commit(count);
            std::span<const uint8_t> message;
            while (deframer.Next(&message) == StreamDeframer::Result::kMessage)
                messages.emplace_back(message.begin(), message.end());
        }
        EXPECT_EQ(messages, expected) << "reads of " << chunk;
    }
    StreamDeframer deframer;
    const Bytes garbage = {0x80, 0x00, 0x00, 0x00};
    std::copy(garbage.begin(), garbage.end(), deframer.Space().begin());
    deframer.Commit(garbage.size());
    std::span<const uint8_t> message;
    EXPECT_EQ(deframer.Next(&message), StreamDeframer::Result::kBroken);
    std::copy(channelData.begin(), channelData.end(), deframer.Space().begin());
    deframer.Commit(channelData.size());
    EXPECT_EQ(deframer.Next(&message), StreamDeframer::Result::kBroken) << "out of step for good";
}
