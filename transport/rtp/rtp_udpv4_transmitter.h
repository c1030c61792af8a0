// The UDP/IPv4 sockets of one session: RTP on the even port base, RTCP on
// the next port, the destination list every media and control packet goes
// to, and a wake-up descriptor that ends a wait early. Sends may come from
// any thread; the destination lists and packet size are under one lock.
#pragma once

#include "transport/rtp/rtp_defaults.h"
#include "transport/rtp/rtp_ipv4_address.h"
#include "transport/rtp/rtp_raw_packet.h"
#include "transport/rtp/rtp_udpv4_transmission_params.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <span>
#include <vector>

namespace rtp {

// Carries the datagrams for some destinations another way (through a relay,
// from the same socket). Called with the transmitter's lock held: it must
// not call the transmitter back, except SendPieces.
class RTPSendRoute {
public:
    // True when the route took the datagram (sent or dropped it); false
    // when it goes straight to `destination`.
    virtual bool Divert(bool rtpChannel, std::span<const uint8_t> datagram, const RTPIPv4Address& destination) = 0;

protected:
    ~RTPSendRoute() = default;
};

// The longest datagram taken from each socket; longer ones are dropped.
struct RTPReceiveLimits {
    size_t rtpBytes;
    size_t rtcpBytes;
};

// Datagrams that come another way than the two sockets (a relay's stream
// connections): the wait watches its descriptors too, and GetNextPacket
// takes from it after the sockets. Called on the polling thread only,
// without the transmitter's lock.
class RTPDatagramSource {
public:
    static constexpr size_t kMaximumDescriptors = 4;
    // Fills up to kMaximumDescriptors entries (descriptor and events wanted)
    // and returns their count.
    virtual size_t PollDescriptors(pollfd* descriptors) = 0;
    // True when a datagram is waiting already: the wait then does not block.
    virtual bool HasWaiting() = 0;
    // One waiting datagram without blocking, within the limits (longer ones
    // are dropped); false when none is waiting.
    virtual bool NextDatagram(RTPRawPacket* into, const RTPReceiveLimits& limits, double receiveTime) = 0;

protected:
    ~RTPDatagramSource() = default;
};

class RTPUDPv4Transmitter {
public:
    RTPUDPv4Transmitter() = default;
    ~RTPUDPv4Transmitter();
    RTPUDPv4Transmitter(const RTPUDPv4Transmitter&) = delete;
    RTPUDPv4Transmitter& operator=(const RTPUDPv4Transmitter&) = delete;

    // Opens and binds both sockets (no address reuse, so a busy port fails
    // with kErrorCannotBindRTPSocket or kErrorCannotBindRTCPSocket).
    int Create(size_t maximumPacketSize, const RTPReceiveLimits& receiveLimits,
               const RTPUDPv4TransmissionParams& params);
    // Closes the sockets and forgets the destinations. Harmless when not created.
    void Destroy();
    bool IsCreated() const { return rtpSocket_ >= 0; }

    uint16_t GetPortbase() const { return portBase_; }
    // Whether (address, port) is one of this transmitter's own sockets as
    // seen on one of this host's interface addresses.
    bool IsOwnAddress(const RTPIPv4Address& address, bool rtpChannel) const;

    // To every destination (RTP to its port, RTCP to its port + 1).
    int SendRTPData(const void* data, size_t length);
    // One RTP packet to one address, from the RTP socket.
    int SendRTPDataTo(const void* data, size_t length, const RTPIPv4Address& destination);
    int SendRTCPData(const void* data, size_t length);

    int AddDestination(const RTPIPv4Address& address);
    int DeleteDestination(const RTPIPv4Address& address);
    void ClearDestinations();
    size_t GetDestinationCount() const;

    // The destinations RTP data goes to (the held ones left out).
    std::vector<RTPIPv4Address> RtpDestinations() const;
    // The destinations an RTP packet did not reach: all but `only` when it
    // went to one alone, else the held ones.
    std::vector<RTPIPv4Address> Unreached(const RTPIPv4Address* only) const;
    // RTP data skips these destinations (RTCP still goes to them); any thread.
    void SetHeldDestinations(std::vector<RTPIPv4Address> held);
    // The IPv4 type-of-service byte (DSCP << 2) on both sockets.
    int SetTypeOfService(int tos);

    int SetMaximumPacketSize(size_t bytes);
    size_t GetMaximumPacketSize() const;

    // Waits up to `seconds` for a datagram on either socket or a wake-up.
    // Sets *dataAvailable when a datagram is waiting.
    int WaitForIncomingData(double seconds, bool* dataAvailable);
    // Ends the current or next wait at once (any thread).
    void AbortWait();
    // Takes one waiting datagram without blocking, RTCP socket first, the
    // datagram source last, dropping those beyond the receive limits on the way. Returns false when
    // none is waiting (or only too many oversized ones were).
    bool GetNextPacket(RTPRawPacket* into, double receiveTime);

    // Bytes that are not RTP, from the RTP socket (rtpChannel) or the RTCP
    // socket, to a host-order address and port.
    int SendRawData(bool rtpChannel, const void* data, size_t length, uint32_t address, uint16_t port);

    // Every later send passes `route` first (null: none). Set while nothing sends.
    void SetSendRoute(RTPSendRoute* route);
    // Every later wait and receive includes `source` (null: none). Set before
    // the polling thread starts.
    void SetDatagramSource(RTPDatagramSource* source) { source_ = source; }
    // The pieces back to back as one datagram (joined on the stack when
    // small, gathered by the kernel when not), without the lock: only for the route and the poll thread, while the
    // sockets are open. False when nothing was sent.
    bool SendPieces(bool rtpChannel, const RTPIPv4Address& destination,
                    std::span<const std::span<const uint8_t>> pieces);

private:
    int SendTo(int socket, const void* data, size_t length, uint32_t address, uint16_t port) const;
    int SendToAll(bool rtpChannel, const void* data, size_t length);
    bool ReceiveFrom(int socket, bool isRTP, RTPRawPacket* into, double receiveTime);
    void CloseAll();

    int rtpSocket_ = -1;
    int rtcpSocket_ = -1;
    int wakeupFd_ = -1;
    uint16_t portBase_ = 0;
    RTPReceiveLimits receiveLimits_{kMaximumDatagramBytes, kMaximumDatagramBytes};
    std::vector<uint32_t> localAddresses_;

    RTPSendRoute* route_ = nullptr;
    RTPDatagramSource* source_ = nullptr;
    mutable std::mutex mutex_;  // destinations_ and maximumPacketSize_
    std::vector<RTPIPv4Address> destinations_;
    std::vector<RTPIPv4Address> held_;
    size_t maximumPacketSize_ = 0;
};

}  // namespace rtp
