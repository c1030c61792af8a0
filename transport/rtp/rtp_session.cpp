#include "transport/rtp/rtp_session.h"

#include "trace/hop_trace.h"
#include "transport/rtp/rtcp_builder.h"
#include "transport/rtp/rtcp_scheduler.h"
#include "transport/rtp/rtp_clock.h"
#include "transport/rtp/rtp_errors.h"
#include "transport/rtp/rtp_packet_builder.h"
#include "transport/rtp/rtp_packet_pool.h"
#include "transport/rtp/rtp_random.h"
#include "transport/rtp/rtp_send_transform.h"
#include "transport/rtp/rtp_sources.h"
#include "transport/rtp/rtp_udpv4_transmitter.h"

#include <algorithm>
#include <chrono>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace rtp {
namespace {
constexpr size_t kHostNameBytes = 256;
constexpr size_t kPasswdBufferBytes = 4096;

bool IsDatagramSize(size_t bytes) { return bytes > 0 && bytes <= kMaximumDatagramBytes; }

bool ParamsAreValid(const RTPSessionParams& p) {
    return p.GetOwnTimestampUnit() > 0 && p.GetSessionBandwidth() > 0 && p.GetControlTrafficFraction() > 0 &&
           p.GetControlTrafficFraction() <= 1 && p.GetSenderControlBandwidthFraction() > 0 &&
           p.GetSenderControlBandwidthFraction() < 1 && p.GetMinimumRTCPTransmissionInterval() > 0 &&
           p.GetCNAME().size() <= kMaximumBYEReasonBytes && IsDatagramSize(p.GetMaximumReceivedRTPBytes()) &&
           IsDatagramSize(p.GetMaximumReceivedRTCPBytes());
}

// "user@host", the usual canonical name of RFC 3550 6.5.1.
std::string DefaultCNAME() {
    // getpwuid_r: sessions of several engines may start at the same time.
    passwd entry{};
    passwd* user = nullptr;
    char names[kPasswdBufferBytes];
    if (getpwuid_r(geteuid(), &entry, names, sizeof names, &user) != 0) user = nullptr;
    char host[kHostNameBytes] = {};
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    std::string cname = user && user->pw_name ? user->pw_name : "user";
    cname += '@';
    cname += host[0] ? host : "localhost";
    return cname.substr(0, kMaximumBYEReasonBytes);
}
}  // namespace

RTPSession::RTPSession()
    : transmitter_(std::make_unique<RTPUDPv4Transmitter>()),
      pool_(std::make_unique<RTPPacketPool>()),
      sources_(std::make_unique<RTPSources>(*this, *pool_)) {}

RTPSession::~RTPSession() { Destroy(); }

