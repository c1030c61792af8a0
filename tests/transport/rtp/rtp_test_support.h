// Helpers for the RTP layer tests: a clock and random source the test
// drives, sessions created on free loopback ports, a session that records
// its callbacks, and crafted RTP/RTCP datagrams as a remote peer sends them.
#pragma once

#include "transport/rtp/rtp_clock.h"
#include "transport/rtp/rtp_random.h"
#include "transport/rtp/rtp_session.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace rtp_testing {

constexpr uint32_t kLoopback = 0x7F000001;

class FakeClock : public rtp::RTPClock {
public:
    explicit FakeClock(double start = 1.7e9) : now_(start) {}
    double Now() override { return now_.load(); }
    void Advance(double seconds) { now_ = now_.load() + seconds; }
    void Set(double now) { now_ = now; }

private:
    std::atomic<double> now_;
};

// Random doubles are always `fraction` (0.5: the randomisation factor is
// exactly 1); 32-bit values count up from `first`.
class FixedRandom : public rtp::RTPRandom {
public:
    explicit FixedRandom(uint32_t first = 0x1000, double fraction = 0.5) : next_(first), fraction_(fraction) {}
    uint32_t GetRandom32() override { return next_++; }
    double GetRandomDouble() override { return fraction_; }

private:
    std::atomic<uint32_t> next_;
    double fraction_;
};

// Session parameters for tests: 8 kHz timestamps, the given clock/random
// (may be null), the poll thread as asked.
rtp::RTPSessionParams TestParams(rtp::RTPClock* clock, rtp::RTPRandom* random, bool pollThread);

// Creates the session on 127.0.0.1 at a free even port base; returns the
// base or 0 after a bounded number of tries.
uint16_t CreateOnFreePort(rtp::RTPSession& session, const rtp::RTPSessionParams& params);

// Keeps 127.0.0.1:port taken while it lives.
class PortBlocker {
public:
    explicit PortBlocker(uint16_t port);
    ~PortBlocker();
    bool IsBound() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// An RTP datagram as a remote participant sends it.
std::vector<uint8_t> RtpDatagram(uint32_t ssrc, uint16_t sequence, uint32_t timestamp, const std::string& payload,
                                 uint8_t payloadType = 0);

// Records the callbacks; the recorded state is guarded for the poll thread.
class RecordingSession : public rtp::RTPSession {
public:
    ~RecordingSession() override { Destroy(); }

    // While set, RTP datagrams are recorded in rawPackets and dropped by the
    // receive filter.
    std::atomic<bool> divertRTP{false};

    std::mutex mutex;
    std::vector<std::vector<uint8_t>> rawPackets;
    std::vector<uint32_t> newSources, removedSources, timeouts, byeTimeouts, byePackets, noteTimeouts;
    std::vector<uint32_t> ssrcCollisions;  // 0 for a collision with our own SSRC
    int cnameCollisions = 0;
    int rtcpCompoundsReceived = 0;
    int senderReportsSent = 0, receiverReportsSent = 0, byesSent = 0;
    int appPackets = 0, unknownTypes = 0, unknownFormats = 0;
    std::atomic<int> pollSteps{0};

protected:
    bool OnRawPacket(rtp::RTPRawPacket* packet) override;
    void OnRTCPCompoundPacket(rtp::RTCPCompoundPacket* packet, double, const rtp::RTPIPv4Address*) override;
    void OnSendRTCPCompoundPacket(rtp::RTCPCompoundPacket* packet) override;
    void OnSSRCCollision(rtp::RTPSourceData* source, const rtp::RTPIPv4Address*, bool) override;
    void OnCNAMECollision(rtp::RTPSourceData*, const rtp::RTPIPv4Address*, const uint8_t*, size_t) override;
    void OnNewSource(rtp::RTPSourceData* source) override;
    void OnRemoveSource(rtp::RTPSourceData* source) override;
    void OnTimeout(rtp::RTPSourceData* source) override;
    void OnBYETimeout(rtp::RTPSourceData* source) override;
    void OnBYEPacket(rtp::RTPSourceData* source) override;
    void OnNoteTimeout(rtp::RTPSourceData* source) override;
    void OnAPPPacket(rtp::RTCPAPPPacket*, double, const rtp::RTPIPv4Address*) override;
    void OnUnknownPacketType(rtp::RTCPPacket*, double, const rtp::RTPIPv4Address*) override;
    void OnUnknownPacketFormat(rtp::RTCPPacket*, double, const rtp::RTPIPv4Address*) override;
    void OnPollThreadStep() override { ++pollSteps; }
};

// Polls a session without a poll thread until `done` holds, waiting on its
// sockets between rounds; bounded by timeoutMs of real time.
template <typename Done>
bool PollUntil(rtp::RTPSession& session, Done done, int timeoutMs = 1000) {
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        session.Poll();
        if (done()) return true;
        session.WaitForIncomingData(0.01);
    }
    return false;
}

}  // namespace rtp_testing
