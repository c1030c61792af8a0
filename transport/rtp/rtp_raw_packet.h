// One datagram as it came off a session's RTP or RTCP socket, before any
// RTP or RTCP parsing. The transmitter reuses one buffer for every datagram,
// so a raw packet is only valid during the call it is handed to.
#pragma once

#include "transport/rtp/rtp_ipv4_address.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rtp {

class RTPRawPacket {
public:
    // Writable so that a receiver may decode the bytes in place.
    uint8_t* GetData() { return buffer_.data() + offset_; }
    const uint8_t* GetData() const { return buffer_.data() + offset_; }
    size_t GetDataLength() const { return length_; }
    // Session clock time of the reception, in seconds.
    double GetReceiveTime() const { return receiveTime_; }
    const RTPIPv4Address& GetSenderAddress() const { return sender_; }
    // True: it came on the RTP socket; false: on the RTCP socket.
    bool IsRTP() const { return isRTP_; }
    // It came over a connection the datagram source keeps (a relay over
    // TCP), not as a datagram on the socket.
    bool CameOverConnection() const { return overConnection_; }

    // Filled by the transmitter.
    uint8_t* PrepareBuffer(size_t capacity);
    void SetReceived(size_t length, double receiveTime, const RTPIPv4Address& sender, bool isRTP);
    // By a datagram source, after SetReceived.
    void MarkOverConnection() { overConnection_ = true; }
    // What a relay carried inside this datagram: `bytes` (within GetData())
    // from `sender`, the peer that sent them. No copy is made.
    void NarrowTo(const uint8_t* bytes, size_t length, const RTPIPv4Address& sender);

private:
    std::vector<uint8_t> buffer_;
    size_t offset_ = 0;  // where the data begins in buffer_
    size_t length_ = 0;
    double receiveTime_ = 0;
    RTPIPv4Address sender_;
    bool isRTP_ = false;
    bool overConnection_ = false;
};

}  // namespace rtp