int RTPSession::Create(const RTPSessionParams& sessionParams, const RTPUDPv4TransmissionParams* transmissionParams) {
    if (created_) return kErrorAlreadyCreated;
    if (!ParamsAreValid(sessionParams)) return kErrorInvalidParameter;
    const RTPUDPv4TransmissionParams defaults;
    const int status =
        transmitter_->Create(TransmitterPacketSize(sessionParams.GetMaximumPacketSize()),
                             {sessionParams.GetMaximumReceivedRTPBytes(), sessionParams.GetMaximumReceivedRTCPBytes()},
                             transmissionParams ? *transmissionParams : defaults);
    if (status < 0) return status;

    std::lock_guard<std::recursive_mutex> dataLock(dataMutex_);
    params_ = sessionParams;
    clock_ = params_.GetClock() ? params_.GetClock() : &RTPSystemClock::Instance();
    random_ = params_.GetRandom() ? params_.GetRandom() : &RTPSystemRandom::Instance();
    cname_ = params_.GetCNAME().empty() ? DefaultCNAME() : params_.GetCNAME();
    {
        std::lock_guard<std::mutex> builderLock(builderMutex_);
        const uint32_t ssrc = random_->GetRandom32();
        const auto sequence = static_cast<uint16_t>(random_->GetRandom32());
        const uint32_t timestamp = random_->GetRandom32();
        builder_ = std::make_unique<RTPPacketBuilder>(ssrc, sequence, timestamp, params_.GetMaximumPacketSize());
    }
    sources_->Clear();
    rtcpBuilder_ = std::make_unique<RTCPCompoundBuilder>(params_.GetMaximumPacketSize());
    scheduler_ = std::make_unique<RTCPScheduler>(
        RTCPSchedulerSettings{params_.GetSessionBandwidth(), params_.GetControlTrafficFraction(),
                              params_.GetSenderControlBandwidthFraction(), params_.GetMinimumRTCPTransmissionInterval(),
                              params_.GetUseHalfRTCPIntervalAtStartup()},
        *random_);
    // The first compound will be an empty receiver report and our CNAME.
    const size_t firstCompoundBytes =
        RTCPCompoundBuilder::ReportBytes(false, 0) + RTCPCompoundBuilder::SDESCNAMEBytes(cname_.size());
    scheduler_->Start(clock_->Now(), static_cast<double>(firstCompoundBytes), CurrentMembership());
    stopRequested_ = false;
    created_ = true;
    if (params_.IsUsingPollThread()) {
        try {
            pollThread_ = std::thread(&RTPSession::PollThreadMain, this);
        } catch (const std::system_error&) {
            CloseAll();
            return kErrorCannotStartThread;
        }
    }
    return 0;
}

void RTPSession::Destroy() {
    if (!created_) return;
    StopPollThread();
    CloseAll();
}

void RTPSession::BYEDestroy(double maxWaitSeconds, const void* reason, size_t reasonLength) {
    if (!created_) return;
    StopPollThread();
    if (reasonLength > kMaximumBYEReasonBytes) reasonLength = kMaximumBYEReasonBytes;
    const auto* reasonBytes = static_cast<const uint8_t*>(reason);
    double delay = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(dataMutex_);
        const bool immediate =
            params_.GetRequestImmediateBYE() && CurrentMembership().members < kImmediateBYEMemberLimit;
        if (!immediate) {
            delay = scheduler_->BYEDelay(RTCPCompoundBuilder::ReportBytes(false, 0) +
                                         RTCPCompoundBuilder::SDESCNAMEBytes(cname_.size()) +
                                         RTCPCompoundBuilder::BYEBytes(reasonLength));
        }
    }
    // The others learn at once that we left rather than after their time-out,
    // however large the session claims to be.
    if (delay > maxWaitSeconds) delay = maxWaitSeconds;
    if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    {
        std::lock_guard<std::recursive_mutex> lock(dataMutex_);
        SendRTCPCompound(clock_->Now(), GetLocalSSRC(), true, reasonBytes, reasonLength);
    }
    CloseAll();
}

void RTPSession::StopPollThread() {
    stopRequested_ = true;
    transmitter_->AbortWait();
    if (!pollThread_.joinable()) return;
    if (pollThread_.get_id() == std::this_thread::get_id())
        pollThread_.detach();  // called from a callback: the loop ends when it returns
    else
        pollThread_.join();
}

void RTPSession::CloseAll() {
    std::lock_guard<std::recursive_mutex> lock(dataMutex_);
    if (created_) OnClosing();
    transmitter_->Destroy();
    sources_->Clear();
    created_ = false;
}

uint32_t RTPSession::GetLocalSSRC() {
    std::lock_guard<std::mutex> lock(builderMutex_);
    return builder_ ? builder_->GetSSRC() : 0;
}

int RTPSession::AddDestination(const RTPIPv4Address& address) { return transmitter_->AddDestination(address); }

int RTPSession::DeleteDestination(const RTPIPv4Address& address) { return transmitter_->DeleteDestination(address); }

void RTPSession::ClearDestinations() { transmitter_->ClearDestinations(); }

void RTPSession::SetHeldDestinations(std::vector<RTPIPv4Address> held) {
    transmitter_->SetHeldDestinations(std::move(held));
}

int RTPSession::SetTypeOfService(int tos) { return transmitter_->SetTypeOfService(tos); }

