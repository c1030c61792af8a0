// What a relay server (or anyone forging its address) may send a session's
// socket: the bytes read as a STUN message with every attribute touched, as
// ChannelData, as a TCP stream cut into messages in reads of varying size,
// and handed to an allocation that is allocated and has a bound peer. Every
// span handed out must lie within the bytes it came from.
#include "transport/relay/allocation.h"
#include "transport/relay/channel_data.h"
#include "transport/relay/stream_deframer.h"
#include "transport/relay/stun_integrity.h"
#include "transport/relay/stun_message.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {
using namespace relay;

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckWithin(std::span<const uint8_t> part, std::span<const uint8_t> whole) {
    Check(part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

struct CountingRandom : rtp::RTPRandom {
    uint32_t next = 1;
    uint32_t GetRandom32() override { return next++; }
    double GetRandomDouble() override { return 0.5; }
};

struct LastSent : RelayPort {
    std::vector<uint8_t> bytes;
    bool SendToServer(const rtp::RTPIPv4Address&, std::span<const Piece> pieces) override {
        bytes.clear();
        for (const Piece piece : pieces) bytes.insert(bytes.end(), piece.begin(), piece.end());
        return true;
    }
    void OnRelayEvent(const RelayEvent&) override {}
};

const LongTermKey kKey = MakeLongTermKey("u", "r", "p");
const rtp::RTPIPv4Address kServer(0xC6120001, 3478), kPeer(0xC6120003, 6000);

void Answer(Allocation& allocation, const LastSent& port, StunClass answerClass, bool challenge) {
    const StunMessage request = *StunMessage::Parse(port.bytes);
    StunWriter writer(request.Method(), answerClass, request.Id());
    if (challenge) {
        writer.AddErrorCode(401, "").AddText(attribute::kRealm, "r").AddText(attribute::kNonce, "n");
    } else {
        writer.AddAddress(attribute::kXorRelayedAddress, kServer);
    }
    const std::vector<uint8_t> answer = writer.Finish(challenge ? std::span<const uint8_t>() : kKey);
    RelayedDatagram relayed;
    allocation.OnServerDatagram(answer, 0, &relayed);
}

void TouchMessage(std::span<const uint8_t> bytes) {
    const std::optional<StunMessage> message = StunMessage::Parse(bytes);
    if (!message) return;
    for (uint16_t type = 0; type < 0x30; ++type) {
        if (const auto value = message->Find(type)) CheckWithin(*value, bytes);
        message->Address(type);
    }
    message->Address(attribute::kAlternateServer);
    message->Text(attribute::kSoftware);
    message->ErrorCode();
    message->ChannelNumber();
    message->Token();
    message->IntegrityMatches(kKey);
}

void Deframe(std::span<const uint8_t> bytes) {
    StreamDeframer deframer;
    const size_t chunk = bytes.empty() ? 1 : bytes[0] % 61 + 1;
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        const size_t count = std::min(chunk, bytes.size() - at);
        std::span<uint8_t> space = deframer.Space();
        Check(space.size() >= count);
        std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(at), count, space.begin());
        deframer.Commit(count);
        std::span<const uint8_t> message;
        while (deframer.Next(&message) == StreamDeframer::Result::kMessage) {
            Check(message.size() <= StreamDeframer::kMaxFrameBytes);
            TouchMessage(message);
        }
    }
}

void ToAllocation(std::span<const uint8_t> bytes) {
    LastSent port;
    CountingRandom random;
    Allocation allocation(port, random, {kServer, "u", "p"}, PortRequest{true, std::nullopt});
    allocation.Start(0);
    Answer(allocation, port, StunClass::kError, true);
    Answer(allocation, port, StunClass::kSuccess, false);
    Check(allocation.State() == AllocationState::kAllocated && allocation.AddPeer(kPeer, 0));
    Answer(allocation, port, StunClass::kSuccess, false);  // the channel
    RelayedDatagram relayed;
    if (allocation.OnServerDatagram(bytes, 1, &relayed) == Allocation::Received::kRelayed)
        CheckWithin(relayed.payload, bytes);
    allocation.OnTimer(2);
    allocation.SendToPeer(kPeer, bytes, 3);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> copy(data, data + size);  // exactly as long as the input
    const std::span<const uint8_t> bytes(copy);
    TouchMessage(bytes);
    if (const auto channelData = ParseChannelData(bytes)) CheckWithin(channelData->payload, bytes);
    Deframe(bytes);
    ToAllocation(bytes);
    return 0;
}
