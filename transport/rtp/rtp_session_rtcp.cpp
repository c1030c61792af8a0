// The sending half of RTCP: membership counts for the interval, the report
// compound (SR or RR with report blocks, SDES CNAME, optional BYE), and
// feedback compounds sent at once to one address.
#include "transport/rtp/rtcp_builder.h"
#include "transport/rtp/rtcp_report.h"
#include "transport/rtp/rtcp_scheduler.h"
#include "transport/rtp/rtp_clock.h"
#include "transport/rtp/rtp_errors.h"
#include "transport/rtp/rtp_packet_builder.h"
#include "transport/rtp/rtp_session.h"
#include "transport/rtp/rtp_sources.h"
#include "transport/rtp/rtp_udpv4_transmitter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rtp {
namespace {
constexpr double kNTPFractionUnits = 4294967296.0;  // 2^32 per second
// Addresses and kinds whose last feedback time is kept; the oldest is
// forgotten first.
constexpr size_t kMaximumFeedbackEntries = 64;

void SetNTPTime(double now, RTCPSenderInfo* info) {
    const double ntp = now + kNTPEpochOffsetSeconds;
    const double seconds = std::floor(ntp);
    info->ntpMSW = static_cast<uint32_t>(static_cast<uint64_t>(seconds));
    info->ntpLSW = static_cast<uint32_t>((ntp - seconds) * kNTPFractionUnits);
}
}  // namespace

RTCPMembership RTPSession::CurrentMembership() {
    bool weSent;
    {
        std::lock_guard<std::mutex> lock(builderMutex_);
        weSent = builder_ && builder_->HasSent() && scheduler_ && scheduler_->IsRecentSend(builder_->GetLastSendTime());
    }
    return {sources_->CountMembers() + 1, sources_->CountSenders() + (weSent ? 1 : 0), weSent};
}

void RTPSession::SendRTCPIfDue(double now) {
    if (!scheduler_->IsTimeToSend(now, CurrentMembership())) return;
    const int length = SendRTCPCompound(now, GetLocalSSRC(), false, nullptr, 0);
    if (length > 0)
        scheduler_->OnSent(now, static_cast<size_t>(length), CurrentMembership());
    else
        scheduler_->Postpone(now, CurrentMembership());
}

int RTPSession::SendRTCPCompound(double now, uint32_t ssrc, bool bye, const uint8_t* reason, size_t reasonLength) {
    const RTCPMembership membership = CurrentMembership();
    RTCPSenderInfo info;
    bool senderReport;
    {
        std::lock_guard<std::mutex> lock(builderMutex_);
        senderReport = membership.weSent && (!bye || params_.GetSenderReportForBYE());
        SetNTPTime(now, &info);
        info.rtpTimestamp = builder_->TimestampAt(now, params_.GetOwnTimestampUnit());
        info.packetCount = builder_->GetPacketCount();
        info.octetCount = builder_->GetOctetCount();
    }
    // A BYE compound carries no reception reports: its SSRC is leaving.
    reportBlocks_.clear();
    if (!bye) sources_->CollectReportBlocks(&reportBlocks_, now);

    // Room the compound must keep for its SDES and BYE.
    const size_t tailBytes =
        RTCPCompoundBuilder::SDESCNAMEBytes(cname_.size()) + (bye ? RTCPCompoundBuilder::BYEBytes(reasonLength) : 0);
    const size_t limit = params_.GetMaximumPacketSize();
    RTCPCompoundBuilder& out = *rtcpBuilder_;
    out.Reset();
    const int total = static_cast<int>(reportBlocks_.size());
    int first = std::min(total, kRTCPMaximumReportBlocks);
    while (first > 0 && RTCPCompoundBuilder::ReportBytes(senderReport, first) + tailBytes > limit) --first;
    if (senderReport)
        out.AddSenderReport(ssrc, info, reportBlocks_.data(), first);
    else
        out.AddReceiverReport(ssrc, reportBlocks_.data(), first);
    // Blocks beyond 31 go into further receiver reports while they fit.
    while (first < total) {
        const int count = std::min(total - first, kRTCPMaximumReportBlocks);
        if (out.GetLength() + RTCPCompoundBuilder::ReportBytes(false, count) + tailBytes > limit) break;
        out.AddReceiverReport(ssrc, reportBlocks_.data() + first, count);
        first += count;
    }
    if (!out.AddSDESCNAME(ssrc, reinterpret_cast<const uint8_t*>(cname_.data()), cname_.size()))
        return kErrorPacketTooBig;
    if (bye && !out.AddBYE(ssrc, reason, reasonLength)) return kErrorPacketTooBig;

    const std::span<const uint8_t> wire = Outgoing(false, out.GetData(), out.GetLength(), rtcpScratch_);
    if (wire.empty()) return kErrorTransformRefused;
    const int status = transmitter_->SendRTCPData(wire.data(), wire.size());
    if (status < 0) return status;
    RTCPCompoundPacket sent;
    if (sent.Parse(out.GetData(), out.GetLength())) OnSendRTCPCompoundPacket(&sent);
    return static_cast<int>(out.GetLength());
}