void RTPSession::SetSendRoute(RTPSendRoute* route) { transmitter_->SetSendRoute(route); }

void RTPSession::SetDatagramSource(RTPDatagramSource* source) { transmitter_->SetDatagramSource(source); }

void RTPSession::SetSendTransform(RTPSendTransform* transform) { transform_ = transform; }

// A transformed packet may be longer than what the session builds.
size_t RTPSession::TransmitterPacketSize(size_t packetSize) const {
    return transform_ ? packetSize + RTPSendTransform::kMaximumExtraBytes : packetSize;
}

std::span<const uint8_t> RTPSession::Outgoing(bool rtp, const uint8_t* packet, size_t length,
                                              std::vector<uint8_t>& scratch) {
    if (!transform_) return {packet, length};
    scratch.resize(length + RTPSendTransform::kMaximumExtraBytes);
    std::copy(packet, packet + length, scratch.begin());
    return {scratch.data(), transform_->Transform(rtp, scratch, length)};
}

bool RTPSession::SendPieces(bool rtpChannel, const RTPIPv4Address& destination,
                            std::span<const std::span<const uint8_t>> pieces) {
    return transmitter_->SendPieces(rtpChannel, destination, pieces);
}

int RTPSession::SendPacket(const void* data, size_t length) {
    uint8_t payloadType;
    bool marker;
    uint32_t increment;
    {
        std::lock_guard<std::mutex> lock(builderMutex_);
        if (!created_ || !builder_) return kErrorNotCreated;
        payloadType = builder_->defaultPayloadType;
        marker = builder_->defaultMark;
        increment = builder_->defaultTimestampIncrement;
    }
    return SendPacket(data, length, payloadType, marker, increment);
}

std::span<const uint8_t> RTPSession::BuildLocked(const void* data, size_t length, uint8_t payloadType, bool marker,
                                                 int* status) {
    *status = builder_->Build(data, length, payloadType, marker);
    if (*status < 0) return {};
    TAVOLIN_HOP_TRACE(PacketSent(builder_->GetSSRC(), builder_->GetTimestamp()));
    const std::span<const uint8_t> wire =
        Outgoing(true, builder_->GetPacket(), builder_->GetPacketLength(), rtpScratch_);
    if (wire.empty()) *status = kErrorTransformRefused;
    return wire;
}

void RTPSession::SentLocked(std::span<const uint8_t> wire, uint32_t timestampIncrement) {
    const double now = clock_->Now();
    builder_->RecordSent(now);
    const auto sequence = static_cast<uint16_t>(builder_->GetNextSequence() - 1);
    OnPacketSent(wire.data(), wire.size(), sequence, now, nullptr);
    builder_->IncrementTimestamp(timestampIncrement);
}

int RTPSession::SendPacket(const void* data, size_t length, uint8_t payloadType, bool marker,
                           uint32_t timestampIncrement) {
    std::lock_guard<std::mutex> lock(builderMutex_);
    if (!created_ || !builder_) return kErrorNotCreated;
    int status = 0;
    const std::span<const uint8_t> wire = BuildLocked(data, length, payloadType, marker, &status);
    if (status < 0) return status;
    status = transmitter_->SendRTPData(wire.data(), wire.size());
    if (status < 0) return status;
    SentLocked(wire, timestampIncrement);
    return 0;
}

int RTPSession::BuildPacket(const void* data, size_t length, uint8_t payloadType, bool marker,
                            uint32_t timestampIncrement, std::vector<uint8_t>* built) {
    std::lock_guard<std::mutex> lock(builderMutex_);
    if (!created_ || !builder_) return kErrorNotCreated;
    int status = 0;
    const std::span<const uint8_t> wire = BuildLocked(data, length, payloadType, marker, &status);
    if (status < 0) return status;
    built->assign(wire.begin(), wire.end());
    SentLocked(wire, timestampIncrement);
    return 0;
}

std::vector<RTPIPv4Address> RTPSession::RtpDestinations() const { return transmitter_->RtpDestinations(); }

