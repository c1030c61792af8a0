// Socket settings of a session's UDP/IPv4 transmitter.
#pragma once

#include "transport/rtp/rtp_defaults.h"

#include <cstdint>

namespace rtp {

class RTPUDPv4TransmissionParams {
public:
    // RTP is bound to this even port, RTCP to the next one.
    void SetPortbase(uint16_t port) { portBase_ = port; }
    uint16_t GetPortbase() const { return portBase_; }
    // Host byte order; 0 binds to every interface.
    void SetBindIP(uint32_t ip) { bindIP_ = ip; }
    uint32_t GetBindIP() const { return bindIP_; }
    // Kept for multicast use; unicast sessions ignore it.
    void SetMulticastTTL(uint8_t ttl) { multicastTTL_ = ttl; }
    uint8_t GetMulticastTTL() const { return multicastTTL_; }
    void SetRTPSendBuffer(int bytes) { rtpSendBuffer_ = bytes; }
    int GetRTPSendBuffer() const { return rtpSendBuffer_; }
    void SetRTPReceiveBuffer(int bytes) { rtpReceiveBuffer_ = bytes; }
    int GetRTPReceiveBuffer() const { return rtpReceiveBuffer_; }
    void SetRTCPSendBuffer(int bytes) { rtcpSendBuffer_ = bytes; }
    int GetRTCPSendBuffer() const { return rtcpSendBuffer_; }
    void SetRTCPReceiveBuffer(int bytes) { rtcpReceiveBuffer_ = bytes; }
    int GetRTCPReceiveBuffer() const { return rtcpReceiveBuffer_; }

private:
    uint16_t portBase_ = kDefaultPortBase;
    uint32_t bindIP_ = kDefaultBindAddress;
    uint8_t multicastTTL_ = kDefaultMulticastTTL;
    int rtpSendBuffer_ = kDefaultSocketBufferBytes;
    int rtpReceiveBuffer_ = kDefaultSocketBufferBytes;
    int rtcpSendBuffer_ = kDefaultSocketBufferBytes;
    int rtcpReceiveBuffer_ = kDefaultSocketBufferBytes;
};

}  // namespace rtp
