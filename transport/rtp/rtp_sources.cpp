#include "transport/rtp/rtp_sources.h"

#include "transport/rtp/rtp_defaults.h"
#include "transport/rtp/rtp_packet.h"
#include "transport/rtp/rtp_packet_pool.h"
#include "transport/rtp/rtp_session.h"

#include <cassert>
#include <string_view>

namespace rtp {
namespace {
constexpr double kDelayUnitsPerSecond = 65536.0;  // DLSR field unit

// The middle 32 bits of a 64-bit NTP timestamp (LSR field).
uint32_t MiddleOfNTP(const RTCPSenderInfo& info) { return (info.ntpMSW << 16) | (info.ntpLSW >> 16); }
}  // namespace

RTPSources::RTPSources(RTPSession& session, RTPPacketPool& pool)
    : session_(session), pool_(pool), current_(table_.end()) {}

RTPSources::~RTPSources() { Clear(); }

void RTPSources::Clear() {
    for (auto& entry : table_) ReleaseQueue(entry.second.get());
    table_.clear();
    current_ = table_.end();
    unvalidated_.clear();
    collisions_.Clear();
}

RTPSourceData* RTPSources::Find(uint32_t ssrc) {
    const auto it = table_.find(ssrc);
    return it == table_.end() ? nullptr : it->second.get();
}

RTPSourceData* RTPSources::Obtain(uint32_t ssrc, bool* created) {
    *created = false;
    if (RTPSourceData* source = Find(ssrc)) return source;
    if (unvalidated_.size() >= kMaximumUnvalidatedSources) EvictOldestUnvalidated();
    // Insertion may rehash, which would invalidate the iteration position.
    const uint32_t currentSSRC = current_ == table_.end() ? 0 : current_->first;
    const bool hadCurrent = current_ != table_.end();
    auto& slot = table_[ssrc];
    slot = std::make_unique<RTPSourceData>(ssrc);
    current_ = hadCurrent ? table_.find(currentSSRC) : table_.end();
    slot->unvalidatedEntry_ = unvalidated_.insert(unvalidated_.end(), ssrc);
    *created = true;
    return slot.get();
}

bool RTPSources::Validate(RTPSourceData* source) {
    assert(!source->validated_);
    if (table_.size() - unvalidated_.size() >= kMaximumValidatedSources) return false;
    unvalidated_.erase(source->unvalidatedEntry_);
    source->validated_ = true;
    return true;
}

void RTPSources::EvictOldestUnvalidated() {
    const auto entry = table_.find(unvalidated_.front());
    assert(entry != table_.end());
    session_.OnRemoveSource(entry->second.get());
    Erase(entry);
}

RTPSources::Table::iterator RTPSources::Erase(Table::iterator entry) {
    RTPSourceData* source = entry->second.get();
    ReleaseQueue(source);
    if (!source->validated_) unvalidated_.erase(source->unvalidatedEntry_);
    if (current_ == entry) current_ = table_.end();
    return table_.erase(entry);
}

void RTPSources::ReleaseQueue(RTPSourceData* source) {
    RTPPacket* packet = source->queueHead_;
    while (packet) {
        RTPPacket* next = packet->next;
        pool_.Release(packet);
        packet = next;
    }
    source->queueHead_ = source->queueTail_ = nullptr;
}

void RTPSources::ProcessRTPPacket(RTPPacket* packet, const RTPIPv4Address& sender, double now, double timestampUnit) {
    bool created = false;
    RTPSourceData* source = Obtain(packet->GetSSRC(), &created);
    if (source->hasRTPAddress_ && !(source->rtpAddress_ == sender)) {
        // Another participant uses this SSRC: keep the first, note the other once.
        if (!collisions_.Contains(sender, true)) {
            collisions_.Add(sender, true, now);
            session_.OnSSRCCollision(source, &sender, true);
        }
        pool_.Release(packet);
        return;
    }
    if (!source->hasRTPAddress_) {
        source->rtpAddress_ = sender;
        source->hasRTPAddress_ = true;
    }
    if (created) session_.OnNewSource(source);
    source->lastHeardTime_ = now;

    const uint16_t sequence = packet->GetSequenceNumber();
    // A late packet (sent again, duplicated or overtaken) says when it was
    // resent, not how the network's delay varies: it does not feed the jitter.
    const bool late = source->sequenceStarted_ && !source->sequence_.InProbation() &&
                      !SequenceIsNewer(sequence, static_cast<uint16_t>(source->sequence_.GetExtendedHighest()));
    if (!source->sequenceStarted_) {
        // A source that announced its CNAME needs no probation.
        source->sequence_.Start(sequence, source->cname_.empty() ? kMinSequential : 0);
        source->sequenceStarted_ = true;
    }
    switch (source->sequence_.Update(sequence)) {
        case RTPSequenceValidator::Result::kRejected: pool_.Release(packet); return;
        case RTPSequenceValidator::Result::kProbationRestarted: ReleaseQueue(source); break;
        case RTPSequenceValidator::Result::kValidated:
        case RTPSequenceValidator::Result::kHeld:
        case RTPSequenceValidator::Result::kAccepted: break;
    }
    if (!source->validated_ && !source->sequence_.InProbation() && !Validate(source)) {
        // No room among the validated: probation starts over until some leave.
        ReleaseQueue(source);
        source->sequenceStarted_ = false;
        pool_.Release(packet);
        return;
    }
    const uint32_t highest = source->sequence_.GetExtendedHighest();
    packet->SetExtendedSequenceNumber(highest + SequenceDistance(sequence, static_cast<uint16_t>(highest)));
    packet->next = nullptr;
    if (source->queueTail_)
        source->queueTail_->next = packet;
    else
        source->queueHead_ = packet;
    source->queueTail_ = packet;

    if (!source->sequence_.InProbation()) {
        if (!late) source->jitter_.Update(packet->GetTimestamp(), now / timestampUnit);
        source->lastRTPTime_ = now;
        source->isSender_ = true;
        source->receivedSinceReport_ = true;
    }
    session_.OnRTPPacket(packet, now, &sender);
}

RTPSourceData* RTPSources::ProcessRTCPSource(uint32_t ssrc, const RTPIPv4Address& sender, double now) {
    bool created = false;
    RTPSourceData* source = Obtain(ssrc, &created);
    if (source->hasRTCPAddress_ && !(source->rtcpAddress_ == sender)) {
        if (!collisions_.Contains(sender, false)) {
            collisions_.Add(sender, false, now);
            session_.OnSSRCCollision(source, &sender, false);
        }
        return nullptr;
    }
    if (!source->hasRTCPAddress_) {
        source->rtcpAddress_ = sender;
        source->hasRTCPAddress_ = true;
    }
    if (created) session_.OnNewSource(source);
    source->lastHeardTime_ = now;
    return source;
}

void RTPSources::ProcessSenderInfo(RTPSourceData* source, const RTCPSenderInfo& info, double now) {
    source->senderInfo_ = info;
    source->senderInfoTime_ = now;
    source->hasSenderInfo_ = true;
}

void RTPSources::ProcessReportAboutUs(RTPSourceData* source, const RTCPReportBlock& block, double now) {
    source->reportAboutUs_ = block;
    source->reportAboutUsTime_ = now;
    source->hasReportAboutUs_ = true;
}

void RTPSources::ProcessCNAME(RTPSourceData* source, const uint8_t* cname, size_t length,
                              const RTPIPv4Address& sender) {
    const std::string_view received(reinterpret_cast<const char*>(cname), length);
    if (source->cname_.empty()) {
        source->cname_.assign(received);
    } else if (source->cname_ != received) {
        session_.OnCNAMECollision(source, &sender, cname, length);
    }
}

void RTPSources::ProcessNote(RTPSourceData* source, const uint8_t* note, size_t length, double now) {
    source->note_.assign(reinterpret_cast<const char*>(note), length);
    source->noteTime_ = now;
}

bool RTPSources::ProcessBYE(uint32_t ssrc, const uint8_t* reason, size_t length, double now) {
    RTPSourceData* source = Find(ssrc);
    if (!source || source->receivedBYE_) return false;
    const bool wasMember = IsMember(*source);
    source->receivedBYE_ = true;
    source->isSender_ = false;
    source->byeTime_ = now;
    source->byeReason_.assign(reinterpret_cast<const char*>(reason), length);
    session_.OnBYEPacket(source);
    return wasMember;
}

bool RTPSources::IsMember(const RTPSourceData& source) { return source.validated_ && !source.receivedBYE_; }

int RTPSources::CountMembers() const {
    int members = 0;
    for (const auto& entry : table_) members += IsMember(*entry.second);
    return members;
}

int RTPSources::CountSenders() const {
    int senders = 0;
    for (const auto& entry : table_) senders += IsMember(*entry.second) && entry.second->isSender_;
    return senders;
}

void RTPSources::CollectReportBlocks(std::vector<RTCPReportBlock>* blocks, double now) {
    blocks->clear();
    for (auto& entry : table_) {
        RTPSourceData& source = *entry.second;
        if (!IsMember(source) || !source.receivedSinceReport_) continue;
        source.receivedSinceReport_ = false;
        RTCPReportBlock block;
        block.ssrc = source.ssrc_;
        block.fractionLost = source.sequence_.TakeFractionLost();
        source.lastFractionLost_ = block.fractionLost;
        block.packetsLost = source.sequence_.GetCumulativeLost();
        block.extendedHighestSequence = source.sequence_.GetExtendedHighest();
        block.jitter = source.jitter_.GetJitter();
        if (source.hasSenderInfo_) {
            block.lastSR = MiddleOfNTP(source.senderInfo_);
            block.delaySinceLastSR = static_cast<uint32_t>((now - source.senderInfoTime_) * kDelayUnitsPerSecond);
        }
        blocks->push_back(block);
    }
}

int RTPSources::ForgetSourcesFrom(const RTPIPv4Address& address) {
    int removedMembers = 0;
    for (auto it = table_.begin(); it != table_.end();) {
        RTPSourceData* source = it->second.get();
        if (!source->hasRTPAddress_ || !(source->rtpAddress_ == address)) {
            ++it;
            continue;
        }
        removedMembers += IsMember(*source);
        session_.OnRemoveSource(source);
        it = Erase(it);
    }
    return removedMembers;
}

int RTPSources::CheckTimeouts(double now, double interval, const RTPTimeoutMultipliers& multipliers) {
    int removedMembers = 0;
    for (auto it = table_.begin(); it != table_.end();) {
        RTPSourceData* source = it->second.get();
        bool remove = false;
        if (source->receivedBYE_) {
            if (now - source->byeTime_ > multipliers.bye * interval) {
                session_.OnBYETimeout(source);
                remove = true;
            }
        } else if (now - source->lastHeardTime_ > multipliers.member * interval) {
            removedMembers += IsMember(*source);
            session_.OnTimeout(source);
            remove = true;
        } else {
            if (source->isSender_ && now - source->lastRTPTime_ > multipliers.sender * interval)
                source->isSender_ = false;
            if (!source->note_.empty() && now - source->noteTime_ > multipliers.note * interval) {
                source->note_.clear();
                session_.OnNoteTimeout(source);
            }
        }
        if (remove) {
            session_.OnRemoveSource(source);
            it = Erase(it);
        } else {
            ++it;
        }
    }
    collisions_.Expire(now, multipliers.collision * interval);
    return removedMembers;
}

bool RTPSources::SkipTo(bool withData) {
    while (current_ != table_.end() && withData && !current_->second->HasData()) ++current_;
    return current_ != table_.end();
}

bool RTPSources::GotoFirst(bool withData) {
    current_ = table_.begin();
    return SkipTo(withData);
}

bool RTPSources::GotoNext(bool withData) {
    if (current_ == table_.end()) return false;
    ++current_;
    return SkipTo(withData);
}

RTPSourceData* RTPSources::Current() { return current_ == table_.end() ? nullptr : current_->second.get(); }

RTPPacket* RTPSources::TakeNextPacket() {
    RTPSourceData* source = Current();
    if (!source || !source->HasData()) return nullptr;
    RTPPacket* packet = source->queueHead_;
    source->queueHead_ = packet->next;
    if (!source->queueHead_) source->queueTail_ = nullptr;
    packet->next = nullptr;
    return packet;
}

}  // namespace rtp