std::vector<RTPIPv4Address> RTPSession::UnreachedDestinations(const RTPIPv4Address* only) const {
    return transmitter_->Unreached(only);
}

int RTPSession::SendBuilt(const std::vector<uint8_t>& built, const RTPIPv4Address& destination) {
    return transmitter_->SendRTPDataTo(built.data(), built.size(), destination);
}

int RTPSession::SendPacketTo(const void* data, size_t length, uint8_t payloadType, bool marker,
                             const RTPIPv4Address& destination) {
    std::lock_guard<std::mutex> lock(builderMutex_);
    if (!created_ || !builder_) return kErrorNotCreated;
    int status = builder_->Build(data, length, payloadType, marker);
    if (status < 0) return status;
    const std::span<const uint8_t> wire =
        Outgoing(true, builder_->GetPacket(), builder_->GetPacketLength(), rtpScratch_);
    if (wire.empty()) return kErrorTransformRefused;
    status = transmitter_->SendRTPDataTo(wire.data(), wire.size(), destination);
    if (status < 0) return status;
    const auto sequence = static_cast<uint16_t>(builder_->GetNextSequence() - 1);
    OnPacketSent(wire.data(), wire.size(), sequence, clock_->Now(), &destination);
    return status;
}

int RTPSession::SendRawData(bool rtpChannel, const void* data, size_t length, uint32_t address, uint16_t port) {
    return transmitter_->SendRawData(rtpChannel, data, length, address, port);
}

int RTPSession::SetDefaultPayloadType(uint8_t payloadType) {
    std::lock_guard<std::mutex> lock(builderMutex_);
    if (!created_ || !builder_) return kErrorNotCreated;
    builder_->defaultPayloadType = payloadType;
    return 0;
}

int RTPSession::SetDefaultMark(bool marker) {
    std::lock_guard<std::mutex> lock(builderMutex_);
    if (!created_ || !builder_) return kErrorNotCreated;
    builder_->defaultMark = marker;
    return 0;
}

int RTPSession::SetDefaultTimestampIncrement(uint32_t increment) {
    std::lock_guard<std::mutex> lock(builderMutex_);
    if (!created_ || !builder_) return kErrorNotCreated;
    builder_->defaultTimestampIncrement = increment;
    return 0;
}

int RTPSession::IncrementTimestamp(uint32_t increment) {
    std::lock_guard<std::mutex> lock(builderMutex_);
    if (!created_ || !builder_) return kErrorNotCreated;
    builder_->IncrementTimestamp(increment);
    return 0;
}

int RTPSession::IncrementTimestampDefault() {
    std::lock_guard<std::mutex> lock(builderMutex_);
    if (!created_ || !builder_) return kErrorNotCreated;
    builder_->IncrementTimestamp(builder_->defaultTimestampIncrement);
    return 0;
}

int RTPSession::SetMaximumPacketSize(size_t bytes) {
    std::lock_guard<std::mutex> lock(builderMutex_);
    if (!created_ || !builder_) return kErrorNotCreated;
    const int status = transmitter_->SetMaximumPacketSize(TransmitterPacketSize(bytes));
    if (status < 0) return status;
    builder_->SetMaximumPacketSize(bytes);
    return 0;
}

int RTPSession::Poll() {
    if (!created_) return kErrorNotCreated;
    if (params_.IsUsingPollThread()) return kErrorPollThreadRunning;
    return PollOnce();
}

int RTPSession::WaitForIncomingData(double seconds, bool* dataAvailable) {
    if (!created_) return kErrorNotCreated;
    return transmitter_->WaitForIncomingData(seconds, dataAvailable);
}

int RTPSession::AbortWait() {
    if (!created_) return kErrorNotCreated;
    transmitter_->AbortWait();
    return 0;
}

