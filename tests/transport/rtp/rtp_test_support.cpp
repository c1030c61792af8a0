#include "tests/transport/rtp/rtp_test_support.h"

#include "transport/rtp/rtcp_packet.h"
#include "transport/rtp/rtp_defaults.h"
#include "transport/rtp/rtp_errors.h"
#include "transport/rtp/rtp_packet_builder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

namespace rtp_testing {
namespace {
constexpr int kPortTries = 64;
constexpr uint16_t kFirstTestPort = 30000;
constexpr uint16_t kTestPortPairs = 10000;
}  // namespace

rtp::RTPSessionParams TestParams(rtp::RTPClock* clock, rtp::RTPRandom* random, bool pollThread) {
    rtp::RTPSessionParams params;
    params.SetOwnTimestampUnit(1.0 / 8000.0);
    params.SetClock(clock);
    params.SetRandom(random);
    params.SetUsePollThread(pollThread);
    params.SetCNAME("tester@loopback");
    return params;
}

uint16_t CreateOnFreePort(rtp::RTPSession& session, const rtp::RTPSessionParams& params) {
    static std::mt19937 draw{std::random_device{}()};
    rtp::RTPUDPv4TransmissionParams transmission;
    transmission.SetBindIP(kLoopback);
    for (int i = 0; i < kPortTries; ++i) {
        const auto port = static_cast<uint16_t>(kFirstTestPort + 2 * (draw() % kTestPortPairs));
        transmission.SetPortbase(port);
        const int status = session.Create(params, &transmission);
        if (status == 0) return port;
        if (status != rtp::kErrorCannotBindRTPSocket && status != rtp::kErrorCannotBindRTCPSocket) return 0;
    }
    return 0;
}

PortBlocker::PortBlocker(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopback);
    address.sin_port = htons(port);
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

PortBlocker::~PortBlocker() {
    if (fd_ >= 0) close(fd_);
}

std::vector<uint8_t> RtpDatagram(uint32_t ssrc, uint16_t sequence, uint32_t timestamp, const std::string& payload,
                                 uint8_t payloadType) {
    rtp::RTPPacketBuilder builder(ssrc, sequence, timestamp, rtp::kMaximumDatagramBytes);
    builder.Build(payload.data(), payload.size(), payloadType, false);
    return {builder.GetPacket(), builder.GetPacket() + builder.GetPacketLength()};
}

bool RecordingSession::OnRawPacket(rtp::RTPRawPacket* packet) {
    if (!packet->IsRTP() || !divertRTP) return true;
    std::lock_guard<std::mutex> lock(mutex);
    rawPackets.emplace_back(packet->GetData(), packet->GetData() + packet->GetDataLength());
    return false;
}

void RecordingSession::OnRTCPCompoundPacket(rtp::RTCPCompoundPacket*, double, const rtp::RTPIPv4Address*) {
    std::lock_guard<std::mutex> lock(mutex);
    ++rtcpCompoundsReceived;
}

void RecordingSession::OnSendRTCPCompoundPacket(rtp::RTCPCompoundPacket* packet) {
    std::lock_guard<std::mutex> lock(mutex);
    rtp::RTCPPacket part;
    packet->GotoFirstPacket();
    while (packet->GetNextPacket(&part)) {
        senderReportsSent += part.GetPacketType() == rtp::kRTCPSenderReport;
        receiverReportsSent += part.GetPacketType() == rtp::kRTCPReceiverReport;
        byesSent += part.GetPacketType() == rtp::kRTCPBye;
    }
}

void RecordingSession::OnSSRCCollision(rtp::RTPSourceData* source, const rtp::RTPIPv4Address*, bool) {
    std::lock_guard<std::mutex> lock(mutex);
    ssrcCollisions.push_back(source ? source->GetSSRC() : 0);
}

void RecordingSession::OnCNAMECollision(rtp::RTPSourceData*, const rtp::RTPIPv4Address*, const uint8_t*, size_t) {
    std::lock_guard<std::mutex> lock(mutex);
    ++cnameCollisions;
}

void RecordingSession::OnNewSource(rtp::RTPSourceData* source) {
    std::lock_guard<std::mutex> lock(mutex);
    newSources.push_back(source->GetSSRC());
}

void RecordingSession::OnRemoveSource(rtp::RTPSourceData* source) {
    std::lock_guard<std::mutex> lock(mutex);
    removedSources.push_back(source->GetSSRC());
}

void RecordingSession::OnTimeout(rtp::RTPSourceData* source) {
    std::lock_guard<std::mutex> lock(mutex);
    timeouts.push_back(source->GetSSRC());
}

void RecordingSession::OnBYETimeout(rtp::RTPSourceData* source) {
    std::lock_guard<std::mutex> lock(mutex);
    byeTimeouts.push_back(source->GetSSRC());
}

void RecordingSession::OnBYEPacket(rtp::RTPSourceData* source) {
    std::lock_guard<std::mutex> lock(mutex);
    byePackets.push_back(source->GetSSRC());
}

void RecordingSession::OnNoteTimeout(rtp::RTPSourceData* source) {
    std::lock_guard<std::mutex> lock(mutex);
    noteTimeouts.push_back(source->GetSSRC());
}

void RecordingSession::OnAPPPacket(rtp::RTCPAPPPacket*, double, const rtp::RTPIPv4Address*) {
    std::lock_guard<std::mutex> lock(mutex);
    ++appPackets;
}

void RecordingSession::OnUnknownPacketType(rtp::RTCPPacket*, double, const rtp::RTPIPv4Address*) {
    std::lock_guard<std::mutex> lock(mutex);
    ++unknownTypes;
}

void RecordingSession::OnUnknownPacketFormat(rtp::RTCPPacket*, double, const rtp::RTPIPv4Address*) {
    std::lock_guard<std::mutex> lock(mutex);
    ++unknownFormats;
}

}  // namespace rtp_testing
