// The session's table of other participants, keyed by SSRC: feeds each
// source's validation and statistics from received RTP and RTCP, holds its
// packets, builds our reception report blocks, applies the time-outs of
// RFC 3550 6.3.5 and notices third-party SSRC collisions (8.2). Runs under
// the session's data-access lock and calls the session's callbacks.
#pragma once

#include "transport/rtp/rtp_collision_list.h"
#include "transport/rtp/rtp_ipv4_address.h"
#include "transport/rtp/rtp_source_data.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

namespace rtp {

class RTPPacket;
class RTPPacketPool;
class RTPSession;

// Time-out multipliers, in RTCP intervals.
struct RTPTimeoutMultipliers {
    double sender;
    double member;
    double bye;
    double collision;
    double note;
};

class RTPSources {
public:
    RTPSources(RTPSession& session, RTPPacketPool& pool);
    ~RTPSources();
    RTPSources(const RTPSources&) = delete;
    RTPSources& operator=(const RTPSources&) = delete;

    // Forgets every source and collision; waiting packets go back to the pool.
    void Clear();

    RTPSourceData* Find(uint32_t ssrc);
    bool Contains(uint32_t ssrc) const { return table_.count(ssrc) != 0; }

    // Takes the packet: queues it on its source or gives it back to the pool.
    void ProcessRTPPacket(RTPPacket* packet, const RTPIPv4Address& sender, double now, double timestampUnit);
    // The source an RTCP item is about, created when new and stamped as
    // heard; null when its SSRC came from another RTCP address (a collision).
    RTPSourceData* ProcessRTCPSource(uint32_t ssrc, const RTPIPv4Address& sender, double now);
    void ProcessSenderInfo(RTPSourceData* source, const RTCPSenderInfo& info, double now);
    void ProcessReportAboutUs(RTPSourceData* source, const RTCPReportBlock& block, double now);
    void ProcessCNAME(RTPSourceData* source, const uint8_t* cname, size_t length, const RTPIPv4Address& sender);
    void ProcessNote(RTPSourceData* source, const uint8_t* note, size_t length, double now);
    // True when a counted member left.
    bool ProcessBYE(uint32_t ssrc, const uint8_t* reason, size_t length, double now);

    // Validated sources that have not said BYE, and those of them sending.
    int CountMembers() const;
    size_t CountUnvalidated() const { return unvalidated_.size(); }
    int CountSenders() const;
    // One block per member heard since the last report (A.3).
    void CollectReportBlocks(std::vector<RTCPReportBlock>* blocks, double now);

    // Forgets every source whose RTP came from `address`, its waiting
    // packets going back to the pool: the participant left, and may come
    // back from another address with the same SSRC. Returns the number of
    // counted members removed.
    int ForgetSourcesFrom(const RTPIPv4Address& address);
    // Returns the number of counted members removed.
    int CheckTimeouts(double now, double interval, const RTPTimeoutMultipliers& multipliers);

    RTPCollisionList& Collisions() { return collisions_; }

    bool GotoFirst(bool withData);
    bool GotoNext(bool withData);
    RTPSourceData* Current();
    // The current source's oldest waiting packet, now owned by the caller.
    RTPPacket* TakeNextPacket();

private:
    using Table = std::unordered_map<uint32_t, std::unique_ptr<RTPSourceData>>;

    // Never null: a new source may push out the oldest unvalidated one.
    RTPSourceData* Obtain(uint32_t ssrc, bool* created);
    // False when the validated sources are at their bound.
    bool Validate(RTPSourceData* source);
    void EvictOldestUnvalidated();
    // Removes the entry with its waiting packets; returns the next one.
    Table::iterator Erase(Table::iterator entry);
    void ReleaseQueue(RTPSourceData* source);
    static bool IsMember(const RTPSourceData& source);
    bool SkipTo(bool withData);

    RTPSession& session_;
    RTPPacketPool& pool_;
    Table table_;
    Table::iterator current_;
    std::list<uint32_t> unvalidated_;  // oldest first
    RTPCollisionList collisions_;
};

}  // namespace rtp
