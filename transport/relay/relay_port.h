// What the relay client needs of the socket it runs on, and what it tells.
// The socket's owner implements the port; the client calls it on the
// owner's thread, from within its own calls.
#pragma once

#include "transport/rtp/rtp_ipv4_address.h"

#include <cstdint>
#include <span>

namespace relay {

enum class RelayEventKind : uint8_t {
    kAllocated,             // address: the relayed address (see Allocation for the rest)
    kRedirected,            // address: the server now asked
    kAuthenticationFailed,  // the credentials were refused, or too long to send; nothing more is sent
    kRefused,               // an Allocate refused (errorCode), or a redirect not followed (300)
    kNewPortsNeeded,        // the server kept refusing this socket's address (437): use another socket
    kRequestTimedOut,       // method: the request given up
    kAllocationLost,        // a Refresh refused (errorCode): the relayed address is gone
    kServerSilent,          // nothing from the server while sending, not even to a Binding request
    kConnectionLost,        // over TCP: the connection to the server was refused or dropped
    kPeerRefused,           // method: CreatePermission or ChannelBind for address, refused (errorCode)
    kClosed,                // the allocation was released, or given up on
    kBindingAnswered,       // address: what the server sees as our address
};

struct RelayEvent {
    RelayEventKind kind;
    uint16_t method = 0;
    int errorCode = 0;
    rtp::RTPIPv4Address address;
};

// A datagram (or stream message) goes out as pieces sent back to back, so
// that media is framed without being copied.
using Piece = std::span<const uint8_t>;

class RelayPort {
public:
    // The pieces as one datagram to `server` over UDP, or appended whole to
    // the connection to it over TCP. False when nothing went: the client
    // never queues, so dropped media stays dropped and a request waits for
    // its next send.
    virtual bool SendToServer(const rtp::RTPIPv4Address& server, std::span<const Piece> pieces) = 0;
    virtual void OnRelayEvent(const RelayEvent& event) = 0;

protected:
    ~RelayPort() = default;
};

}  // namespace relay
