// The transmission's RTP session: learns its public address from the address
// server before it accepts any RTP (until then everything on the RTP socket
// belongs to the address exchange), and hands received packets to its owner.
#pragma once

#include "transport/rtp/rtp_session.h"
#include "transport/sender_filter.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class CTavolinTransmission;

class CTavolinRTPSession : public rtp::RTPSession {
public:
    static constexpr int32_t kVoice = 0;
    static constexpr int32_t kVideo = 1;

    // Stops the poll thread while this object's overrides still exist.
    ~CTavolinRTPSession() override;

    // Sends the scrambled request with `data` as payload from the RTP socket,
    // unless the public address is known already.
    void RequestPublicAddress(uint32_t serverAddress, uint16_t serverPort, const void* data, size_t length);

    CTavolinTransmission* owner = nullptr;  // not owned
    int32_t kind = kVoice;

    // Address discovery state: the poll thread writes it, the owner's thread
    // reads it.
    std::atomic<uint32_t> publicAddress{0};
    std::atomic<uint16_t> publicPort{0};
    std::atomic<uint32_t> serverAddress{0};
    std::atomic<uint16_t> serverPort{0};
    std::atomic<bool> hasPublicAddress{false};

    // Once the public address is known, only players are heard.
    SenderFilter senders;

protected:
    bool OnRawPacket(rtp::RTPRawPacket* packet) override;
    void OnPollThreadStep() override;
    void OnFeedback(rtp::RTCPFeedbackKind kind, uint32_t senderSSRC, uint32_t mediaSSRC, const uint16_t* lost,
                    size_t lostCount, double receiveTime, const rtp::RTPIPv4Address* sender) override;
};
