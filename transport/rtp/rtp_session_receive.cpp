// The receiving half of the session: datagrams from both sockets through
// the receive filter, RTP into the source table, RTCP compounds packet by
// packet (feedback to OnFeedback), own-SSRC collisions and loops, and the
// time-outs.
#include "transport/rtp/rtcp_bye.h"
#include "transport/rtp/rtcp_nack.h"
#include "transport/rtp/rtcp_pli.h"
#include "transport/rtp/rtcp_remb.h"
#include "transport/rtp/rtcp_report.h"
#include "transport/rtp/rtcp_scheduler.h"
#include "transport/rtp/rtcp_sdes.h"
#include "transport/rtp/rtp_clock.h"
#include "transport/rtp/rtp_packet_builder.h"
#include "transport/rtp/rtp_packet_pool.h"
#include "transport/rtp/rtp_random.h"
#include "transport/rtp/rtp_session.h"
#include "transport/rtp/rtp_sources.h"
#include "transport/rtp/rtp_udpv4_transmitter.h"

namespace rtp {
namespace {
constexpr char kCollisionByeReason[] = "SSRC collision";
}

int RTPSession::PollOnce() {
    std::lock_guard<std::recursive_mutex> lock(dataMutex_);
    for (int i = 0; i < kMaximumDatagramsPerPoll && transmitter_->GetNextPacket(&rawPacket_, clock_->Now()); ++i)
        ProcessDatagram(&rawPacket_);
    const double now = clock_->Now();
    CheckTimeouts(now);
    SendRTCPIfDue(now);
    return 0;
}

void RTPSession::ProcessDatagram(RTPRawPacket* raw) {
    if (!OnRawPacket(raw)) return;
    if (raw->IsRTP())
        ProcessRTP(raw);
    else
        ProcessRTCP(raw);
}

void RTPSession::ProcessRTP(RTPRawPacket* raw) {
    RTPPacket* packet = pool_->Acquire();
    if (!packet->Parse(raw->GetData(), raw->GetDataLength(), raw->GetReceiveTime()) ||
        !CheckOwnSSRC(packet->GetSSRC(), raw->GetSenderAddress(), true, raw->GetReceiveTime())) {
        pool_->Release(packet);
        return;
    }
    sources_->ProcessRTPPacket(packet, raw->GetSenderAddress(), raw->GetReceiveTime(), params_.GetOwnTimestampUnit());
}

bool RTPSession::CheckOwnSSRC(uint32_t ssrc, const RTPIPv4Address& sender, bool isRTP, double now) {
    const uint32_t ownSSRC = GetLocalSSRC();
    if (ssrc != ownSSRC) return true;
    if (transmitter_->IsOwnAddress(sender, isRTP)) return params_.AcceptOwnPackets();
    RTPCollisionList& collisions = sources_->Collisions();
    if (collisions.Contains(sender, isRTP)) {
        // Our own traffic looped back through someone else: drop it.
        collisions.Add(sender, isRTP, now);
        return false;
    }
    // Another participant chose our SSRC: leave it to them (RFC 3550 8.2).
    collisions.Add(sender, isRTP, now);
    OnSSRCCollision(nullptr, &sender, isRTP);
    SendRTCPCompound(now, ownSSRC, true, reinterpret_cast<const uint8_t*>(kCollisionByeReason),
                     sizeof kCollisionByeReason - 1);
    uint32_t newSSRC;
    do {
        newSSRC = random_->GetRandom32();
    } while (newSSRC == ownSSRC || sources_->Contains(newSSRC));
    std::lock_guard<std::mutex> lock(builderMutex_);
    builder_->SetSSRC(newSSRC);
    return true;
}

void RTPSession::ProcessRTCP(RTPRawPacket* raw) {
    RTCPCompoundPacket compound;
    if (!compound.Parse(raw->GetData(), raw->GetDataLength())) return;
    const double now = raw->GetReceiveTime();
    const RTPIPv4Address& sender = raw->GetSenderAddress();
    scheduler_->OnReceived(raw->GetDataLength());
    OnRTCPCompoundPacket(&compound, now, &sender);
    RTCPPacket packet;
    compound.GotoFirstPacket();
    while (compound.GetNextPacket(&packet)) {
        switch (packet.GetPacketType()) {
            case kRTCPSenderReport:
            case kRTCPReceiverReport: ProcessReport(packet, sender, now); break;
            case kRTCPSourceDescription: ProcessSDES(packet, sender, now); break;
            case kRTCPBye: ProcessBYE(packet, sender, now); break;
            case kRTCPApplication: {
                RTCPAPPPacket app;
                if (app.Parse(packet))
                    OnAPPPacket(&app, now, &sender);
                else
                    OnUnknownPacketFormat(&packet, now, &sender);
                break;
            }
            case kRTCPTransportFeedback:
            case kRTCPPayloadFeedback: ProcessFeedback(packet, sender, now); break;
            default: OnUnknownPacketType(&packet, now, &sender); break;
        }
    }
}

void RTPSession::ProcessReport(const RTCPPacket& packet, const RTPIPv4Address& sender, double now) {
    RTCPReportReader report;
    if (!report.Parse(packet)) {
        RTCPPacket copy = packet;
        OnUnknownPacketFormat(&copy, now, &sender);
        return;
    }
    if (!CheckOwnSSRC(report.GetSenderSSRC(), sender, false, now)) return;
    RTPSourceData* source = sources_->ProcessRTCPSource(report.GetSenderSSRC(), sender, now);
    if (!source) return;
    if (report.IsSenderReport()) sources_->ProcessSenderInfo(source, report.GetSenderInfo(), now);
    const uint32_t ownSSRC = GetLocalSSRC();
    for (int i = 0; i < report.GetReportBlockCount(); ++i) {
        const RTCPReportBlock block = report.GetReportBlock(i);
        if (block.ssrc == ownSSRC) sources_->ProcessReportAboutUs(source, block, now);
    }
}

void RTPSession::ProcessFeedback(const RTCPPacket& packet, const RTPIPv4Address& sender, double now) {
    RTCPPacket copy = packet;
    const bool nack = packet.GetPacketType() == kRTCPTransportFeedback && packet.GetCount() == kRTCPFeedbackGenericNACK;
    const bool pli = packet.GetPacketType() == kRTCPPayloadFeedback && packet.GetCount() == kRTCPFeedbackPLI;
    RTCPREMBReader estimate;
    if (nack) {
        RTCPNACKReader reader;
        if (!reader.Parse(packet)) return OnUnknownPacketFormat(&copy, now, &sender);
        const std::vector<uint16_t> lost = reader.GetLostSequenceNumbers();
        OnFeedback(RTCPFeedbackKind::kGenericNACK, reader.GetSenderSSRC(), reader.GetMediaSSRC(), lost.data(),
                   lost.size(), now, &sender);
    } else if (pli) {
        RTCPPLIReader reader;
        if (!reader.Parse(packet)) return OnUnknownPacketFormat(&copy, now, &sender);
        OnFeedback(RTCPFeedbackKind::kPictureLoss, reader.GetSenderSSRC(), reader.GetMediaSSRC(), nullptr, 0, now,
                   &sender);
    } else if (estimate.Parse(packet)) {
        OnReceiverEstimate(estimate.GetSenderSSRC(), estimate.GetBitsPerSecond(), estimate.GetSSRCs(), now, &sender);
    } else {
        // Feedback formats this layer does not read, as any unknown packet.
        OnUnknownPacketType(&copy, now, &sender);
    }
}

void RTPSession::ProcessSDES(const RTCPPacket& packet, const RTPIPv4Address& sender, double now) {
    RTCPSDESReader sdes;
    if (!sdes.Parse(packet)) {
        RTCPPacket copy = packet;
        OnUnknownPacketFormat(&copy, now, &sender);
        return;
    }
    uint32_t ssrc;
    while (sdes.NextChunk(&ssrc)) {
        if (!CheckOwnSSRC(ssrc, sender, false, now)) continue;
        RTPSourceData* source = sources_->ProcessRTCPSource(ssrc, sender, now);
        if (!source) continue;
        RTCPSDESReader::Item item;
        while (sdes.NextItem(&item)) {
            if (item.type == kSDESCNAME)
                sources_->ProcessCNAME(source, item.data, item.length, sender);
            else if (item.type == kSDESNote)
                sources_->ProcessNote(source, item.data, item.length, now);
        }
    }
}

void RTPSession::ProcessBYE(const RTCPPacket& packet, const RTPIPv4Address& sender, double now) {
    RTCPBYEReader bye;
    if (!bye.Parse(packet)) {
        RTCPPacket copy = packet;
        OnUnknownPacketFormat(&copy, now, &sender);
        return;
    }
    int left = 0;
    for (int i = 0; i < bye.GetSSRCCount(); ++i)
        left += sources_->ProcessBYE(bye.GetSSRC(i), bye.GetReason(), bye.GetReasonLength(), now);
    MembersLeft(now, left);
}

void RTPSession::CheckTimeouts(double now) {
    const RTPTimeoutMultipliers multipliers{params_.GetSenderTimeoutMultiplier(), params_.GetSourceTimeoutMultiplier(),
                                            params_.GetBYETimeoutMultiplier(), params_.GetCollisionTimeoutMultiplier(),
                                            params_.GetNoteTimeoutMultiplier()};
    const double interval = scheduler_->TimeoutInterval(CurrentMembership());
    MembersLeft(now, sources_->CheckTimeouts(now, interval, multipliers));
}

void RTPSession::ForgetSourcesFrom(const RTPIPv4Address& address) {
    std::lock_guard<std::recursive_mutex> lock(dataMutex_);
    if (!created_) return;
    MembersLeft(clock_->Now(), sources_->ForgetSourcesFrom(address));
}

void RTPSession::MembersLeft(double now, int count) {
    if (count > 0) scheduler_->OnMembersDecreased(now, CurrentMembership().members);
}

}  // namespace rtp