void RTPSession::PollThreadMain() {
    while (!stopRequested_) {
        double wait;
        {
            std::lock_guard<std::recursive_mutex> lock(dataMutex_);
            wait = scheduler_->GetNextTime() - clock_->Now();
        }
        if (wait > kMaximumPollWaitSeconds) wait = kMaximumPollWaitSeconds;
        wait = PollWaitSeconds(wait);
        int status = transmitter_->WaitForIncomingData(wait, nullptr);
        if (stopRequested_) break;
        if (status >= 0) status = PollOnce();
        if (status < 0) {
            OnPollThreadError(status);
            break;
        }
        OnPollThreadStep();
    }
}

int RTPSession::BeginDataAccess() {
    dataMutex_.lock();
    return 0;
}

int RTPSession::EndDataAccess() {
    dataMutex_.unlock();
    return 0;
}

bool RTPSession::GotoFirstSource() { return sources_->GotoFirst(false); }
bool RTPSession::GotoNextSource() { return sources_->GotoNext(false); }
bool RTPSession::GotoFirstSourceWithData() { return sources_->GotoFirst(true); }
bool RTPSession::GotoNextSourceWithData() { return sources_->GotoNext(true); }
RTPSourceData* RTPSession::GetCurrentSourceInfo() { return sources_->Current(); }
RTPSourceData* RTPSession::GetSourceInfo(uint32_t ssrc) { return sources_->Find(ssrc); }
RTPPacket* RTPSession::GetNextPacket() { return sources_->TakeNextPacket(); }
void RTPSession::DeletePacket(RTPPacket* packet) { pool_->Release(packet); }

size_t RTPSession::GetPacketPoolSize() const { return pool_->GetSize(); }
size_t RTPSession::GetPacketsInUse() const { return pool_->GetInUse(); }

double RTPSession::GetNextRTCPTime() {
    std::lock_guard<std::recursive_mutex> lock(dataMutex_);
    return created_ && scheduler_ ? scheduler_->GetNextTime() : 0;
}

double RTPSession::GetClockTime() const { return clock_ ? clock_->Now() : 0; }

void RTPSession::OnRTPPacket(RTPPacket*, double, const RTPIPv4Address*) {}
void RTPSession::OnRTCPCompoundPacket(RTCPCompoundPacket*, double, const RTPIPv4Address*) {}
void RTPSession::OnSSRCCollision(RTPSourceData*, const RTPIPv4Address*, bool) {}
void RTPSession::OnCNAMECollision(RTPSourceData*, const RTPIPv4Address*, const uint8_t*, size_t) {}
void RTPSession::OnNewSource(RTPSourceData*) {}
void RTPSession::OnRemoveSource(RTPSourceData*) {}
void RTPSession::OnTimeout(RTPSourceData*) {}
void RTPSession::OnBYETimeout(RTPSourceData*) {}
void RTPSession::OnAPPPacket(RTCPAPPPacket*, double, const RTPIPv4Address*) {}
void RTPSession::OnUnknownPacketType(RTCPPacket*, double, const RTPIPv4Address*) {}
void RTPSession::OnUnknownPacketFormat(RTCPPacket*, double, const RTPIPv4Address*) {}
void RTPSession::OnReceiverEstimate(uint32_t, uint64_t, const std::vector<uint32_t>&, double, const RTPIPv4Address*) {}

void RTPSession::OnFeedback(RTCPFeedbackKind, uint32_t, uint32_t, const uint16_t*, size_t, double,
                            const RTPIPv4Address*) {}
void RTPSession::OnNoteTimeout(RTPSourceData*) {}
void RTPSession::OnBYEPacket(RTPSourceData*) {}
void RTPSession::OnSendRTCPCompoundPacket(RTCPCompoundPacket*) {}
void RTPSession::OnPacketSent(const uint8_t*, size_t, uint16_t, double, const RTPIPv4Address*) {}
bool RTPSession::OnRawPacket(RTPRawPacket*) { return true; }
void RTPSession::OnPollThreadError(int) {}
void RTPSession::OnPollThreadStep() {}
double RTPSession::PollWaitSeconds(double seconds) { return seconds; }
void RTPSession::OnClosing() {}

}  // namespace rtp
