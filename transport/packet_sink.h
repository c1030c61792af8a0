// What the transmission calls: the per-user packet sinks it delivers received
// packets to, and the window messages it posts, handed to it by the engine.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

namespace rtp {
class RTPPacket;
}

// Gives received packets back to the session that produced them. The
// transmission implements it; its two operations open its table.
struct ITavolinPacketReleaser {
    virtual void DeleteVideoPacket(rtp::RTPPacket* packet) = 0;
    virtual void DeleteAudioPacket(rtp::RTPPacket* packet) = 0;
};

// Per-user delivery of received packets (implemented by the user record).
struct ITavolinPacketSink {
    // The sink owns the packet from this call on and gives it back through
    // the releaser's DeleteVideoPacket.
    virtual void OnVideoPacket(int userId, rtp::RTPPacket* packet) = 0;
    // The sink only reads the payload during the call.
    virtual void OnAudioPacket(int userId, const uint8_t* payload, size_t length) = 0;
    virtual void SetTransmission(ITavolinPacketReleaser* transmission) = 0;
    // Gives back, through the releaser, every packet the sink still holds.
    virtual void ReleaseHeldPackets() = 0;
};

// What the transmission tells its owner about its peers, on the window thread.
struct ITransmissionObserver {
    // The peer answered a greeting of this medium for the first time.
    virtual void OnPeerGreeted(int userId, bool video) = 0;
    // Media to the peer now goes to its local pair.
    virtual void OnPeerSwitchedToLocal(int userId) = 0;
};

// Posted with the public-address messages; allocated by the poster with new,
// freed (delete) by the window procedure.
struct PublicAddressRecord {
    uint32_t address;
    uint16_t port;
};

// The messages the transmission posts to its window: one per received packet
// of each medium (lParam: the transmission), and one per learned public
// address (wParam: a PublicAddressRecord, lParam: `context`).
struct TransmissionMessages {
    UINT audioReceived;
    UINT videoReceived;
    UINT audioPublicAddress;
    UINT videoPublicAddress;
    void* context;
};