int RTPSession::SendFeedback(const RTPIPv4Address& destination, const RTCPFeedbackRequest* messages, size_t count,
                             double minimumSpacingSeconds) {
    if (count == 0 || !messages) return kErrorInvalidParameter;
    // The RTCP port is the one above the RTP port.
    if (destination.GetPort() == 0 || destination.GetPort() == 0xFFFF) return kErrorInvalidAddress;
    for (size_t i = 0; i < count; ++i)
        if (messages[i].kind == RTCPFeedbackKind::kGenericNACK && (!messages[i].lost || messages[i].lostCount == 0))
            return kErrorInvalidParameter;
    std::lock_guard<std::recursive_mutex> lock(dataMutex_);
    if (!created_) return kErrorNotCreated;
    const double now = clock_->Now();
    for (size_t i = 0; i < count; ++i)
        if (now - LastFeedbackTime(destination, messages[i].kind) < minimumSpacingSeconds) return kErrorFeedbackTooSoon;

    // The builder holds at most the maximum packet size: a failed Add means too big.
    const uint32_t ssrc = GetLocalSSRC();
    RTCPCompoundBuilder& out = *rtcpBuilder_;
    out.Reset();
    if (!out.AddReceiverReport(ssrc, nullptr, 0) ||
        !out.AddSDESCNAME(ssrc, reinterpret_cast<const uint8_t*>(cname_.data()), cname_.size()))
        return kErrorPacketTooBig;
    for (size_t i = 0; i < count; ++i) {
        const RTCPFeedbackRequest& message = messages[i];
        const bool added = message.kind == RTCPFeedbackKind::kGenericNACK
                               ? out.AddNACK(ssrc, message.mediaSSRC, message.lost, message.lostCount)
                           : message.kind == RTCPFeedbackKind::kReceiverEstimate
                               ? out.AddREMB(ssrc, message.bitsPerSecond, &message.mediaSSRC, 1)
                               : out.AddPLI(ssrc, message.mediaSSRC);
        if (!added) return kErrorPacketTooBig;
    }
    const std::span<const uint8_t> wire = Outgoing(false, out.GetData(), out.GetLength(), rtcpScratch_);
    if (wire.empty()) return kErrorTransformRefused;
    const int status = transmitter_->SendRawData(false, wire.data(), wire.size(), destination.GetIP(),
                                                 static_cast<uint16_t>(destination.GetPort() + 1));
    if (status < 0) return status;
    for (size_t i = 0; i < count; ++i) NoteFeedbackSent(destination, messages[i].kind, now);
    RTCPCompoundPacket sent;
    if (sent.Parse(out.GetData(), out.GetLength())) OnSendRTCPCompoundPacket(&sent);
    return static_cast<int>(out.GetLength());
}

double RTPSession::LastFeedbackTime(const RTPIPv4Address& destination, RTCPFeedbackKind kind) const {
    for (const FeedbackSent& sent : feedbackSent_)
        if (sent.destination == destination && sent.kind == kind) return sent.time;
    return -std::numeric_limits<double>::infinity();
}

void RTPSession::NoteFeedbackSent(const RTPIPv4Address& destination, RTCPFeedbackKind kind, double now) {
    for (FeedbackSent& sent : feedbackSent_) {
        if (sent.destination == destination && sent.kind == kind) {
            sent.time = now;
            return;
        }
    }
    if (feedbackSent_.size() >= kMaximumFeedbackEntries)
        feedbackSent_.erase(std::min_element(feedbackSent_.begin(), feedbackSent_.end(),
                                             [](const auto& a, const auto& b) { return a.time < b.time; }));
    feedbackSent_.push_back({destination, kind, now});
}

}  // namespace rtp
