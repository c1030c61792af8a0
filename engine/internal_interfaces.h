// Interfaces between the engine's own parts; hosts never see these.
#pragma once

#include <tavolin/tavolin.h>

#include <cstddef>
#include <cstdint>

namespace rtp {
class RTPPacket;
}

// The encoder hands every coded frame to this sink, synchronously.
struct ITavolinVideoSink {
    virtual void OnEncodedVideo(const uint8_t* data, int keyFrame, int length) = 0;
};

// The decoder hands every fully decoded picture to this sink.
struct ITavolinFrameSink {
    virtual void OnDecodedFrame(const uint8_t* picture, int consumed) = 0;
};

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
};

// Private messages of the engine's message window.
constexpr unsigned MSG_AUDIO_RECEIVED = 6440;
constexpr unsigned MSG_VIDEO_RECEIVED = 6441;
constexpr unsigned MSG_AUDIO_PUBLIC_ADDRESS = 6442;
constexpr unsigned MSG_VIDEO_PUBLIC_ADDRESS = 6443;
constexpr unsigned MSG_RESERVED = 8526;
constexpr unsigned MSG_FRAME_CAPTURED = 9161;

// Posted with 6442/6443; allocated by the poster with new, freed (delete) by
// the window procedure.
struct PublicAddressRecord {
    uint32_t address;
    uint16_t port;
};

// Every picture of the system: 160 x 120, BGR, bottom row first.
constexpr int kVideoWidth = 160;
constexpr int kVideoHeight = 120;
constexpr int kVideoFrameBytes = kVideoWidth * kVideoHeight * 3;
