// What a relay server (or anyone forging its address) may send a session's
// socket: the bytes read as a STUN message with every attribute touched, as
// ChannelData, as a TCP stream cut into messages in reads of varying size,
// and handed to an allocation that is allocated and has a bound peer. Every
// span handed out must lie within the bytes it came from.
#include "tests/transport/relay/canned_server.h"
#include "tests/transport/rtp/rtp_test_support.h"
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
    message->IntegrityMatches(relay_testing::kKey);
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
    relay_testing::RecordingPort port;
    rtp_testing::FixedRandom random;
    Allocation allocation(port, random, relay_testing::kServerSettings, PortRequest{true, std::nullopt});
    relay_testing::AllocateWithBoundPeer(allocation, port, 0);
    Check(allocation.State() == AllocationState::kAllocated);
    RelayedDatagram relayed;
    if (allocation.OnServerDatagram(bytes, 1, &relayed) == Allocation::Received::kRelayed)
        CheckWithin(relayed.payload, bytes);
    allocation.OnTimer(2);
    allocation.SendToPeer(relay_testing::kPeer, bytes, 3);
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
