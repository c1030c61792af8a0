// The peers of an allocation and the media to and from them: permissions
// and channels, and the framing of each datagram.
#include "transport/relay/allocation.h"

#include "transport/relay/channel_data.h"

#include <algorithm>

namespace relay {
namespace {
constexpr uint8_t kZeroPadding[3] = {};
// A Send indication's attributes around the payload: XOR-PEER-ADDRESS and DATA's header.
constexpr size_t kIndicationBytes = kAttributeHeaderBytes + 8 + kAttributeHeaderBytes;
}  // namespace

bool Allocation::AddPeer(const rtp::RTPIPv4Address& peer, int64_t nowMs) {
    if (state_ == AllocationState::kClosing || state_ == AllocationState::kClosed ||
        state_ == AllocationState::kFailed) {
        return false;
    }
    if (FindChannel(peer)) return true;
    if (channels_.size() >= kMaxChannels || kFirstChannel + channels_.size() > kLastChannel) return false;
    if (!FindPermission(peer.GetIP())) permissions_.push_back({peer.GetIP(), 0});
    channels_.push_back({peer, static_cast<uint16_t>(kFirstChannel + channels_.size()), 0});
    RequestPeers(nowMs);
    return true;
}

bool Allocation::SendToPeer(const rtp::RTPIPv4Address& peer, std::span<const uint8_t> payload, int64_t nowMs) {
    if (state_ != AllocationState::kAllocated) return false;
    const Channel* channel = FindChannel(peer);
    if (!channel) return false;
    bool sent = false;
    const size_t padding = PaddedLength(payload.size()) - payload.size();
    if (channel->bound) {
        if (payload.size() > 0xFFFF) return false;
        uint8_t head[kChannelDataHeaderBytes];
        WriteChannelDataHeader(head, channel->number, payload.size());
        const Piece pieces[] = {head, payload, std::span(kZeroPadding, Reliable() ? padding : 0)};
        sent = SendPieces(pieces);
    } else {
        const Permission* permission = FindPermission(peer.GetIP());
        if (!permission || permission->refused || PaddedLength(payload.size()) + kIndicationBytes > 0xFFFF)
            return false;
        const std::vector<uint8_t> head =
            StunWriter(method::kSend, StunClass::kIndication, RandomTransactionId(random_))
                .AddAddress(attribute::kXorPeerAddress, peer)
                .FinishBefore(attribute::kData, payload.size());
        const Piece pieces[] = {head, payload, std::span(kZeroPadding, padding)};
        sent = SendPieces(pieces);
    }
    if (!sent) return false;
    Add(counters_.datagramsOut);
    Add(counters_.bytesOut, payload.size());
    lastSentMs_ = nowMs;
    return true;
}

void Allocation::RequestPeers(int64_t nowMs) {
    if (state_ != AllocationState::kAllocated) return;
    for (size_t i = 0; i < permissions_.size(); ++i) {
        if (permissions_[i].refused || nowMs < permissions_[i].refreshAtMs) continue;
        permissions_[i].refreshAtMs = kNever;
        Send(Request::kPermission, i, nowMs);
    }
    for (size_t i = 0; i < channels_.size(); ++i) {
        if (channels_[i].refused || nowMs < channels_[i].refreshAtMs) continue;
        channels_[i].refreshAtMs = kNever;
        Send(Request::kChannelBind, i, nowMs);
    }
}

Allocation::Received Allocation::OnChannelData(std::span<const uint8_t> bytes, RelayedDatagram* relayed) {
    const std::optional<ChannelDataView> view = ParseChannelData(bytes);
    if (!view || state_ != AllocationState::kAllocated) return Received::kDropped;
    const auto channel = std::find_if(channels_.begin(), channels_.end(),
                                      [&view](const Channel& channel) { return channel.number == view->channel; });
    if (channel == channels_.end()) return Received::kDropped;
    return Relayed(channel->peer, view->payload, relayed);
}

Allocation::Received Allocation::OnDataIndication(const StunMessage& message, RelayedDatagram* relayed) {
    const std::optional<rtp::RTPIPv4Address> peer = message.Address(attribute::kXorPeerAddress);
    const auto data = message.Find(attribute::kData);
    if (!peer || !data || state_ != AllocationState::kAllocated) return Received::kDropped;
    const Permission* permission = FindPermission(peer->GetIP());
    if (!permission || permission->refused) return Received::kDropped;
    return Relayed(*peer, *data, relayed);
}

Allocation::Received Allocation::Relayed(const rtp::RTPIPv4Address& peer, std::span<const uint8_t> payload,
                                         RelayedDatagram* relayed) {
    *relayed = {peer, payload};
    Add(counters_.datagramsIn);
    Add(counters_.bytesIn, payload.size());
    return Received::kRelayed;
}

void Allocation::OnPeerAnswer(const Pending& pending, int errorCode, int64_t nowMs) {
    if (state_ != AllocationState::kAllocated) return;
    const bool permission = pending.request == Request::kPermission;
    const bool refused = errorCode != 0;
    rtp::RTPIPv4Address peer;
    if (permission) {
        Permission& entry = permissions_[pending.peerIndex];
        entry.refused = refused;
        entry.refreshAtMs = nowMs + kPeerRefreshMs;
        peer = rtp::RTPIPv4Address(entry.address, 0);
    } else {
        Channel& entry = channels_[pending.peerIndex];
        entry.refused = refused;
        entry.bound = !refused;
        entry.refreshAtMs = nowMs + kPeerRefreshMs;
        peer = entry.peer;
    }
    if (refused) {
        Report(RelayEventKind::kPeerRefused, permission ? method::kCreatePermission : method::kChannelBind, errorCode,
               peer);
    }
}

Allocation::Permission* Allocation::FindPermission(uint32_t address) {
    const auto found = std::find_if(permissions_.begin(), permissions_.end(),
                                    [address](const Permission& permission) { return permission.address == address; });
    return found == permissions_.end() ? nullptr : &*found;
}

Allocation::Channel* Allocation::FindChannel(const rtp::RTPIPv4Address& peer) {
    const auto found = std::find_if(channels_.begin(), channels_.end(),
                                    [&peer](const Channel& channel) { return channel.peer == peer; });
    return found == channels_.end() ? nullptr : &*found;
}

}  // namespace relay
