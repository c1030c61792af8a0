// RTP datagrams as a session's RTP socket receives them, from up to eight
// senders: parsed in place, then fed through the source table (probation,
// sequence and jitter bookkeeping, third-party collisions, time-outs and
// report blocks). Every packet must come back to the pool, and neither kind
// of source may outgrow its bound.
//
// Input: records of [control][length][length bytes]. Control bits 0-2 pick
// the sender, bit 3 takes waiting packets afterwards, bit 4 runs the
// time-outs and collects report blocks, bits 5-7 advance the clock in half
// seconds. The table's counts are checked with each bit 4 and at the end
// (each check walks the whole table, too slow for every record). Bytes that are not
// RTP but hold 4 or more name an SSRC heard in RTCP from that sender, with
// the rest as its CNAME when there is a rest.
#include "transport/rtp/rtp_byte_order.h"
#include "transport/rtp/rtp_defaults.h"
#include "transport/rtp/rtp_packet.h"
#include "transport/rtp/rtp_packet_pool.h"
#include "transport/rtp/rtp_session.h"
#include "transport/rtp/rtp_sources.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t kSenderAddress = 0x7F000001;
constexpr uint16_t kFirstSenderPort = 5000;
constexpr double kTimestampUnit = 1.0 / 8000.0;
constexpr double kStepSeconds = 0.5;
constexpr double kIntervalSeconds = 5.0;
constexpr size_t kSSRCBytes = 4;
const rtp::RTPTimeoutMultipliers kMultipliers{2, 5, 1, 10, 25};

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckParsed(const rtp::RTPPacket& packet, size_t length) {
    Check(packet.GetPacketLength() == length);
    const uint8_t* begin = packet.GetPacketData();
    const uint8_t* end = begin + length;
    Check(packet.GetPayloadData() >= begin && packet.GetPayloadData() + packet.GetPayloadLength() <= end);
    if (packet.HasExtension())
        Check(packet.GetExtensionData() >= begin && packet.GetExtensionData() + packet.GetExtensionLength() <= end);
    Check(packet.GetPayloadType() <= 127);
    volatile uint32_t sink = 0;  // every byte read, so a stray offset is caught
    for (int i = 0; i < packet.GetCSRCCount(); ++i) sink = sink + packet.GetCSRC(i);
    for (size_t i = 0; i < packet.GetPayloadLength(); ++i) sink = sink + packet.GetPayloadData()[i];
}

void TakeAll(rtp::RTPSources& sources, rtp::RTPPacketPool& pool) {
    for (bool more = sources.GotoFirst(true); more; more = sources.GotoNext(true)) {
        while (rtp::RTPPacket* packet = sources.TakeNextPacket()) {
            Check(static_cast<uint16_t>(packet->GetExtendedSequenceNumber()) == packet->GetSequenceNumber());
            Check(pool.Release(packet));
            Check(!pool.Release(packet));
        }
    }
}

void CheckTable(rtp::RTPSources& sources, std::vector<rtp::RTCPReportBlock>* blocks, double now) {
    sources.CollectReportBlocks(blocks, now);
    for (const rtp::RTCPReportBlock& block : *blocks)
        Check(block.packetsLost <= 0x7FFFFF && block.packetsLost >= -0x800000);
    Check(sources.CountSenders() <= sources.CountMembers());
    Check(sources.CountMembers() <= static_cast<int>(rtp::kMaximumValidatedSources));
    Check(sources.CountUnvalidated() <= rtp::kMaximumUnvalidatedSources);
}

void HearInRTCP(rtp::RTPSources& sources, const uint8_t* bytes, size_t length, const rtp::RTPIPv4Address& sender,
                double now) {
    rtp::RTPSourceData* source = sources.ProcessRTCPSource(rtp::Read32(bytes), sender, now);
    if (source && length > kSSRCBytes) sources.ProcessCNAME(source, bytes + kSSRCBytes, length - kSSRCBytes, sender);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static rtp::RTPSession session;  // only for its (empty) callbacks
    rtp::RTPPacketPool pool;
    {
        rtp::RTPSources sources(session, pool);
        std::vector<rtp::RTCPReportBlock> blocks;
        double now = 1.0e9;
        size_t offset = 0;
        while (size - offset >= 2) {
            const uint8_t control = data[offset];
            const size_t length = std::min<size_t>(data[offset + 1], size - offset - 2);
            const uint8_t* datagram = data + offset + 2;
            offset += 2 + length;
            now += (control >> 5) * kStepSeconds;

            const rtp::RTPIPv4Address sender(kSenderAddress, static_cast<uint16_t>(kFirstSenderPort + (control & 7)));
            rtp::RTPPacket* packet = pool.Acquire();
            if (packet->Parse(datagram, length, now)) {
                CheckParsed(*packet, length);
                sources.ProcessRTPPacket(packet, sender, now, kTimestampUnit);
            } else {
                Check(pool.Release(packet));
                if (length >= kSSRCBytes) HearInRTCP(sources, datagram, length, sender, now);
            }
            if (control & 8) TakeAll(sources, pool);
            if (control & 16) {
                sources.CheckTimeouts(now, kIntervalSeconds, kMultipliers);
                CheckTable(sources, &blocks, now);
            }
        }
        CheckTable(sources, &blocks, now);
        TakeAll(sources, pool);
    }
    // The table gave every packet it held back on destruction.
    Check(pool.GetInUse() == 0);
    return 0;
}
