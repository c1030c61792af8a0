// Compound RTCP datagrams as a session's RTCP socket receives them: the
// compound checks, then every packet read by its type's reader with every
// field touched. Reports and feedback that parse must survive being built
// again.
#include "transport/rtp/rtcp_builder.h"
#include "transport/rtp/rtcp_bye.h"
#include "transport/rtp/rtcp_nack.h"
#include "transport/rtp/rtcp_packet.h"
#include "transport/rtp/rtcp_pli.h"
#include "transport/rtp/rtcp_report.h"
#include "transport/rtp/rtcp_sdes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kBuildLimitBytes = 65535;

void Check(bool condition) {
    if (!condition) std::abort();
}

bool SameBlock(const rtp::RTCPReportBlock& a, const rtp::RTCPReportBlock& b) {
    return a.ssrc == b.ssrc && a.fractionLost == b.fractionLost && a.packetsLost == b.packetsLost &&
           a.extendedHighestSequence == b.extendedHighestSequence && a.jitter == b.jitter && a.lastSR == b.lastSR &&
           a.delaySinceLastSR == b.delaySinceLastSR;
}

void CheckReportRoundTrip(const rtp::RTCPReportReader& report) {
    std::vector<rtp::RTCPReportBlock> blocks;
    for (int i = 0; i < report.GetReportBlockCount(); ++i) blocks.push_back(report.GetReportBlock(i));
    rtp::RTCPCompoundBuilder builder(kBuildLimitBytes);
    if (report.IsSenderReport())
        Check(builder.AddSenderReport(report.GetSenderSSRC(), report.GetSenderInfo(), blocks.data(),
                                      static_cast<int>(blocks.size())));
    else
        Check(builder.AddReceiverReport(report.GetSenderSSRC(), blocks.data(), static_cast<int>(blocks.size())));
    rtp::RTCPCompoundPacket rebuilt;
    Check(rebuilt.Parse(builder.GetData(), builder.GetLength()));
    rtp::RTCPPacket packet;
    Check(rebuilt.GetNextPacket(&packet));
    rtp::RTCPReportReader again;
    Check(again.Parse(packet));
    Check(again.GetSenderSSRC() == report.GetSenderSSRC() && again.IsSenderReport() == report.IsSenderReport());
    Check(std::memcmp(&again.GetSenderInfo(), &report.GetSenderInfo(), sizeof(rtp::RTCPSenderInfo)) == 0 ||
          !report.IsSenderReport());
    Check(again.GetReportBlockCount() == report.GetReportBlockCount());
    for (int i = 0; i < again.GetReportBlockCount(); ++i) Check(SameBlock(again.GetReportBlock(i), blocks[size_t(i)]));
}

// The numbers a NACK marks, built again, give the same numbers: entries may
// pack differently, the set they mark may not.
void CheckNACKRoundTrip(const rtp::RTCPNACKReader& nack) {
    std::vector<uint16_t> lost = nack.GetLostSequenceNumbers();
    Check(!lost.empty() && lost.size() <= size_t(nack.GetEntryCount()) * 17);
    rtp::RTCPCompoundBuilder builder(kBuildLimitBytes);
    if (!builder.AddNACK(nack.GetSenderSSRC(), nack.GetMediaSSRC(), lost.data(), lost.size())) {
        // Only a NACK whose unpacked entries outgrow the builder may fail.
        Check(rtp::RTCPCompoundBuilder::NACKBytes(lost.size()) > kBuildLimitBytes);
        return;
    }
    rtp::RTCPPacket packet(builder.GetData(), builder.GetLength());
    rtp::RTCPNACKReader again;
    Check(again.Parse(packet));
    Check(again.GetSenderSSRC() == nack.GetSenderSSRC() && again.GetMediaSSRC() == nack.GetMediaSSRC());
    std::vector<uint16_t> rebuilt = again.GetLostSequenceNumbers();
    std::sort(lost.begin(), lost.end());
    lost.erase(std::unique(lost.begin(), lost.end()), lost.end());
    std::sort(rebuilt.begin(), rebuilt.end());
    rebuilt.erase(std::unique(rebuilt.begin(), rebuilt.end()), rebuilt.end());
    Check(rebuilt == lost);
}

uint32_t Touch(const uint8_t* bytes, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += bytes[i];
    return sum;
}

void ReadPacket(const rtp::RTCPPacket& packet, const uint8_t* end) {
    Check(packet.GetPacketData() + packet.GetPacketLength() <= end);
    Check(packet.GetBody() + packet.GetBodyLength() <= end);
    volatile uint32_t sink = 0;
    switch (packet.GetPacketType()) {
        case rtp::kRTCPSenderReport:
        case rtp::kRTCPReceiverReport: {
            rtp::RTCPReportReader report;
            if (report.Parse(packet)) CheckReportRoundTrip(report);
            break;
        }
        case rtp::kRTCPSourceDescription: {
            rtp::RTCPSDESReader sdes;
            if (!sdes.Parse(packet)) break;
            uint32_t ssrc;
            int chunks = 0;
            while (sdes.NextChunk(&ssrc)) {
                ++chunks;
                rtp::RTCPSDESReader::Item item;
                while (sdes.NextItem(&item)) {
                    Check(item.data + item.length <= end);
                    sink = sink + Touch(item.data, item.length);
                }
            }
            Check(chunks == packet.GetCount());
            break;
        }
        case rtp::kRTCPBye: {
            rtp::RTCPBYEReader bye;
            if (!bye.Parse(packet)) break;
            for (int i = 0; i < bye.GetSSRCCount(); ++i) sink = sink + bye.GetSSRC(i);
            if (bye.GetReasonLength()) Check(bye.GetReason() + bye.GetReasonLength() <= end);
            sink = sink + Touch(bye.GetReason(), bye.GetReasonLength());
            break;
        }
        case rtp::kRTCPApplication: {
            rtp::RTCPAPPPacket app;
            if (!app.Parse(packet)) break;
            Check(app.GetAPPData() + app.GetAPPDataLength() <= end);
            sink = sink + Touch(app.GetName(), 4) + Touch(app.GetAPPData(), app.GetAPPDataLength());
            break;
        }
        case rtp::kRTCPTransportFeedback:
        case rtp::kRTCPPayloadFeedback: {
            rtp::RTCPFeedbackReader feedback;
            if (!feedback.Parse(packet)) break;
            Check(feedback.GetFCI() + feedback.GetFCILength() <= end);
            sink = sink + feedback.GetSenderSSRC() + feedback.GetMediaSSRC() +
                   Touch(feedback.GetFCI(), feedback.GetFCILength());
            rtp::RTCPNACKReader nack;
            if (nack.Parse(packet)) CheckNACKRoundTrip(nack);
            rtp::RTCPPLIReader pli;
            if (pli.Parse(packet)) sink = sink + pli.GetMediaSSRC();
            break;
        }
        default: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that any read past the datagram is caught.
    std::vector<uint8_t> bytes(data, data + size);
    rtp::RTCPCompoundPacket compound;
    if (!compound.Parse(bytes.data(), bytes.size())) return 0;
    const uint8_t* end = bytes.data() + bytes.size();
    size_t total = 0;
    rtp::RTCPPacket packet;
    compound.GotoFirstPacket();
    while (compound.GetNextPacket(&packet)) {
        total += packet.GetPacketLength();
        ReadPacket(packet, end);
    }
    Check(total == bytes.size());
    return 0;
}
