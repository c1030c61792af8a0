#include "transport/relay/allocation.h"

#include "transport/relay/binding_probe.h"
#include "transport/relay/relay_demux.h"

#include <algorithm>
#include <utility>

namespace relay {
namespace {
// Longest realm and nonce sent back to a server.
constexpr size_t kMaxRealmOrNonceBytes = 763;

bool IsLoopback(uint32_t address) { return (address >> 24) == 127; }
bool IsHost(const rtp::RTPIPv4Address& address) {
    return address.GetIP() != 0 && address.GetIP() != 0xFFFFFFFF && address.GetPort() != 0;
}
}  // namespace

Allocation::Allocation(RelayPort& port, rtp::RTPRandom& random, RelayServer server, PortRequest portRequest)
    : port_(port), random_(random), server_(std::move(server)), portRequest_(portRequest) {
    triedServers_.push_back(server_.address);
}

void Allocation::Start(int64_t nowMs) {
    if (state_ != AllocationState::kIdle) return;
    startMs_ = nowMs;
    state_ = AllocationState::kAllocating;
    if (server_.username.size() > kMaxUsernameBytes) {
        Fail(RelayEventKind::kAuthenticationFailed, method::kAllocate);
        return;
    }
    Send(Request::kAllocate, 0, nowMs);
}

std::vector<uint8_t> Allocation::Build(Request request, size_t peerIndex, const TransactionId& id) const {
    if (request == Request::kProbe) return BuildBindingRequest(id);
    static constexpr uint16_t kMethods[] = {method::kAllocate,         method::kRefresh,     method::kRefresh,
                                            method::kCreatePermission, method::kChannelBind, method::kBinding};
    StunWriter writer(kMethods[static_cast<size_t>(request)], StunClass::kRequest, id);
    switch (request) {
        case Request::kAllocate:
            writer.AddRequestedTransport(kTransportUdp);
            if (portRequest_.reservedPort) {
                writer.Add(attribute::kReservationToken, *portRequest_.reservedPort);
            } else if (portRequest_.reserveNextPort) {
                writer.AddEvenPort(true);
            }
            break;
        case Request::kClose: writer.AddUint32(attribute::kLifetime, 0); break;
        case Request::kPermission:
            writer.AddAddress(attribute::kXorPeerAddress, rtp::RTPIPv4Address(permissions_[peerIndex].address, 0));
            break;
        case Request::kChannelBind:
            writer.AddChannelNumber(channels_[peerIndex].number);
            writer.AddAddress(attribute::kXorPeerAddress, channels_[peerIndex].peer);
            break;
        default: break;
    }
    if (!key_) return writer.Finish();
    writer.AddText(attribute::kUsername, server_.username);
    writer.AddText(attribute::kRealm, realm_);
    writer.AddText(attribute::kNonce, nonce_);
    return writer.Finish(*key_);
}

void Allocation::Send(Request request, size_t peerIndex, int64_t nowMs, int staleNonces) {
    pending_.push_back(Pending{
        request, StunTransaction(Build(request, peerIndex, RandomTransactionId(random_)), nowMs, !Reliable()),
        peerIndex, staleNonces, request == Request::kProbe ? std::nullopt : key_});
    const Piece bytes[] = {pending_.back().transaction.Request()};
    SendPieces(bytes);
}

bool Allocation::SendPieces(std::span<const Piece> pieces) { return port_.SendToServer(server_.address, pieces); }

void Allocation::OnTimer(int64_t nowMs) {
    std::vector<Pending> givenUp;
    for (size_t i = 0; i < pending_.size();) {
        switch (pending_[i].transaction.Poll(nowMs)) {
            case StunTransaction::Due::kSendAgain: {
                const Piece bytes[] = {pending_[i].transaction.Request()};
                SendPieces(bytes);
                break;
            }
            case StunTransaction::Due::kGiveUp:
                givenUp.push_back(std::move(pending_[i]));
                pending_.erase(pending_.begin() + static_cast<ptrdiff_t>(i));
                continue;
            case StunTransaction::Due::kNothing: break;
        }
        ++i;
    }
    for (const Pending& pending : givenUp) OnGivenUp(pending, nowMs);

    if (state_ == AllocationState::kWaitingToRetry && nowMs >= retryAtMs_) {
        state_ = AllocationState::kAllocating;
        Send(Request::kAllocate, 0, nowMs);
    }
    if (state_ != AllocationState::kAllocated) return;
    if (nowMs >= refreshAtMs_) {
        refreshAtMs_ = kNever;
        Send(Request::kRefresh, 0, nowMs);
    }
    RequestPeers(nowMs);
    if (ShouldProbe() && nowMs >= lastHeardMs_ + kSilenceBeforeProbeMs) Send(Request::kProbe, 0, nowMs);
}

int64_t Allocation::NextTimerMs() const {
    int64_t next = kNever;
    for (const Pending& pending : pending_) next = std::min(next, pending.transaction.NextMs());
    if (state_ == AllocationState::kWaitingToRetry) next = std::min(next, retryAtMs_);
    if (state_ != AllocationState::kAllocated) return next;
    next = std::min(next, refreshAtMs_);
    for (const Permission& permission : permissions_) {
        if (!permission.refused) next = std::min(next, permission.refreshAtMs);
    }
    for (const Channel& channel : channels_) {
        if (!channel.refused) next = std::min(next, channel.refreshAtMs);
    }
    if (ShouldProbe()) next = std::min(next, lastHeardMs_ + kSilenceBeforeProbeMs);
    return next;
}

bool Allocation::ShouldProbe() const {
    return lastSentMs_ > lastHeardMs_ && std::none_of(pending_.begin(), pending_.end(), [](const Pending& pending) {
               return pending.request == Request::kProbe;
           });
}

Allocation::Received Allocation::OnServerDatagram(std::span<const uint8_t> bytes, int64_t nowMs,
                                                  RelayedDatagram* relayed) {
    Received received = Received::kDropped;
    switch (Classify(bytes.data(), bytes.size())) {
        case DatagramKind::kChannelData: received = OnChannelData(bytes, relayed); break;
        case DatagramKind::kStun: {
            const std::optional<StunMessage> message = StunMessage::Parse(bytes);
            if (!message) break;
            if (message->Class() == StunClass::kIndication && message->Method() == method::kData) {
                received = OnDataIndication(*message, relayed);
                break;
            }
            const auto answered = std::find_if(pending_.begin(), pending_.end(), [&message](const Pending& pending) {
                return pending.transaction.Answers(*message);
            });
            if (answered == pending_.end()) break;
            // What answers a request with credentials must prove it knows them
            // too; only an error answer (a 438, say) may come without.
            if (answered->key && (message->HasIntegrity() || message->Class() == StunClass::kSuccess) &&
                !message->IntegrityMatches(*answered->key)) {
                break;
            }
            const Pending pending = std::move(*answered);
            pending_.erase(answered);
            received = Received::kAnswer;
            lastHeardMs_ = nowMs;
            OnAnswer(pending, *message, nowMs);
            break;
        }
        default: break;
    }
    if (received == Received::kRelayed) lastHeardMs_ = nowMs;
    return received;
}

void Allocation::OnAnswer(const Pending& pending, const StunMessage& answer, int64_t nowMs) {
    const int errorCode = answer.Class() == StunClass::kError ? answer.ErrorCode().value_or(0) : 0;
    if (errorCode == error::kUnauthorized) Add(counters_.unauthorized);
    if (errorCode == error::kAllocationMismatch) Add(counters_.mismatches);
    if (errorCode == error::kStaleNonce) {
        Add(counters_.staleNonces);
        if (pending.key && pending.staleNonces < kMaxStaleNonceResends && TakeNonce(answer)) {
            Send(pending.request, pending.peerIndex, nowMs, pending.staleNonces + 1);
            return;
        }
    }
    switch (pending.request) {
        case Request::kAllocate: OnAllocateAnswer(pending, answer, errorCode, nowMs); break;
        case Request::kRefresh: OnRefreshAnswer(answer, errorCode, nowMs); break;
        case Request::kClose:
            state_ = AllocationState::kClosed;
            Report(RelayEventKind::kClosed, method::kRefresh, errorCode);
            break;
        case Request::kPermission:
        case Request::kChannelBind: OnPeerAnswer(pending, errorCode, nowMs); break;
        case Request::kProbe: break;
    }
}

void Allocation::OnAllocateAnswer(const Pending& pending, const StunMessage& answer, int errorCode, int64_t nowMs) {
    if (state_ != AllocationState::kAllocating) return;
    if (answer.Class() == StunClass::kSuccess) {
        OnAllocated(answer, nowMs);
    } else if (errorCode == error::kUnauthorized) {
        if (pending.key || !TakeNonce(answer)) {
            Fail(RelayEventKind::kAuthenticationFailed, method::kAllocate, errorCode);
        } else {
            Send(Request::kAllocate, 0, nowMs);
        }
    } else if (errorCode == error::kAllocationMismatch) {
        if (mismatchRetries_ < kMaxMismatchRetries) {
            ++mismatchRetries_;
            state_ = AllocationState::kWaitingToRetry;
            retryAtMs_ = nowMs + kMismatchRetryMs;
        } else {
            Fail(RelayEventKind::kNewPortsNeeded, method::kAllocate, errorCode);
        }
    } else if (errorCode != error::kTryAlternate || !FollowRedirect(answer, nowMs)) {
        Fail(RelayEventKind::kRefused, method::kAllocate, errorCode);
    }
}

void Allocation::OnAllocated(const StunMessage& answer, int64_t nowMs) {
    const std::optional<rtp::RTPIPv4Address> relayed = answer.Address(attribute::kXorRelayedAddress);
    if (!relayed) {
        Fail(RelayEventKind::kRefused, method::kAllocate);
        return;
    }
    relayed_ = *relayed;
    mapped_ = answer.Address(attribute::kXorMappedAddress);
    token_ = answer.Token();
    state_ = AllocationState::kAllocated;
    counters_.allocationMs.store(nowMs - startMs_, std::memory_order_relaxed);
    ScheduleRefresh(answer.Uint32(attribute::kLifetime).value_or(kDefaultLifetimeSeconds), nowMs);
    Report(RelayEventKind::kAllocated, method::kAllocate, 0, relayed_);
    RequestPeers(nowMs);
}

void Allocation::ScheduleRefresh(uint32_t lifetimeSeconds, int64_t nowMs) {
    const int64_t lifetimeMs = int64_t{lifetimeSeconds} * 1000;
    refreshAtMs_ = nowMs + (lifetimeMs >= 2 * kRefreshMarginMs ? lifetimeMs - kRefreshMarginMs : lifetimeMs / 2);
}

void Allocation::OnRefreshAnswer(const StunMessage& answer, int errorCode, int64_t nowMs) {
    if (state_ != AllocationState::kAllocated) return;
    const uint32_t lifetime = answer.Uint32(attribute::kLifetime).value_or(kDefaultLifetimeSeconds);
    if (answer.Class() != StunClass::kSuccess || lifetime == 0) {
        Fail(RelayEventKind::kAllocationLost, method::kRefresh, errorCode);
        return;
    }
    Add(counters_.refreshes);
    ScheduleRefresh(lifetime, nowMs);
}

void Allocation::OnGivenUp(const Pending& pending, int64_t nowMs) {
    switch (pending.request) {
        case Request::kAllocate: Fail(RelayEventKind::kRequestTimedOut, method::kAllocate); break;
        case Request::kRefresh: Fail(RelayEventKind::kRequestTimedOut, method::kRefresh); break;
        case Request::kClose:
            state_ = AllocationState::kClosed;
            Report(RelayEventKind::kClosed, method::kRefresh);
            break;
        case Request::kPermission:
            if (state_ != AllocationState::kAllocated) break;
            // Asked again at once: the permission still holds for a minute.
            permissions_[pending.peerIndex].refreshAtMs = nowMs;
            Report(RelayEventKind::kRequestTimedOut, method::kCreatePermission, 0,
                   rtp::RTPIPv4Address(permissions_[pending.peerIndex].address, 0));
            break;
        case Request::kChannelBind:
            if (state_ != AllocationState::kAllocated) break;
            channels_[pending.peerIndex].refreshAtMs = nowMs;
            Report(RelayEventKind::kRequestTimedOut, method::kChannelBind, 0, channels_[pending.peerIndex].peer);
            break;
        case Request::kProbe: Fail(RelayEventKind::kServerSilent, method::kBinding); break;
    }
}

bool Allocation::TakeNonce(const StunMessage& answer) {
    const std::optional<std::string_view> nonce = answer.Text(attribute::kNonce);
    const std::optional<std::string_view> realm = answer.Text(attribute::kRealm);
    if (!nonce || nonce->empty() || nonce->size() > kMaxRealmOrNonceBytes) return false;
    if (!realm && realm_.empty()) return false;
    if (realm) {
        if (realm->size() > kMaxRealmOrNonceBytes) return false;
        realm_ = *realm;
    }
    nonce_ = *nonce;
    key_ = MakeLongTermKey(server_.username, realm_, server_.password);
    return true;
}

bool Allocation::FollowRedirect(const StunMessage& answer, int64_t nowMs) {
    const std::optional<rtp::RTPIPv4Address> alternate = answer.Address(attribute::kAlternateServer);
    if (!alternate || !IsHost(*alternate)) return false;
    if (IsLoopback(alternate->GetIP()) && !IsLoopback(triedServers_.front().GetIP())) return false;
    if (std::find(triedServers_.begin(), triedServers_.end(), *alternate) != triedServers_.end()) return false;
    if (triedServers_.size() > static_cast<size_t>(kMaxRedirects)) return false;
    triedServers_.push_back(*alternate);
    server_.address = *alternate;
    realm_.clear();
    nonce_.clear();
    key_.reset();
    Add(counters_.redirects);
    Report(RelayEventKind::kRedirected, method::kAllocate, error::kTryAlternate, *alternate);
    Send(Request::kAllocate, 0, nowMs);
    return true;
}

void Allocation::Close(int64_t nowMs) {
    switch (state_) {
        case AllocationState::kAllocated:
            pending_.clear();
            state_ = AllocationState::kClosing;
            Send(Request::kClose, 0, nowMs);
            break;
        case AllocationState::kIdle:
        case AllocationState::kAllocating:
        case AllocationState::kWaitingToRetry:
            pending_.clear();
            state_ = AllocationState::kClosed;
            Report(RelayEventKind::kClosed, method::kRefresh);
            break;
        default: break;
    }
}

void Allocation::Fail(RelayEventKind kind, uint16_t method, int errorCode) {
    if (state_ == AllocationState::kFailed) return;
    state_ = AllocationState::kFailed;
    pending_.clear();
    Report(kind, method, errorCode, server_.address);
}

void Allocation::Report(RelayEventKind kind, uint16_t method, int errorCode, rtp::RTPIPv4Address address) {
    port_.OnRelayEvent({kind, method, errorCode, address});
}

}  // namespace relay
